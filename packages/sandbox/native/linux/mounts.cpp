#include "linux/mounts.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "base/system_error.h"
#include "linux/files.h"
#include "policy/path.h"

namespace kestrum::sandbox {
namespace {

constexpr unsigned kCloneFlags = OPEN_TREE_CLONE | OPEN_TREE_CLOEXEC | AT_RECURSIVE;
constexpr std::uint64_t kInert = MOUNT_ATTR_NOSUID | MOUNT_ATTR_NODEV;
// Traversal only: a folder on the way to an exception can be passed but not
// listed, like the metadata-only rule for the exception's ancestors.
constexpr mode_t kPassage = 0111;
constexpr mode_t kClosed = 0;

Status set_attributes(int fd, const char* path, unsigned flags, std::uint64_t set,
                      std::uint64_t clear, const std::string& shown) {
  mount_attr attr{};
  attr.attr_set = set;
  attr.attr_clr = clear;
  if (::mount_setattr(fd, path, flags, &attr, sizeof attr) != 0)
    return fail(path_error("cannot change the mount of", shown));
  return {};
}

Result<UniqueFd> clone_tree(const std::string& path) {
  auto at = open_path(path);
  if (!at) return fail(at.take_error());
  UniqueFd tree(::open_tree(at->get(), "", kCloneFlags | AT_EMPTY_PATH));
  if (!tree) return fail(path_error("cannot copy the mount of", path));
  return tree;
}

// The tree is moved, so `tree` then refers to the attached mount.
Status attach(const UniqueFd& tree, const std::string& path) {
  auto target = open_path(path);
  if (!target) return fail(target.take_error());
  if (::move_mount(tree.get(), "", target->get(), "",
                   MOVE_MOUNT_F_EMPTY_PATH | MOVE_MOUNT_T_EMPTY_PATH) != 0) {
    return fail(path_error("cannot mount on", path));
  }
  return {};
}

Status attach_read_only(const std::string& path) {
  auto tree = clone_tree(path);
  if (!tree) return fail(tree.take_error());
  const auto status =
      set_attributes(tree->get(), "", AT_EMPTY_PATH | AT_RECURSIVE, MOUNT_ATTR_RDONLY, 0, path);
  if (!status) return status;
  return attach(*tree, path);
}

constexpr std::string_view kSharedMemory = "/dev/shm";
// POSIX shared memory of the command's own: like a container's, enough for
// browsers and test runners, but bounded, since it is held in memory.
constexpr const char* kSharedMemorySize = "256m";

// A fresh tmpfs, writable by everyone like the one it replaces, with set-user-ID
// bits and device nodes inert.
Status mount_shared_memory() {
  UniqueFd context(::fsopen("tmpfs", FSOPEN_CLOEXEC));
  if (!context ||
      ::fsconfig(context.get(), FSCONFIG_SET_STRING, "size", kSharedMemorySize, 0) != 0 ||
      ::fsconfig(context.get(), FSCONFIG_SET_STRING, "mode", "1777", 0) != 0 ||
      ::fsconfig(context.get(), FSCONFIG_CMD_CREATE, nullptr, nullptr, 0) != 0) {
    return fail(path_error("cannot make", std::string(kSharedMemory)));
  }
  const UniqueFd tree(::fsmount(context.get(), FSMOUNT_CLOEXEC, kInert));
  if (!tree) return fail(path_error("cannot make", std::string(kSharedMemory)));
  return attach(tree, std::string(kSharedMemory));
}

// A private, detached tmpfs holding the covers; the command can only ever
// reach the read-only copies of its parts mounted over hidden paths.
class Covers {
 public:
  Result<UniqueFd> file() {
    if (auto status = open(); !status) return fail(status.take_error());
    if (!blank_made_) {
      UniqueFd blank(::openat(root_.get(), "blank", O_CREAT | O_WRONLY | O_CLOEXEC, kClosed));
      if (!blank || ::fchmod(blank.get(), kClosed) != 0)
        return fail("cannot make a cover: " + last_system_error_text());
      blank_made_ = true;
    }
    return copy("blank");
  }

