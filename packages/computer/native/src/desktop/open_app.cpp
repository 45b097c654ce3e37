#include "desktop/open_app.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "base/system_error.h"

extern char** environ;

namespace kestrum::computer {
namespace {

#if defined(__APPLE__)
// The server's other threads open descriptors at any time, and on Apple a
// descriptor is marked close-on-exec only just after it is made: in that
// gap a spawn would carry it into the open program. So only the three
// standard descriptors pass, whatever their flags.
constexpr short kSpawnFlags =
    POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_CLOEXEC_DEFAULT;
#else
constexpr short kSpawnFlags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#endif

// How the open program starts, owned for one spawn. The server ignores
// SIGPIPE and its threads may block signals; the program starts with the
// ordinary dispositions and an empty mask instead. It reads nothing of the
// agent's requests and writes nothing into the answer frames: its standard
// input is /dev/null and its standard output goes to the server's standard
// error, where its messages stay visible in the log.
class SpawnSetup {
 public:
  SpawnSetup()
      : attributes_ready_(posix_spawnattr_init(&attributes_) == 0),
        actions_ready_(posix_spawn_file_actions_init(&actions_) == 0) {
    // Running out of memory is the only way initialising can fail.
    error_ = attributes_ready_ && actions_ready_ ? 0 : ENOMEM;
    sigset_t none;
    sigset_t pipe;
    sigemptyset(&none);
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    if (error_ == 0) error_ = posix_spawnattr_setsigmask(&attributes_, &none);
    if (error_ == 0) error_ = posix_spawnattr_setsigdefault(&attributes_, &pipe);
    if (error_ == 0) error_ = posix_spawnattr_setflags(&attributes_, kSpawnFlags);
    if (error_ == 0) {
      error_ = posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    if (error_ == 0)
      error_ = posix_spawn_file_actions_adddup2(&actions_, STDERR_FILENO, STDOUT_FILENO);
#if defined(__APPLE__)
    if (error_ == 0) error_ = posix_spawn_file_actions_addinherit_np(&actions_, STDERR_FILENO);
#endif
  }
  ~SpawnSetup() {
    if (attributes_ready_) posix_spawnattr_destroy(&attributes_);
    if (actions_ready_) posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  int error() const { return error_; }
  const posix_spawnattr_t* attributes() const { return &attributes_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }

 private:
  posix_spawnattr_t attributes_;
  posix_spawn_file_actions_t actions_;
  bool attributes_ready_ = false;
  bool actions_ready_ = false;
  int error_ = 0;
};

// True when the program exited with status 0; the error is the system's
// text for a start or wait that failed.
Result<bool> run_to_end(const std::string& program, const std::string& app) {
  const SpawnSetup setup;
  if (setup.error() != 0) return fail(system_error_text(setup.error()));
  std::string arg0 = program;
  std::string flag = "-b";
  std::string identifier = app;
  char* const argv[] = {arg0.data(), flag.data(), identifier.data(), nullptr};
  pid_t child = -1;
  const int spawned =
      posix_spawn(&child, program.c_str(), setup.actions(), setup.attributes(), argv, environ);
  if (spawned != 0) return fail(system_error_text(spawned));
  int status = 0;
  while (waitpid(child, &status, 0) == -1) {
    if (errno != EINTR) return fail(last_system_error_text());
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

Status open_app(Desktop& desktop, const std::string& app) {
  auto ended = run_to_end(desktop.open_program(), app);
  if (!ended) return fail("could not open " + app + ": " + ended.error());
  if (!*ended) return fail(app + " is not installed");
  return {};
}

}  // namespace kestrum::computer
