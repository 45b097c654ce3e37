#include "linux/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <memory>

#include "base/system_error.h"
#include "policy/path.h"

namespace kestrum::sandbox {

EntryKind SystemFileView::kind(const std::string& path) const {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return EntryKind::kMissing;
  if (S_ISLNK(info.st_mode)) return EntryKind::kLink;
  return S_ISDIR(info.st_mode) ? EntryKind::kFolder : EntryKind::kFile;
}

std::vector<std::string> SystemFileView::names(const std::string& folder) const {
  std::vector<std::string> names;
  struct Closer {
    void operator()(DIR* dir) const { ::closedir(dir); }
  };
  const std::unique_ptr<DIR, Closer> dir(::opendir(folder.c_str()));
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  return names;
}

Result<UniqueFd> open_path(const std::string& path, int folder) {
  open_how how{};
  how.flags = O_PATH | O_CLOEXEC | O_NOFOLLOW;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  UniqueFd fd(static_cast<int>(::syscall(SYS_openat2, folder, path.c_str(), &how, sizeof how)));
  if (!fd) return fail(path_error("cannot open", path));
  return fd;
}

std::string path_error(std::string_view what, const std::string& path) {
  const std::string reason = last_system_error_text();
  return std::string(what) + " " + display_text(path) + ": " + reason;
}

}  // namespace kestrum::sandbox