  Result<UniqueFd> folder(const std::vector<std::string>& passages) {
    if (auto status = open(); !status) return fail(status.take_error());
    const std::string name = "cover" + std::to_string(next_++);
    if (auto status = make(name, passages.empty() ? kClosed : kPassage); !status)
      return fail(status.take_error());
    for (const std::string& passage : passages) {
      std::string path = name;
      for (std::size_t start = 0; start <= passage.size();) {
        const std::size_t end = std::min(passage.find('/', start), passage.size());
        path.append("/").append(passage, start, end - start);
        if (auto status = make(path, end == passage.size() ? kClosed : kPassage); !status)
          return fail(status.take_error());
        start = end + 1;
      }
    }
    return copy(name);
  }

 private:
  Status open() {
    if (root_) return {};
    UniqueFd context(::fsopen("tmpfs", FSOPEN_CLOEXEC));
    if (!context) return fail("cannot make a cover: " + last_system_error_text());
    if (::fsconfig(context.get(), FSCONFIG_SET_STRING, "size", "64k", 0) != 0 ||
        ::fsconfig(context.get(), FSCONFIG_CMD_CREATE, nullptr, nullptr, 0) != 0) {
      return fail("cannot make a cover: " + last_system_error_text());
    }
    root_.reset(::fsmount(context.get(), FSMOUNT_CLOEXEC, MOUNT_ATTR_NOEXEC | kInert));
    if (!root_) return fail("cannot make a cover: " + last_system_error_text());
    return {};
  }

  Status make(const std::string& path, mode_t mode) {
    const bool made = ::mkdirat(root_.get(), path.c_str(), mode) == 0 || errno == EEXIST;
    if (!made || ::fchmodat(root_.get(), path.c_str(), mode, 0) != 0)
      return fail("cannot make a cover: " + last_system_error_text());
    return {};
  }

  Result<UniqueFd> copy(const std::string& name) {
    UniqueFd part(::open_tree(root_.get(), name.c_str(), OPEN_TREE_CLONE | OPEN_TREE_CLOEXEC));
    if (!part) return fail("cannot make a cover: " + last_system_error_text());
    mount_attr attr{};
    attr.attr_set = MOUNT_ATTR_RDONLY;
    if (::mount_setattr(part.get(), "", AT_EMPTY_PATH, &attr, sizeof attr) != 0)
      return fail("cannot make a cover: " + last_system_error_text());
    return part;
  }

  UniqueFd root_;
  bool blank_made_ = false;
  int next_ = 0;
};

// The folder keeps what is in it but can neither gain nor lose an entry:
// its mount turns read-only and every entry is mounted back over itself.
Status freeze(const std::string& folder, const FileView& files) {
  std::vector<std::pair<std::string, UniqueFd>> entries;
  for (const std::string& name : files.names(folder)) {
    const std::string path = folder + "/" + name;
    if (files.kind(path) == EntryKind::kLink) continue;  // a read-only folder keeps its links
    auto tree = clone_tree(path);
    if (!tree) return fail(tree.take_error());
    entries.emplace_back(path, std::move(tree).value());
  }
  auto tree = clone_tree(folder);
  if (!tree) return fail(tree.take_error());
  if (auto status = set_attributes(tree->get(), "", AT_EMPTY_PATH, MOUNT_ATTR_RDONLY, 0, folder);
      !status) {
    return status;
  }
  if (auto status = attach(*tree, folder); !status) return status;
  for (const auto& [path, entry] : entries) {
    if (auto status = attach(entry, path); !status) return status;
  }
  return {};
}

class Builder {
 public:
  explicit Builder(const MountPlan& plan) : plan_(plan) {}

