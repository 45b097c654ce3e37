#include "linux/plan.h"

#include <gtest/gtest.h>

#include <map>

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace kestrum::sandbox {
namespace {

using Paths = std::vector<std::string>;

// A file system given as a list of entries; folders list the entries
// directly inside them.
class FakeFiles : public FileView {
 public:
  FakeFiles(std::initializer_list<std::pair<const std::string, EntryKind>> entries)
      : entries_(entries) {
    entries_["/"] = EntryKind::kFolder;
  }
  EntryKind kind(const std::string& path) const override {
    const auto found = entries_.find(path);
    return found == entries_.end() ? EntryKind::kMissing : found->second;
  }
  std::vector<std::string> names(const std::string& folder) const override {
    std::vector<std::string> names;
    const std::string prefix = folder == "/" ? "/" : folder + "/";
    for (const auto& [path, kind] : entries_) {
      if (path.size() > prefix.size() && path.starts_with(prefix) &&
          path.find('/', prefix.size()) == std::string::npos) {
        names.push_back(path.substr(prefix.size()));
      }
    }
    return names;
  }

 private:
  std::map<std::string, EntryKind> entries_;
};

constexpr EntryKind kFolder = EntryKind::kFolder;
constexpr EntryKind kFile = EntryKind::kFile;
constexpr EntryKind kLink = EntryKind::kLink;

const FakeFiles kProbe{{"/bin", kLink},      {"/dev", kFolder},        {"/dev/null", kFile},
                       {"/dev/zero", kFile}, {"/dev/tty", kFile},      {"/dev/shm", kFolder},
                       {"/dev/vda", kFile},  {"/etc", kFolder},        {"/tmp", kFolder},
                       {"/tmp/t", kFolder},  {"/tmp/t/.git", kFolder}, {"/tmp/t/hidden", kFile}};

MountStep step(MountAction action, std::string path, bool writable = false, Paths passages = {}) {
  return {action, std::move(path), writable, std::move(passages)};
}

TEST(Plan, TheProbeKeepsItsProjectWritableButItsGitFolderAndHiddenFile) {
  auto plan = make_plan(
      {.write = {"/tmp/t"}, .deny_write = {"/tmp/t/.git"}, .deny_read = {"/tmp/t/hidden"}}, kProbe);
  ASSERT_TRUE(plan) << plan.error();
  EXPECT_TRUE(plan->mounts.read_only_tree);
  EXPECT_EQ(plan->mounts.writable, Paths{"/tmp/t"});
  EXPECT_TRUE(plan->mounts.private_shared_memory);
  EXPECT_EQ(plan->mounts.steps, (std::vector<MountStep>{
                                    step(MountAction::kReadOnly, "/tmp/t/.git"),
                                    step(MountAction::kHideFile, "/tmp/t/hidden"),
                                }));
  // Every top-level entry but /dev and links, then the harmless devices,
  // then what may be written. Raw disks under /dev are never granted.
  EXPECT_EQ(plan->grants, (std::vector<GrantRule>{
                              {Grant::kRead, "/etc"},
                              {Grant::kRead, "/tmp"},
                              {Grant::kRead, "/dev/tty"},
                              {Grant::kDevice, "/dev/null"},
                              {Grant::kDevice, "/dev/zero"},
                              {Grant::kWrite, "/dev/shm"},
                              {Grant::kWrite, "/tmp/t"},
                          }));
}

const FakeFiles kHome{{"/h", kFolder},         {"/h/x", kFolder},       {"/h/x/a", kFolder},
                      {"/h/x/a/b", kFolder},   {"/h/x/a/b/c", kFolder}, {"/h/x/a/b/g", kFolder},
                      {"/h/x/a/b/s", kFolder}, {"/h/x/z", kFolder},     {"/h/y", kFile}};

struct MountCase {
  const char* name;
  ProfileRules rules;
  Paths writable;
  std::vector<MountStep> steps;
};

const MountCase kMountCases[] = {
    {"an exception inside a write folder inside the hidden one",
     {.write = {"/h/x/a"},
      .deny_read = {"/h/x"},
      .exceptions = {"/h/x/a/b"},
      .write_in_exceptions = {"/h/x/a/b"}},
     {},
     {step(MountAction::kHideFolder, "/h/x", false, {"a/b"}),
      step(MountAction::kReopen, "/h/x/a/b", true)}},
    {"a write folder inside an exception",
     {.write = {"/h/x/a/b/c"},
      .deny_read = {"/h/x"},
      .exceptions = {"/h/x/a/b"},
      .write_in_exceptions = {"/h/x/a/b/c"}},
     {},
     {step(MountAction::kHideFolder, "/h/x", false, {"a/b"}),
      step(MountAction::kReopen, "/h/x/a/b"), step(MountAction::kReopen, "/h/x/a/b/c", true)}},
    {"denials inside an exception come after it",
     {.write = {"/h"},
      .deny_write = {"/h/x/a/b/g"},
      .deny_read = {"/h/x", "/h/x/a/b/s"},
      .exceptions = {"/h/x/a/b"},
      .write_in_exceptions = {"/h/x/a/b"},
      .deny_write_in_exceptions = {"/h/x/a/b/g"},
      .deny_read_in_exceptions = {"/h/x/a/b/s"}},
     {"/h"},
     {step(MountAction::kHideFolder, "/h/x", false, {"a/b"}),
      step(MountAction::kReopen, "/h/x/a/b", true), step(MountAction::kReadOnly, "/h/x/a/b/g"),
      step(MountAction::kHideFolder, "/h/x/a/b/s")}},
    {"nested hidden folders are covered once",
     {.deny_read = {"/h/x", "/h/x/z"}},
     {},
     {step(MountAction::kHideFolder, "/h/x")}},
    {"a missing denyWrite path freezes its writable folder",
     {.write = {"/h"}, .deny_write = {"/h/.env", "/h/y"}},
     {"/h"},
     {step(MountAction::kFreeze, "/h"), step(MountAction::kReadOnly, "/h/y")}},
    {"a missing denyWrite path in a folder nobody may write needs nothing",
     {.write = {"/h/x"}, .deny_write = {"/h/.env"}},
     {"/h/x"},
     {}},
    // Renaming a folder on the way would carry the protected path away.
    {"folders between a write folder and what it protects are pinned",
     {.write = {"/h"}, .deny_write = {"/h/x/a/b/g", "/h/x/a/new"}, .deny_read = {"/h/x/z"}},
     {"/h"},
     {step(MountAction::kPin, "/h/x"), step(MountAction::kPin, "/h/x/a/b"),
      step(MountAction::kFreeze, "/h/x/a"), step(MountAction::kReadOnly, "/h/x/a/b/g"),
      step(MountAction::kHideFolder, "/h/x/z")}},
    {"and inside a writable exception",
     {.deny_read = {"/h/x"},
      .exceptions = {"/h/x/a"},
      .write_in_exceptions = {"/h/x/a"},
      .deny_read_in_exceptions = {"/h/x/a/b/s"}},
     {},
     {step(MountAction::kHideFolder, "/h/x", false, {"a"}),
      step(MountAction::kReopen, "/h/x/a", true), step(MountAction::kPin, "/h/x/a/b"),
      step(MountAction::kHideFolder, "/h/x/a/b/s")}},
    {"write folders inside hidden ones stay covered",
     {.write = {"/h/x/z", "/h/y"}, .deny_read = {"/h/x"}},
     {"/h/y"},
     {step(MountAction::kHideFolder, "/h/x")}},
};

TEST(Plan, StacksMountsInTheOrderTheProfileGivesItsRules) {
  for (const MountCase& row : kMountCases) {
    SCOPED_TRACE(row.name);
    auto plan = make_plan(row.rules, kHome);
    ASSERT_TRUE(plan) << plan.error();
    EXPECT_EQ(plan->mounts.writable, row.writable);
    EXPECT_EQ(plan->mounts.steps, row.steps);
  }
}

TEST(Plan, WriteFilesGrantThePresentEntriesThatBeginWithTheirPath) {
  const FakeFiles files{{"/h", kFolder},
                        {"/h/.gitconfig", kFile},
                        {"/h/.gitconfig.lock", kFile},
                        {"/h/.gitconfigs", kFolder},
                        {"/h/.gitconfig-link", kLink},
                        {"/h/.git", kFolder},
                        {"/h/other", kFile}};
  auto plan = make_plan({.write_files = {"/h/.gitconfig", "/h/new.log"}}, files);
  ASSERT_TRUE(plan) << plan.error();
  EXPECT_EQ(plan->mounts.writable,
            (Paths{"/h/.gitconfig", "/h/.gitconfig.lock", "/h/.gitconfigs"}));
}

TEST(Plan, TheWholeTreeStaysWritableOnlyWhenTheRootIs) {
  auto plan = make_plan({.write = {"/"}, .deny_write = {"/h/y"}}, kHome);
  ASSERT_TRUE(plan) << plan.error();
  EXPECT_FALSE(plan->mounts.read_only_tree);
  EXPECT_EQ(plan->mounts.writable, Paths{});
  EXPECT_EQ(plan->mounts.steps, (std::vector<MountStep>{step(MountAction::kPin, "/h"),
                                                        step(MountAction::kReadOnly, "/h/y")}));
  EXPECT_EQ(plan->grants.back(), (GrantRule{Grant::kWrite, "/"}));
}

struct Refusal {
  const char* name;
  ProfileRules rules;
  std::string message;
};

const Refusal kRefusals[] = {
    {"a Unix socket",
     {.sockets = {"/run/docker.sock"}},
     "Unix-domain socket rules cannot be enforced on Linux: /run/docker.sock"},
    {"port 0", {.port = 0}, "the proxy's port 0 cannot be reached"},
    {"a hidden path that vanished",
     {.deny_read = {"/h/gone"}},
     "/h/gone vanished after the launcher resolved it"},
    {"a hidden path that became a link",
     {.deny_read = {"/h/l"}},
     "/h/l became a symbolic link after the launcher resolved it"},
    {"a denyWrite path that became a link",
     {.write = {"/h"}, .deny_write = {"/h/l"}},
     "/h/l became a symbolic link after the launcher resolved it"},
    {"hiding the root", {.deny_read = {"/"}}, "cannot hide the root folder"},
    {"a missing denyWrite path in a writable root",
     {.write = {"/"}, .deny_write = {"/new"}},
     "cannot keep /new from being created in /"},
    {"an exception outside every hidden folder",
     {.deny_read = {"/h/x"}, .exceptions = {"/h/y"}},
     "/h/y is not inside a hidden folder"},
    {"an exception that is a file",
     {.deny_read = {"/h"}, .exceptions = {"/h/y"}},
     "/h/y stopped being a folder after the launcher resolved it"},
};

TEST(Plan, RefusesWhatItCannotKeep) {
  FakeFiles files{{"/h", kFolder}, {"/h/x", kFolder}, {"/h/y", kFile}, {"/h/l", kLink}};
  for (const Refusal& row : kRefusals) {
    SCOPED_TRACE(row.name);
    auto plan = make_plan(row.rules, files);
    ASSERT_FALSE(plan);
    EXPECT_EQ(plan.error(), row.message);
  }
}

struct NetworkCase {
  const char* name;
  ProfileRules rules;
  NetworkPlan expected;
};

const NetworkCase kNetworkCases[] = {
    {"no network at all", {}, {.restrict_bind = true}},
    {"the proxy only",
     {.port = 4321},
     {.own_namespace = true,
      .namespace_relay_port = 4321,
      .ip_sockets = true,
      .connect_ports = {4321},
      .restrict_bind = true}},
    {"listening on loopback only",
     {.loopback = true},
     {.own_namespace = true, .ip_sockets = true, .listen = true, .restrict_bind = false}},
    {"both",
     {.port = 80, .loopback = true},
     {.own_namespace = true,
      .namespace_relay_port = 80,
      .ip_sockets = true,
      .listen = true,
      .connect_ports = {80},
      .restrict_bind = false}},
};

TEST(Plan, ConfinesTheNetworkToWhatTheProfileOpens) {
  for (const NetworkCase& row : kNetworkCases) {
    SCOPED_TRACE(row.name);
    auto plan = make_plan(row.rules, kHome);
    ASSERT_TRUE(plan) << plan.error();
    const NetworkPlan& got = plan->network;
    EXPECT_EQ(got.own_namespace, row.expected.own_namespace);
    EXPECT_EQ(got.namespace_relay_port, row.expected.namespace_relay_port);
    EXPECT_EQ(got.ip_sockets, row.expected.ip_sockets);
    EXPECT_EQ(got.listen, row.expected.listen);
    EXPECT_EQ(got.connect_ports, row.expected.connect_ports);
    EXPECT_EQ(got.restrict_bind, row.expected.restrict_bind);
  }
}

}  // namespace
}  // namespace kestrum::sandbox
