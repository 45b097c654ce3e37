// What the Linux backend will do for a profile, decided without touching
// the system: which mounts it stacks and in which order, what Landlock
// grants, and how the network is confined. The system-facing files only
// carry these plans out.
//
// The profile means: read everything but the hidden paths, write only the
// write folders, writeFiles paths and devices, then deny-write and hide on
// top, then re-open the exceptions. Landlock alone can only grant, never
// take back inside a grant, so the taking back is done with mounts in a
// private mount namespace: the whole tree turns read-only, the writable
// paths are put back as they were, denyWrite paths become read-only again,
// hidden paths are covered, and exceptions are put back through the covers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "linux/profile_reader.h"

namespace kestrum::sandbox {

enum class EntryKind { kMissing, kFolder, kFile, kLink };

// The file system as the plan sees it, at the time the backend starts.
class FileView {
 public:
  virtual ~FileView() = default;
  virtual EntryKind kind(const std::string& path) const = 0;
  // The names in a folder, without "." and "..", in any order.
  virtual std::vector<std::string> names(const std::string& folder) const = 0;
};

enum class MountAction {
  // The folder keeps its present entries as they are, but gains none and
  // loses none: it is read-only and each entry is put back on top.
  kFreeze,
  kReadOnly,    // recursively, including mounts below
  kHideFile,    // an empty file nobody may open
  kHideFolder,  // an empty folder; `passages` lead through it to exceptions
  kReopen,      // the path as it was at the start, read-only unless `writable`
  // The folder mounted over itself as it is: its entries can still change,
  // but it can be neither renamed nor removed.
  kPin,
};

struct MountStep {
  MountAction action;
  std::string path;
  bool writable = false;
  std::vector<std::string> passages;  // relative to `path`, each ending at an exception
  bool operator==(const MountStep&) const = default;
};

struct MountPlan {
  // False only when "/" itself is writable.
  bool read_only_tree = true;
  // Put back writable, as they were at the start, once the tree is read-only.
  std::vector<std::string> writable;
  // /dev/shm becomes an empty, size-limited tmpfs of the command's own
  // (POSIX shared memory), gone with it.
  bool private_shared_memory = false;
  std::vector<MountStep> steps;
};

enum class Grant {
  kRead,    // read and execute
  kWrite,   // everything but listing, which is never restricted
  kDevice,  // read and write of a device node
};

struct GrantRule {
  Grant grant;
  std::string path;
  bool operator==(const GrantRule&) const = default;
};

struct NetworkPlan {
  bool own_namespace = false;                         // the only loopback is the sandbox's own
  std::optional<std::uint16_t> namespace_relay_port;  // forwarded to the launcher's proxy
  bool ip_sockets = false;                            // TCP over IPv4 and IPv6
  bool listen = false;
  std::vector<std::uint16_t> connect_ports;
  bool restrict_bind = true;
};

struct Plan {
  MountPlan mounts;
  std::vector<GrantRule> grants;
  NetworkPlan network;
};

// Fails when the profile asks for something this backend cannot keep: a
// Unix-socket rule, port 0, a hidden path that vanished, a path that must
// not be created in the root folder.
Result<Plan> make_plan(const ProfileRules& rules, const FileView& files);

}  // namespace kestrum::sandbox
