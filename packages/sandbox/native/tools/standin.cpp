// A stand-in for the macOS sandbox tool on machines that have none. It takes
// the same command line ("-p" PROFILE PROGRAM [ARGS...]) and runs PROGRAM
// with no sandbox at all: nothing in the profile is enforced.
//
// Built with KESTRUM_STANDIN_RECORD, it first writes what it received to
// descriptor 3 (when open) so that tests can see exactly what the launcher
// handed over: one record per line, "<kind> <length> <bytes>", kinds pid,
// cwd, sigpipe, arg and env.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "base/io.h"

extern char** environ;

namespace {

#ifdef KESTRUM_STANDIN_RECORD
void append(std::string& out, std::string_view kind, std::string_view bytes) {
  out.append(kind).append(" ").append(std::to_string(bytes.size())).append(" ");
  out.append(bytes).append("\n");
}

void record(int argc, char** argv) {
  constexpr int kRecordFd = 3;
  if (::fcntl(kRecordFd, F_GETFD) == -1) return;
  std::string out;
  append(out, "pid", std::to_string(::getpid()));
  char cwd[4096] = {};
  append(out, "cwd", ::getcwd(cwd, sizeof cwd) ? cwd : "?");
  struct sigaction action = {};
  ::sigaction(SIGPIPE, nullptr, &action);
  append(out, "sigpipe", action.sa_handler == SIG_IGN ? "ignored" : "default");
  for (int i = 0; i < argc; ++i) append(out, "arg", argv[i]);
  for (char** entry = environ; *entry; ++entry) append(out, "env", *entry);
  (void)kestrum::write_all(kRecordFd, out);
  ::close(kRecordFd);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || std::strcmp(argv[1], "-p") != 0) {
    std::fprintf(stderr, "usage: %s -p <profile> <program> [args...]\n", argv[0]);
    return 64;
  }
#ifdef KESTRUM_STANDIN_RECORD
  record(argc, argv);
#endif
  ::execvp(argv[3], argv + 3);
  std::fprintf(stderr, "%s: %s: %s\n", argv[0], argv[3], std::strerror(errno));
  return errno == ENOENT ? 127 : 126;
}
