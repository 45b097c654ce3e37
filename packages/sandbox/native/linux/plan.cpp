#include "linux/plan.h"

#include <algorithm>

#include "policy/path.h"

namespace kestrum::sandbox {
namespace {

constexpr std::string_view kSharedMemory = "/dev/shm";
// Devices everyone may read; block devices and the rest of /dev are left
// out because a command running as root could read raw disks through them.
constexpr std::string_view kReadableDevices[] = {"/dev/full", "/dev/random", "/dev/urandom",
                                                 "/dev/tty"};
constexpr std::string_view kWritableDevices[] = {"/dev/null", "/dev/zero"};

bool inside_any(std::string_view path, const std::vector<std::string>& folders) {
  return std::any_of(folders.begin(), folders.end(),
                     [&](const std::string& folder) { return inside(path, folder); });
}

MountStep step(MountAction action, std::string path, bool writable = false) {
  return {action, std::move(path), writable, {}};
}

std::string parent_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

std::string join(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

// Sorted, and without paths that lie inside another of them.
std::vector<std::string> outermost(std::vector<std::string> paths) {
  sort_unique_paths(paths);
  std::vector<std::string> kept;
  for (std::string& path : paths) {
    if (!kept.empty() && inside(path, kept.back())) continue;
    kept.push_back(std::move(path));
  }
  return kept;
}

bool exists(const FileView& files, const std::string& path) {
  const EntryKind kind = files.kind(path);
  return kind == EntryKind::kFolder || kind == EntryKind::kFile;
}

// A writeFiles path matches every path that begins with it: the entries of
// its folder whose names begin with its last name, and all below them. Only
// the present ones can be granted; new names would need the whole folder.
std::vector<std::string> write_file_matches(const std::string& path, const FileView& files) {
  const std::string folder = parent_of(path);
  const std::string prefix = path.substr(path.rfind('/') + 1);
  std::vector<std::string> matches;
  for (const std::string& name : files.names(folder)) {
    if (!name.starts_with(prefix)) continue;
    const std::string entry = join(folder, name);
    if (exists(files, entry)) matches.push_back(entry);
  }
  return matches;
}

std::vector<std::string> writable_at_start(const ProfileRules& rules, const FileView& files) {
  std::vector<std::string> writable;
  for (const std::string& path : rules.write) {
    if (exists(files, path)) writable.push_back(path);
  }
  for (const std::string& path : rules.write_files) {
    for (std::string& match : write_file_matches(path, files)) writable.push_back(std::move(match));
  }
  std::erase_if(writable,
                [&](const std::string& path) { return inside_any(path, rules.deny_read); });
  return outermost(std::move(writable));
}

Status changed(const std::string& path, std::string_view what) {
  return fail(display_text(path) + " " + std::string(what) + " after the launcher resolved it");
}

// denyWrite paths: present ones turn read-only; for a missing one, the
// folder it would be created in stops gaining entries when it is writable.
Status add_deny_write(std::vector<MountStep>& steps, const std::vector<std::string>& paths,
                      const std::vector<std::string>& writable, const FileView& files) {
  std::vector<std::string> frozen, read_only;
  for (const std::string& path : paths) {
    const EntryKind kind = files.kind(path);
    if (kind == EntryKind::kLink) return changed(path, "became a symbolic link");
    if (kind != EntryKind::kMissing) {
      read_only.push_back(path);
      continue;
    }
    const std::string folder = parent_of(path);
    if (!inside_any(folder, writable)) continue;
    if (folder == "/") {
      return fail("cannot keep " + display_text(path) + " from being created in /");
    }
    frozen.push_back(folder);
  }
  std::erase_if(frozen, [&](const std::string& folder) { return inside_any(folder, read_only); });
  sort_unique_paths(frozen);
  for (std::string& folder : frozen) steps.push_back(step(MountAction::kFreeze, std::move(folder)));
  for (std::string& path : outermost(read_only)) {
    steps.push_back(step(MountAction::kReadOnly, std::move(path)));
  }
  return {};
}

std::string relative_to(const std::string& path, const std::string& folder) {
  return folder == "/" ? path.substr(1) : path.substr(folder.size() + 1);
}

Status add_hidden(std::vector<MountStep>& steps, const std::vector<std::string>& paths,
                  const std::vector<std::string>& exceptions, const FileView& files) {
  for (const std::string& path : outermost(paths)) {
    if (path == "/") return fail("cannot hide the root folder");
    const EntryKind kind = files.kind(path);
    if (kind == EntryKind::kMissing) return changed(path, "vanished");
    if (kind == EntryKind::kLink) return changed(path, "became a symbolic link");
    MountStep hide =
        step(kind == EntryKind::kFolder ? MountAction::kHideFolder : MountAction::kHideFile, path);
    for (const std::string& exception : exceptions) {
      if (strictly_inside(exception, path)) hide.passages.push_back(relative_to(exception, path));
    }
    steps.push_back(std::move(hide));
  }
  return {};
}

Status add_exceptions(std::vector<MountStep>& steps, const ProfileRules& rules,
                      const FileView& files) {
  for (const std::string& exception : rules.exceptions) {
    if (!std::any_of(
            rules.deny_read.begin(), rules.deny_read.end(),
            [&](const std::string& hidden) { return strictly_inside(exception, hidden); })) {
      return fail(display_text(exception) + " is not inside a hidden folder");
    }
    if (files.kind(exception) != EntryKind::kFolder)
      return changed(exception, "stopped being a folder");
    const auto& writable = rules.write_in_exceptions;
    const bool whole = std::any_of(writable.begin(), writable.end(), [&](const std::string& path) {
      return same_path(path, exception);
    });
    steps.push_back(step(MountAction::kReopen, exception, whole));
    for (const std::string& path : outermost(writable)) {
      if (strictly_inside(path, exception) && exists(files, path)) {
        steps.push_back(step(MountAction::kReopen, path, true));
      }
    }
  }
  return {};
}

// Every folder strictly between a writable root and a protected path below
// it. Renaming one would move the protected path out of its rule's way, so
// that the next run no longer covers it, and make room for an unprotected
// one in its place (a new .git/hooks in the person's repository).
void add_pins(std::vector<MountStep>& steps, const std::vector<std::string>& roots,
              const std::vector<std::string>& protected_paths) {
  std::vector<std::string> pins;
  for (const std::string& path : protected_paths) {
    for (const std::string& root : roots) {
      if (!strictly_inside(path, root)) continue;
      for (std::string folder = parent_of(path); strictly_inside(folder, root);
           folder = parent_of(folder)) {
        pins.push_back(folder);
      }
    }
  }
  // A protected place on the way to another is a mount point already.
  std::erase_if(pins, [&](const std::string& folder) {
    return std::any_of(protected_paths.begin(), protected_paths.end(),
                       [&](const std::string& path) { return same_path(path, folder); });
  });
  sort_unique_paths(pins);
  for (std::string& folder : pins) steps.push_back(step(MountAction::kPin, std::move(folder)));
}

// What a rename could move out of its rules' way: the denied and hidden
// paths, and for a denied path that does not exist yet the folder frozen
// around it.
std::vector<std::string> protected_places(const std::vector<std::string>& deny_write,
                                          const std::vector<std::string>& hidden,
                                          const FileView& files) {
  std::vector<std::string> places = hidden;
  for (const std::string& path : deny_write)
    places.push_back(files.kind(path) == EntryKind::kMissing ? parent_of(path) : path);
  return places;
}

// The exceptions put back writable, and the write paths inside exceptions.
std::vector<std::string> writable_in_exceptions(const ProfileRules& rules, const FileView& files) {
  std::vector<std::string> roots;
  for (const std::string& path : rules.write_in_exceptions) {
    if (exists(files, path)) roots.push_back(path);
  }
  return outermost(std::move(roots));
}

Result<MountPlan> plan_mounts(const ProfileRules& rules, const FileView& files) {
  MountPlan plan;
  plan.writable = writable_at_start(rules, files);
  plan.private_shared_memory = files.kind(std::string(kSharedMemory)) == EntryKind::kFolder &&
                               !inside_any(kSharedMemory, rules.deny_read);
  if (!plan.writable.empty() && plan.writable.front() == "/") {
    plan.read_only_tree = false;
    plan.writable.clear();
  }
  std::vector<std::string> deny_write = rules.deny_write;
  std::erase_if(deny_write,
                [&](const std::string& path) { return inside_any(path, rules.deny_read); });
  std::vector<std::string> writable =
      plan.read_only_tree ? plan.writable : std::vector<std::string>{"/"};
  add_pins(plan.steps, writable, protected_places(deny_write, outermost(rules.deny_read), files));
  if (auto status = add_deny_write(plan.steps, deny_write, writable, files); !status)
    return fail(status.take_error());
  if (auto status = add_hidden(plan.steps, rules.deny_read, rules.exceptions, files); !status)
    return fail(status.take_error());
  if (auto status = add_exceptions(plan.steps, rules, files); !status)
    return fail(status.take_error());
  add_pins(plan.steps, writable_in_exceptions(rules, files),
           protected_places(rules.deny_write_in_exceptions, rules.deny_read_in_exceptions, files));
  if (auto status = add_deny_write(plan.steps, rules.deny_write_in_exceptions,
                                   rules.write_in_exceptions, files);
      !status) {
    return fail(status.take_error());
  }
  if (auto status = add_hidden(plan.steps, rules.deny_read_in_exceptions, {}, files); !status)
    return fail(status.take_error());
  return plan;
}

std::vector<GrantRule> plan_grants(const ProfileRules& rules, const MountPlan& mounts,
                                   const FileView& files) {
  std::vector<GrantRule> grants;
  for (const std::string& name : files.names("/")) {
    const std::string path = join("/", name);
    if (name != "dev" && exists(files, path)) grants.push_back({Grant::kRead, path});
  }
  std::sort(grants.begin(), grants.end(),
            [](const GrantRule& a, const GrantRule& b) { return path_less(a.path, b.path); });
  for (std::string_view device : kReadableDevices)
    grants.push_back({Grant::kRead, std::string(device)});
  for (std::string_view device : kWritableDevices)
    grants.push_back({Grant::kDevice, std::string(device)});
  std::vector<std::string> writable =
      mounts.read_only_tree ? mounts.writable : std::vector<std::string>{"/"};
  for (const std::string& path : rules.write_in_exceptions) {
    if (exists(files, path)) writable.push_back(path);
  }
  if (mounts.private_shared_memory) writable.emplace_back(kSharedMemory);
  for (std::string& path : outermost(std::move(writable)))
    grants.push_back({Grant::kWrite, std::move(path)});
  std::erase_if(grants, [&](const GrantRule& rule) { return !exists(files, rule.path); });
  return grants;
}

Result<NetworkPlan> plan_network(const ProfileRules& rules) {
  if (!rules.sockets.empty()) {
    return fail("Unix-domain socket rules cannot be enforced on Linux: " +
                display_text(rules.sockets.front()));
  }
  if (rules.port == 0) return fail("the proxy's port 0 cannot be reached");
  NetworkPlan plan;
  plan.own_namespace = rules.port.has_value() || rules.loopback;
  plan.namespace_relay_port = rules.port;
  plan.ip_sockets = plan.own_namespace;
  plan.listen = rules.loopback;
  if (rules.port) plan.connect_ports.push_back(*rules.port);
  plan.restrict_bind = !rules.loopback;
  return plan;
}

}  // namespace

Result<Plan> make_plan(const ProfileRules& rules, const FileView& files) {
  auto network = plan_network(rules);
  if (!network) return fail(network.take_error());
  auto mounts = plan_mounts(rules, files);
  if (!mounts) return fail(mounts.take_error());
  Plan plan{std::move(mounts).value(), {}, std::move(network).value()};
  plan.grants = plan_grants(rules, plan.mounts, files);
  return plan;
}

}  // namespace kestrum::sandbox
