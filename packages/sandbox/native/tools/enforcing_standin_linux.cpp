// A test stand-in for the sandbox tool that enforces the part of a profile
// the probe checks, with Linux mount namespaces: every "(deny file-write*
// (subpath ...))" folder becomes read-only and every "(deny file-read*
// file-write* (subpath ...))" entry is covered by an empty, read-only one.
// Needs the right to create a mount namespace (root here). For tests only:
// it is not a sandbox.
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The quoted strings of one profile line, unescaped.
std::vector<std::string> quoted_items(const std::string& line) {
  std::vector<std::string> items;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '"') continue;
    std::string item;
    for (++i; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) ++i;
      item.push_back(line[i]);
    }
    items.push_back(item);
  }
  return items;
}

bool fail(const char* what, const std::string& path) {
  std::fprintf(stderr, "enforcer: %s %s: %s\n", what, path.c_str(), std::strerror(errno));
  return false;
}

bool make_read_only(const std::string& path) {
  if (::mount(path.c_str(), path.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
    return fail("bind", path);
  if (::mount(nullptr, path.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
    return fail("remount", path);
  }
  return true;
}

bool hide(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return true;
  if (S_ISDIR(info.st_mode)) {
    if (::mount("none", path.c_str(), "tmpfs", MS_RDONLY, "size=4k") != 0)
      return fail("cover", path);
    return true;
  }
  if (::mount("/dev/null", path.c_str(), nullptr, MS_BIND, nullptr) != 0)
    return fail("cover", path);
  return make_read_only(path);
}

bool enforce(const std::string& profile) {
  if (::unshare(CLONE_NEWNS) != 0) return fail("unshare", "");
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return fail("private", "/");
  std::istringstream lines(profile);
  for (std::string line; std::getline(lines, line);) {
    const bool deny_write = line.starts_with("(deny file-write* ");
    const bool deny_read = line.starts_with("(deny file-read* file-write* ");
    if (!deny_write && !deny_read) continue;
    for (const std::string& path : quoted_items(line)) {
      if (!(deny_read ? hide(path) : make_read_only(path))) return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || std::strcmp(argv[1], "-p") != 0) {
    std::fprintf(stderr, "usage: %s -p <profile> <program> [args...]\n", argv[0]);
    return 64;
  }
  if (!enforce(argv[2])) return 71;
  ::execvp(argv[3], argv + 3);
  std::fprintf(stderr, "enforcer: %s: %s\n", argv[3], std::strerror(errno));
  return 127;
}
