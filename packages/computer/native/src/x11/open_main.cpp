// kestrum-open-x11 -b <id>: the X11 counterpart of the program that opens an
// application by its identifier. Starts the desktop entry whose
// StartupWMClass (or file name) is the identifier, detached, and exits 0
// once it has started; exits 1 when no entry matches or its command cannot
// be found. Like an application a system launcher starts, it shares none of
// the server's streams: its standard streams are /dev/null.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "x11/desktop_entry.h"

extern char** environ;

namespace {

using kestrum::computer::x11::DesktopEntry;

int usage() {
  std::fputs("usage: kestrum-open-x11 -b <id>\n", stderr);
  return 2;
}

// Its own session, so that the application outlives the server and no
// signal meant for the server's group reaches it; /dev/null for its
// streams, so that it holds none of the server's pipes open.
int start_detached(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  posix_spawn_file_actions_t streams;
  posix_spawn_file_actions_init(&streams);
  posix_spawn_file_actions_addopen(&streams, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&streams, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&streams, 2, "/dev/null", O_WRONLY, 0);
  pid_t child = -1;
  const int error = posix_spawnp(&child, argv[0], &streams, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&streams);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) {
    std::fprintf(stderr, "kestrum-open-x11: %s: %s\n", argv[0], std::strerror(error));
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || std::string(argv[1]) != "-b") return usage();
  const std::string id = argv[2];
  using namespace kestrum::computer::x11;
  const std::vector<DesktopEntry> entries = load_entries(entry_folders(
      std::getenv("XDG_DATA_HOME"), std::getenv("HOME"), std::getenv("XDG_DATA_DIRS")));
  const DesktopEntry* entry = match_entry(entries, id);
  if (!entry) {
    std::fprintf(stderr, "kestrum-open-x11: no desktop entry for %s\n", id.c_str());
    return 1;
  }
  auto arguments = exec_arguments(*entry);
  if (!arguments) {
    std::fprintf(stderr, "kestrum-open-x11: %s\n", arguments.error().c_str());
    return 1;
  }
  return start_detached(std::move(*arguments));
}