  Status build() {
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      return fail("cannot make the mounts private: " + last_system_error_text());
    // Copies of the writable paths and exceptions must be taken before
    // anything changes: they are put back exactly as they were.
    for (const std::string& path : plan_.writable) {
      if (auto status = keep(path); !status) return status;
    }
    for (const MountStep& step : plan_.steps) {
      if (step.action != MountAction::kReopen) continue;
      if (auto status = keep(step.path); !status) return status;
    }
    if (auto status = close_tree(); !status) return status;
    for (const std::string& path : plan_.writable) {
      if (auto status = put_back(path, true); !status) return status;
    }
    if (plan_.private_shared_memory) {
      if (auto status = mount_shared_memory(); !status) return status;
    }
    for (const MountStep& step : plan_.steps) {
      if (auto status = apply(step); !status) return status;
    }
    return {};
  }

 private:
  Status keep(const std::string& path) {
    if (kept_.count(path)) return {};
    auto tree = clone_tree(path);
    if (!tree) return fail(tree.take_error());
    kept_.emplace(path, std::move(tree).value());
    return {};
  }

  // Device nodes only work under /dev, and set-user-ID bits nowhere.
  Status close_tree() {
    const std::uint64_t set = kInert | (plan_.read_only_tree ? MOUNT_ATTR_RDONLY : 0);
    if (auto status = set_attributes(AT_FDCWD, "/", AT_RECURSIVE, set, 0, "/"); !status)
      return status;
    return set_attributes(AT_FDCWD, "/dev", AT_RECURSIVE, 0, MOUNT_ATTR_NODEV, "/dev");
  }

  Status put_back(const std::string& path, bool writable) {
    const UniqueFd& tree = kept_.at(path);
    const std::uint64_t set = MOUNT_ATTR_NOSUID | (inside(path, "/dev") ? 0 : MOUNT_ATTR_NODEV) |
                              (writable ? 0 : MOUNT_ATTR_RDONLY);
    if (auto status = set_attributes(tree.get(), "", AT_EMPTY_PATH | AT_RECURSIVE, set, 0, path);
        !status) {
      return status;
    }
    return attach(tree, path);
  }

  Status apply(const MountStep& step) {
    switch (step.action) {
      case MountAction::kFreeze:
        return freeze(step.path, files_);
      case MountAction::kReadOnly:
        if (step.path == "/")
          return set_attributes(AT_FDCWD, "/", AT_RECURSIVE, MOUNT_ATTR_RDONLY, 0, "/");
        return attach_read_only(step.path);
      case MountAction::kHideFile:
        return cover(covers_.file(), step.path);
      case MountAction::kHideFolder:
        return cover(covers_.folder(step.passages), step.path);
      case MountAction::kReopen:
        return put_back(step.path, step.writable);
      case MountAction::kPin:
        return pin(step.path);
    }
    return {};
  }

  // A mount point cannot be renamed or removed; the copy keeps the
  // folder's mount attributes, writable included.
  Status pin(const std::string& path) {
    auto tree = clone_tree(path);
    if (!tree) return fail(tree.take_error());
    return attach(*tree, path);
  }

  Status cover(Result<UniqueFd> part, const std::string& path) {
    if (!part) return fail(part.take_error());
    return attach(*part, path);
  }

  const MountPlan& plan_;
  SystemFileView files_;
  Covers covers_;
  std::map<std::string, UniqueFd> kept_;
};

}  // namespace

Status apply_mounts(const MountPlan& plan) { return Builder(plan).build(); }

Status mount_own_proc() {
  UniqueFd context(::fsopen("proc", FSOPEN_CLOEXEC));
  if (!context || ::fsconfig(context.get(), FSCONFIG_CMD_CREATE, nullptr, nullptr, 0) != 0)
    return fail(path_error("cannot make", "/proc"));
  const UniqueFd tree(
      ::fsmount(context.get(), FSMOUNT_CLOEXEC, kInert | MOUNT_ATTR_NOEXEC | MOUNT_ATTR_RDONLY));
  if (!tree) return fail(path_error("cannot make", "/proc"));
  return attach(tree, "/proc");
}

}  // namespace kestrum::sandbox
