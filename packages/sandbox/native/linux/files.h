// The real file system behind the plan's FileView, and the one way the
// backend opens a path it is about to mount on or grant: every path it gets
// is canonical, so a symbolic link anywhere on the way means the path
// changed after the launcher resolved it, and the open fails.
#pragma once

#include <string>
#include <vector>

#include "base/result.h"
#include "base/unique_fd.h"
#include "linux/plan.h"

namespace kestrum::sandbox {

class SystemFileView : public FileView {
 public:
  EntryKind kind(const std::string& path) const override;
  std::vector<std::string> names(const std::string& folder) const override;
};

// An O_PATH descriptor for `path` (relative paths from `folder`), refusing
// symbolic links on the way. Fails with "<path>: <system error>".
Result<UniqueFd> open_path(const std::string& path, int folder = -100 /* AT_FDCWD */);

// "<what> <path>: <system error>" from errno.
std::string path_error(std::string_view what, const std::string& path);

}  // namespace kestrum::sandbox
