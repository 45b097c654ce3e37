// The escape suite: each test runs one attack from inside the sandbox,
// through the real launcher and backend, and asserts that it fails with the
// error of the mechanism meant to stop it, and that it left no trace.
// Controls beside it show that the same helper succeeds where the policy
// allows, so that a failing attack means the sandbox stopped it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "fixture.h"
#include "servers.h"

namespace kestrum::testing {
namespace {

constexpr std::string_view kReadOnly = "Read-only file system (os error 30)\n";
constexpr std::string_view kDenied = "Permission denied (os error 13)\n";
constexpr std::string_view kNotPermitted = "Operation not permitted (os error 1)\n";
constexpr std::string_view kCrossDevice = "Invalid cross-device link (os error 18)\n";
constexpr std::string_view kBadDescriptor = "Bad file descriptor (os error 9)\n";
// Processes outside the command's PID namespace do not exist for it.
constexpr std::string_view kOutOfSight = "No such process (os error 3)\n";
constexpr std::string_view kBusy = "Device or resource busy (os error 16)\n";
constexpr std::string_view kUnreachable = "Network is unreachable (os error 101)\n";
constexpr std::string_view kProxyNetwork = R"({"allow":["a.test"]})";

// What an attack may need from outside the sandbox.
struct Outside {
  const World& world;
  pid_t victim;           // a process outside the sandbox
  std::uint16_t peer;     // a listening port outside the sandbox
  std::string root_disk;  // the block device holding "/"
  int shared_memory_key;  // a System V segment outside the sandbox
};

struct Attack {
  const char* name;
  std::function<std::vector<std::string>(const Outside&)> args;
  std::string_view error;
  std::string_view network = R"({"allow":[]})";
  bool pty_on_stdin = false;
  bool hidden_on_fd_5 = false;
  // A path that must not exist afterwards, relative to the world unless
  // absolute.
  const char* untouched = nullptr;
  // The command and the process outside run as user and group 65534: the
  // kernel lets a process change priorities of its own user's processes,
  // which root without capabilities may not.
  bool unprivileged = false;
  // The step works inside ("ok"); the attack is what it leaves outside.
  bool works_inside = false;
  // How long after the launcher has ended `untouched` is checked, in ms.
  int settle_ms = 0;
};

std::string disk_of_root() {
  struct stat root {};
  if (::stat("/", &root) != 0) return "";
  std::ifstream uevent("/sys/dev/block/" + std::to_string(major(root.st_dev)) + ":" +
                       std::to_string(minor(root.st_dev)) + "/uevent");
  for (std::string line; std::getline(uevent, line);) {
    if (line.starts_with("DEVNAME=")) return "/dev/" + line.substr(8);
  }
  return "";
}

using Args = std::vector<std::string>;

const Attack kAttacks[] = {
    {"WriteOutsideTheWriteFolders",
     [](const Outside& o) {
       return Args{"write", o.world.at("outside/new")};
     },
     kReadOnly, R"({"allow":[]})", false, false, "outside/new"},
    {"OverwriteAFileOutside",
     [](const Outside& o) {
       return Args{"write", o.world.at("outside/target")};
     },
     kReadOnly},
    {"WriteThroughASymbolicLink",
     [](const Outside& o) {
       return Args{"write", o.world.at("project/link-out")};
     },
     kReadOnly},
    {"WriteWithDotDotOutOfTheProject",
     [](const Outside& o) {
       return Args{"write", o.world.at("project/../outside/dots")};
     },
     kReadOnly, R"({"allow":[]})", false, false, "outside/dots"},
    {"HardLinkAFileOutsideIntoTheProject",
     [](const Outside& o) {
       return Args{"link", o.world.at("outside/target"), o.world.at("project/hard")};
     },
     kCrossDevice, R"({"allow":[]})", false, false, "project/hard"},
    {"HardLinkAHiddenFileIntoTheProject",
     [](const Outside& o) {
       return Args{"link", o.world.at("home/.ssh/id"), o.world.at("project/id")};
     },
     kDenied, R"({"allow":[]})", false, false, "project/id"},
    {"RenameIntoTheDeniedGitFolder",
     [](const Outside& o) {
       return Args{"rename", o.world.at("project/notes"), o.world.at("project/.git/notes")};
     },
     kCrossDevice, R"({"allow":[]})", false, false, "project/.git/notes"},
    {"RenameTheDeniedGitFolderAway",
     [](const Outside& o) {
       return Args{"rename", o.world.at("project/.git"), o.world.at("project/git")};
     },
     kBusy, R"({"allow":[]})", false, false, "project/git"},
    // Moving a folder on the way would carry the protected path out of its
    // rule's way, for the next run, and make room for a new one.
    {"RenameAParentOfADeniedFolder",
     [](const Outside& o) {
       return Args{"rename", o.world.at("work/app"), o.world.at("work/app-moved")};
     },
     kBusy, R"({"allow":[]})", false, false, "work/app-moved"},
    {"RenameAParentOfAHiddenFolder",
     [](const Outside& o) {
       return Args{"rename", o.world.at("work/deep"), o.world.at("work/deep-moved")};
     },
     kBusy, R"({"allow":[]})", false, false, "work/deep-moved"},
    {"RenameAParentOfTheFolderAMissingDeniedPathFreezes",
     [](const Outside& o) {
       return Args{"rename", o.world.at("work/nested"), o.world.at("work/nested-moved")};
     },
     kBusy, R"({"allow":[]})", false, false, "work/nested-moved"},
    {"WriteIntoTheDeniedGitFolder",
     [](const Outside& o) {
       return Args{"write", o.world.at("project/.git/config")};
     },
     kReadOnly, R"({"allow":[]})", false, false, "project/.git/config"},
    {"ChangeTheModeOfAFileOutside",
     [](const Outside& o) {
       return Args{"chmod", o.world.at("outside/target")};
     },
     kReadOnly},
    {"ReadAHiddenFile",
     [](const Outside& o) {
       return Args{"read", o.world.at("home/.ssh/id")};
     },
     kDenied},
    {"ListAHiddenFolder",
     [](const Outside& o) {
       return Args{"list", o.world.at("home/.aws")};
     },
     kDenied},
    // The cover holds only the way to the exception: its siblings are gone.
    {"ReadAHiddenSiblingOfTheException",
     [](const Outside& o) {
       return Args{"read", o.world.at("home/.aws/credentials")};
     },
     "No such file or directory (os error 2)\n"},
    {"ReadAHiddenFileThroughProcSelfRoot",
     [](const Outside& o) {
       return Args{"read", "/proc/self/root" + o.world.at("home/.ssh/id")};
     },
     kDenied},
    {"WriteOutsideThroughProcSelfRoot",
     [](const Outside& o) {
       return Args{"write", "/proc/self/root" + o.world.at("outside/root")};
     },
     kReadOnly, R"({"allow":[]})", false, false, "outside/root"},
    {"ReopenAReadOnlyDescriptorForWritingThroughProcSelfFd",
     [](const Outside& o) {
       return Args{"reopen-write", o.world.at("outside/target")};
     },
     kReadOnly},
    {"ReadAHiddenFileThroughAnInheritedDescriptor",
     [](const Outside&) {
       return Args{"readfd", "5"};
     },
     kBadDescriptor, R"({"allow":[]})", false, true},
    {"ReadTheRawDiskAsRoot",
     [](const Outside& o) {
       return Args{"read", o.root_disk};
     },
     kDenied},
    {"MakeADeviceNodeForTheDisk",
     [](const Outside& o) {
       return Args{"mknod-disk", o.world.at("project/disk")};
     },
     kNotPermitted, R"({"allow":[]})", false, false, "project/disk"},
    {"ConnectToAnotherLocalPort",
     [](const Outside& o) {
       return Args{"connect", "127.0.0.1", std::to_string(o.peer)};
     },
     kDenied, kProxyNetwork},
    {"ConnectToTheInternetWithoutAProxy",
     [](const Outside&) {
       return Args{"connect", "1.1.1.1", "443"};
     },
     kNotPermitted},
    {"ConnectToTheProxyPortOnAnotherAddress",
     [](const Outside&) { return Args{"connect-proxy-elsewhere"}; }, kUnreachable, kProxyNetwork},
    // The relay runs outside the sandbox: it must not grow without bound.
    {"HoldMoreConnectionsThanTheRelayServes",
     [](const Outside&) {
       return Args{"hold-proxy-connections", "300"};
     },
     "Connection reset by peer (os error 104)\n", kProxyNetwork},
    {"SendUdpToADnsServer",
     [](const Outside&) {
       return Args{"udp", "127.0.0.53", "53"};
     },
     kNotPermitted, kProxyNetwork},
    {"OpenARawSocket",
     [](const Outside&) {
       return Args{"socket", "2", "3", "1"};
     },
     kNotPermitted, kProxyNetwork},
    {"OpenANetlinkSocket",
     [](const Outside&) {
       return Args{"socket", "16", "3", "0"};
     },
     kNotPermitted, kProxyNetwork},
    {"OpenAPacketSocket",
     [](const Outside&) {
       return Args{"socket", "17", "3", "0"};
     },
     kNotPermitted, kProxyNetwork},
    {"OpenAVsockSocketToTheHost",
     [](const Outside&) {
       return Args{"socket", "40", "1", "0"};
     },
     kNotPermitted, kProxyNetwork},
    {"OpenAUnixSocket",
     [](const Outside&) {
       return Args{"socket", "1", "1", "0"};
     },
     kNotPermitted, kProxyNetwork},
    {"OpenAMultipathTcpSocket",
     [](const Outside&) {
       return Args{"socket", "2", "1", "262"};
     },
     kNotPermitted, kProxyNetwork},
    {"ListenWithoutTheLoopbackRule",
     [](const Outside&) {
       return Args{"listen", "127.0.0.1", "0"};
     },
     kDenied, kProxyNetwork},
    {"UnshareAUserNamespace",
     [](const Outside&) {
       return Args{"unshare", "user"};
     },
     kNotPermitted},
    {"UnshareAMountNamespace",
     [](const Outside&) {
       return Args{"unshare", "mount"};
     },
     kNotPermitted},
    {"UnshareANetworkNamespace",
     [](const Outside&) {
       return Args{"unshare", "net"};
     },
     kNotPermitted, kProxyNetwork},
    {"CloneIntoAUserNamespace",
     [](const Outside&) {
       return Args{"clone", "user"};
     },
     kNotPermitted},
    {"RemountTheTreeWritable",
     [](const Outside&) {
       return Args{"remount", "/"};
     },
     kNotPermitted},
    {"UnmountTheCoverOfAHiddenFolder",
     [](const Outside& o) {
       return Args{"umount", o.world.at("home/.ssh")};
     },
     kNotPermitted},
    {"PtraceAProcessOutside",
     [](const Outside& o) {
       return Args{"ptrace", std::to_string(o.victim)};
     },
     kOutOfSight},
    {"ReadTheMemoryOfAProcessOutside",
     [](const Outside& o) {
       return Args{"read-memory", std::to_string(o.victim)};
     },
     kOutOfSight},
    {"ReachSharedMemoryOutside",
     [](const Outside& o) {
       return Args{"shm", std::to_string(o.shared_memory_key)};
     },
     "No such file or directory (os error 2)\n"},
    {"SignalAProcessOutside",
     [](const Outside& o) {
       return Args{"kill", std::to_string(o.victim)};
     },
     kOutOfSight},
    {"SignalItsParent", [](const Outside&) { return Args{"kill-parent"}; }, kNotPermitted,
     kProxyNetwork},
    // Limits, priorities and placement of a process outside.
    {"LimitAProcessOutside",
     [](const Outside& o) {
       return Args{"prlimit", std::to_string(o.victim)};
     },
     kNotPermitted},
    {"LimitItsParent", [](const Outside&) { return Args{"prlimit-parent"}; }, kNotPermitted,
     kProxyNetwork},
    {"LowerThePriorityOfAProcessOutside",
     [](const Outside& o) {
       return Args{"setpriority", std::to_string(o.victim)};
     },
     kNotPermitted, R"({"allow":[]})", false, false, nullptr, true},
    {"LowerTheIoPriorityOfAProcessOutside",
     [](const Outside& o) {
       return Args{"ioprio", std::to_string(o.victim)};
     },
     kNotPermitted, R"({"allow":[]})", false, false, nullptr, true},
    {"PinAProcessOutsideToOneCpu",
     [](const Outside& o) {
       return Args{"affinity", std::to_string(o.victim)};
     },
     kNotPermitted, R"({"allow":[]})", false, false, nullptr, true},
    {"ChangeTheSchedulerOfAProcessOutside",
     [](const Outside& o) {
       return Args{"scheduler", std::to_string(o.victim)};
     },
     kNotPermitted, R"({"allow":[]})", false, false, nullptr, true},
    {"ChangeTheSchedulingParametersOfAProcessOutside",
     [](const Outside& o) {
       return Args{"schedparam", std::to_string(o.victim)};
     },
     kNotPermitted, R"({"allow":[]})", false, false, nullptr, true},
    {"ChangeTheSchedulingAttributesOfAProcessOutside",
     [](const Outside& o) {
       return Args{"schedattr", std::to_string(o.victim)};
     },
     kNotPermitted, R"({"allow":[]})", false, false, nullptr, true},
    // A process that left the command's session would go on writing into
    // the project (or reading the person's terminal) after the launcher ended.
    {"OutliveTheCommand",
     [](const Outside& o) {
       return Args{"outlive", o.world.at("project/late")};
     },
     "", R"({"allow":[]})", false, false, "project/late", false, true, 1500},
    // POSIX shared memory is the command's own, and gone with it.
    {"LeaveAFileInSharedMemory",
     [](const Outside&) {
       return Args{"write", "/dev/shm/kestrum-escape-left-behind"};
     },
     "", R"({"allow":[]})", false, false, "/dev/shm/kestrum-escape-left-behind", false, true},
    {"TakeALeaseOnAFileOutside",
     [](const Outside& o) {
       return Args{"lease", o.world.at("outside/target")};
     },
     kNotPermitted},
    {"RaiseACapability", [](const Outside&) { return Args{"raise-capability"}; }, kNotPermitted},
    {"InjectInputIntoTheTerminal", [](const Outside&) { return Args{"inject-terminal-input"}; },
     kNotPermitted, R"({"allow":[]})", true},
    {"SetUpIoUring", [](const Outside&) { return Args{"io-uring"}; }, kNotPermitted},
};

struct SharedMemory {
  SharedMemory()
      : key(0x4b000000 | (::getpid() & 0xffffff)), id(::shmget(key, 64, IPC_CREAT | 0600)) {}
  ~SharedMemory() { ::shmctl(id, IPC_RMID, nullptr); }
  int key;
  int id;
};

void PrintTo(const Attack& attack, std::ostream* out) { *out << attack.name; }

class Escape : public ::testing::TestWithParam<Attack> {
 protected:
  void SetUp() override {
    if (const std::string why = missing_abilities(); !why.empty()) GTEST_SKIP() << why;
  }
};

// Some attacks need what only the shell inside knows: its parent, and the
// proxy's port. They run as a small script around the helper.
std::vector<std::string> command_for(const std::vector<std::string>& args) {
  if (args[0] == "kill-parent") return {"/bin/sh", "-c", "exec " + attacker() + " kill $PPID"};
  if (args[0] == "hold-proxy-connections") {
    return {"/bin/sh", "-c",
            "exec " + attacker() + " hold-connections \"${HTTP_PROXY##*:}\" " + args[1]};
  }
  if (args[0] == "prlimit-parent")
    return {"/bin/sh", "-c", "exec " + attacker() + " prlimit $PPID"};
  if (args[0] == "connect-proxy-elsewhere") {
    return {"/bin/sh", "-c", "exec " + attacker() + " connect 192.0.2.1 \"${HTTP_PROXY##*:}\""};
  }
  std::vector<std::string> command = {attacker()};
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

constexpr const char* kAsNobody[] = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                     "--clear-groups"};

// The command line run as user 65534 when `unprivileged`.
std::vector<std::string> as(bool unprivileged, std::vector<std::string> argv) {
  if (unprivileged) argv.insert(argv.begin(), std::begin(kAsNobody), std::end(kAsNobody));
  return argv;
}

TEST_P(Escape, Fails) {
  const Attack& attack = GetParam();
  if (attack.unprivileged && (::geteuid() != 0 || !exists(kAsNobody[0])))
    GTEST_SKIP() << "needs root and setpriv";
  World world;
  if (attack.unprivileged) {
    ASSERT_EQ(::chmod(world.dir.path().c_str(), 0755), 0);
  }
  ProcessOptions sleeper;
  sleeper.argv = as(attack.unprivileged, {"/bin/sleep", "60"});
  Process victim(sleeper);
  PeerServer peer(echo_handler);
  const SharedMemory segment;
  ASSERT_GE(segment.id, 0);
  const Outside outside{world, victim.pid(), peer.port(), disk_of_root(), segment.key};
  const auto args = attack.args(outside);
  if (args[0] == "read" && args[1].empty()) {
    GTEST_SKIP() << "no block device holds /";
  }
  // A path outside the test's world may hold what an earlier run against a
  // faulty build left there; it is cleared before and after.
  const std::string shared = attack.untouched && attack.untouched[0] == '/' ? attack.untouched : "";
  if (!shared.empty()) std::filesystem::remove(shared);

  ProcessOptions options =
      run_options(world.policy(std::string(attack.network)), command_for(args));
  options.argv = as(attack.unprivileged, options.argv);
  int master = -1, slave = -1;
  if (attack.pty_on_stdin) {
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    options.inherit.emplace_back(0, slave);
  }
  const int hidden = ::open(world.at("home/.ssh/id").c_str(), O_RDONLY);
  ASSERT_GE(hidden, 0);
  if (attack.hidden_on_fd_5) options.inherit.emplace_back(5, hidden);
  const ProcessResult result = run_process(options);
  ::close(hidden);
  if (master >= 0) {
    ::close(master);
    ::close(slave);
  }

  EXPECT_EQ(result.exit_code, attack.works_inside ? 0 : 1) << result.out << result.err;
  EXPECT_EQ(result.out, attack.works_inside ? "ok\n" : attack.error) << result.err;
  std::this_thread::sleep_for(std::chrono::milliseconds(attack.settle_ms));
  if (attack.untouched) {
    const std::string left = attack.untouched;
    EXPECT_FALSE(exists(left.starts_with("/") ? left : world.at(left))) << left;
  }
  if (!shared.empty()) std::filesystem::remove(shared);
  EXPECT_EQ(read_file(world.at("outside/target")), "target");
  EXPECT_EQ(::waitpid(victim.pid(), nullptr, WNOHANG), 0) << "the process outside ended";
}

// A folder handed over as standard input was opened outside the mounts:
// files opened relative to it bypassed every cover. The launcher refuses
// to start.
TEST(EscapeThroughStandardInput, AFolderIsRefusedBeforeAnythingRuns) {
  if (const std::string why = missing_abilities(); !why.empty()) GTEST_SKIP() << why;
  World world;
  const int folder = ::open(world.dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(folder, 0);
  for (const Args& attack : {Args{"openat-read", "0", "home/.ssh/id"},
                             Args{"openat-create", "0", "project/.git/planted"}}) {
    std::vector<std::string> command = {attacker()};
    command.insert(command.end(), attack.begin(), attack.end());
    ProcessOptions options = run_options(world.policy(), command);
    options.inherit.emplace_back(0, folder);
    const ProcessResult result = run_process(options);
    EXPECT_EQ(result.exit_code, 125) << attack[0] << ": " << result.out;
    EXPECT_EQ(result.err, "kestrum-sandbox: standard input is a folder\n");
  }
  ::close(folder);
  EXPECT_FALSE(exists(world.at("project/.git/planted")));
}

INSTANTIATE_TEST_SUITE_P(Linux, Escape, ::testing::ValuesIn(kAttacks),
                         [](const auto& row) { return std::string(row.param.name); });

// The controls: the same helper, where the policy allows it.
struct Allowed {
  const char* name;
  std::function<std::vector<std::string>(const World&)> args;
  std::string_view network = R"({"allow":[]})";
};

const Allowed kAllowed[] = {
    {"WriteInTheProject",
     [](const World& w) {
       return Args{"write", w.at("project/new")};
     }},
    {"ReadTheProject",
     [](const World& w) {
       return Args{"read", w.at("project/notes")};
     }},
    {"ListTheProject",
     [](const World& w) {
       return Args{"list", w.at("project")};
     }},
    {"ReadInsideTheException",
     [](const World& w) {
       return Args{"read", w.at("home/.aws/sso/cache/token")};
     }},
    {"WriteInsideTheWritableException",
     [](const World& w) {
       return Args{"write", w.at("home/.aws/sso/cache/new")};
     }},
    {"WriteInAFolderOnTheWayToADeniedOne",
     [](const World& w) {
       return Args{"write", w.at("work/app/new")};
     }},
    {"RenameInsideTheProject",
     [](const World& w) {
       return Args{"rename", w.at("project/notes"), w.at("project/moved")};
     }},
    {"ReadOutside",
     [](const World& w) {
       return Args{"read", w.at("outside/target")};
     }},
    {"WriteToDevNull",
     [](const World&) {
       return Args{"write", "/dev/null"};
     }},
    {"ConnectToTheProxy", [](const World&) { return Args{"connect-proxy"}; }, kProxyNetwork},
    {"LimitItself",
     [](const World&) {
       return Args{"prlimit", "0"};
     }},
    {"LowerItsOwnPriority",
     [](const World&) {
       return Args{"setpriority", "0"};
     }},
    {"ListenOnLoopbackWithTheLoopbackRule",
     [](const World&) {
       return Args{"listen", "127.0.0.1", "0"};
     },
     R"({"allow":[],"loopback":true})"},
};

void PrintTo(const Allowed& allowed, std::ostream* out) { *out << allowed.name; }

class Control : public ::testing::TestWithParam<Allowed> {
 protected:
  void SetUp() override {
    if (const std::string why = missing_abilities(); !why.empty()) GTEST_SKIP() << why;
  }
};

TEST_P(Control, Succeeds) {
  World world;
  std::vector<std::string> args = GetParam().args(world);
  std::vector<std::string> command = {attacker()};
  if (args[0] == "connect-proxy") {
    command = {"/bin/sh", "-c", "exec " + attacker() + " connect 127.0.0.1 \"${HTTP_PROXY##*:}\""};
  } else {
    command.insert(command.end(), args.begin(), args.end());
  }
  const ProcessResult result =
      run_process(run_options(world.policy(std::string(GetParam().network)), command));
  EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
  EXPECT_EQ(result.out, "ok\n") << result.err;
}

INSTANTIATE_TEST_SUITE_P(Linux, Control, ::testing::ValuesIn(kAllowed),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace kestrum::testing
