// The real launcher with the Linux backend as its sandbox tool, running
// real programs: the probe's own check, sh, git and curl through the proxy.
#include <dirent.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "fixture.h"
#include "servers.h"

namespace kestrum::testing {
namespace {

class Backend : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = missing_abilities(); !why.empty()) GTEST_SKIP() << why;
  }
};

TEST_F(Backend, ProbePrintsTheSuccessReport) {
  TempDir tmp;
  const ProcessResult result =
      run_process({launcher(), "probe"},
                  std::vector<std::string>{"TMPDIR=" + tmp.path(), "PATH=/usr/bin:/bin"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out,
            "{\"name\":\"Seatbelt\",\"network\":true,\"policyVersion\":6,\"version\":\"0.1.0-beta."
            "8\"}\n");
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
}

// Without CAP_SYS_ADMIN the backend first enters a user namespace of its
// own; the probe's checks must hold the same.
TEST_F(Backend, ProbeSucceedsForAnUnprivilegedUser) {
  if (::geteuid() != 0 || !exists("/usr/bin/setpriv")) GTEST_SKIP() << "needs root and setpriv";
  TempDir tmp;
  ASSERT_EQ(::chown(tmp.path().c_str(), 65534, 65534), 0);
  const ProcessResult result = run_process(
      {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", launcher(), "probe"},
      std::vector<std::string>{"TMPDIR=" + tmp.path(), "PATH=/usr/bin:/bin"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out,
            "{\"name\":\"Seatbelt\",\"network\":true,\"policyVersion\":6,\"version\":\"0.1.0-beta."
            "8\"}\n");
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
}

// The sanitizers' runtimes lower a program's core limit to 0 at start
// unless told otherwise, which would hide whether the launcher hands the
// given limit on.
constexpr const char* kGiveTheLauncherCoreLimit77 =
    "ulimit -c 77 && "
    "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}disable_coredump=0\" "
    "TSAN_OPTIONS=\"${TSAN_OPTIONS:+$TSAN_OPTIONS:}disable_coredump=0\" exec \"$@\"";

// The launcher holds the person's secrets in its environment: no core file
// of it, and no reading its memory through /proc, even for a process of its
// own user. The command keeps the limit it was given.
TEST_F(Backend, TheLauncherKeepsItsMemoryToItselfAndTheCommandItsCoreLimit) {
  if (::geteuid() != 0 || !exists("/usr/bin/setpriv")) GTEST_SKIP() << "needs root and setpriv";
  World world;
  ASSERT_EQ(::chmod(world.dir.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(world.at("project").c_str(), 0777), 0);
  const std::string script =
      "ulimit -c > limit; touch ready; while [ ! -e finish ]; do sleep 0.02; done";
  ProcessOptions options =
      run_options(world.policy(R"({"allow":["a.test"]})"), {"/bin/sh", "-c", script});
  options.argv.insert(options.argv.begin(),
                      {"/bin/sh", "-c", kGiveTheLauncherCoreLimit77, "sh", "/usr/bin/setpriv",
                       "--reuid=65534", "--regid=65534", "--clear-groups"});
  Process launcher(options);
  ASSERT_TRUE(wait_for_file(world.at("project/ready")));
  const std::string proc = "/proc/" + std::to_string(launcher.pid());
  std::string core_line;
  std::istringstream limits(read_file(proc + "/limits"));
  for (std::string line; std::getline(limits, line);) {
    if (line.starts_with("Max core file size")) core_line = line;
  }
  std::istringstream fields(core_line.substr(std::string("Max core file size").size()));
  std::string soft;
  fields >> soft;
  EXPECT_EQ(soft, "0") << core_line;
  struct stat environment {};
  ASSERT_EQ(::stat((proc + "/environ").c_str(), &environment), 0);
  EXPECT_EQ(environment.st_uid, 0u) << "a dumpable process's /proc files belong to its user";
  write_file(world.at("project/finish"), "");
  EXPECT_EQ(launcher.wait().exit_code, 0);
  EXPECT_EQ(read_file(world.at("project/limit")), "77\n");
}

// What stays outside the sandbox while the command runs (the supervisor,
// the namespace's init and the network relay) keeps no capability and can
// gain none; the relay also runs under a filter of its own.
TEST_F(Backend, NothingOutsideTheSandboxKeepsAPrivilege) {
  World world;
  const std::string script = "touch ready; while [ ! -e finish ]; do sleep 0.02; done";
  Process launcher(run_options(world.policy(R"({"allow":["a.test"]})"), {"/bin/sh", "-c", script}));
  ASSERT_TRUE(wait_for_file(world.at("project/ready")));
  // This run's backend processes (other tests may run theirs meanwhile):
  // forks of the one whose profile names this test's folders. The relay
  // loads its filter only once it holds the listener, which may be a moment
  // after the command starts.
  const auto this_runs_statuses = [&] {
    std::vector<std::string> statuses;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      std::error_code error;
      if (std::filesystem::read_symlink(entry.path() / "exe", error) != backend()) continue;
      if (read_file((entry.path() / "cmdline").string()).find(world.dir.path()) ==
          std::string::npos)
        continue;
      statuses.push_back(read_file((entry.path() / "status").string()));
    }
    return statuses;
  };
  const auto filtered = [](const std::vector<std::string>& statuses) {
    return std::count_if(statuses.begin(), statuses.end(), [](const std::string& status) {
      return status.find("Seccomp:\t2") != std::string::npos;
    });
  };
  std::vector<std::string> statuses = this_runs_statuses();
  for (int tries = 0; tries < 100 && filtered(statuses) == 0; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    statuses = this_runs_statuses();
  }
  write_file(world.at("project/finish"), "");
  EXPECT_EQ(launcher.wait().exit_code, 0);
  ASSERT_EQ(statuses.size(), 3u) << "the supervisor, init and the relay";
  for (const std::string& status : statuses) {
    EXPECT_THAT(status, ::testing::HasSubstr("CapPrm:\t0000000000000000"));
    EXPECT_THAT(status, ::testing::HasSubstr("CapEff:\t0000000000000000"));
    EXPECT_THAT(status, ::testing::HasSubstr("NoNewPrivs:\t1"));
  }
  EXPECT_EQ(filtered(statuses), 1) << "the relay";
}

// The command is the child of its own PID namespace's init (so it is
// process 2 there, or a little above when a sanitizer's runtime gave init a
// thread first); the launcher's process mirrors how it ended.
TEST_F(Backend, TheCommandRunsInItsProjectWithTheLaunchersStreams) {
  World world;
  const ProcessResult result = run_process(
      run_options(world.policy(), {"/bin/sh", "-c",
                                   "echo $$; pwd; echo out > /dev/stdout; echo err >&2; "
                                   "echo err2 > /dev/stderr; exit 7"}));
  EXPECT_EQ(result.exit_code, 7);
  const std::size_t first_line = result.out.find('\n');
  const int pid = std::atoi(result.out.substr(0, first_line).c_str());
  EXPECT_TRUE(pid >= 2 && pid <= 4) << result.out;
  EXPECT_EQ(result.out.substr(first_line + 1), world.at("project") + "\nout\n");
  EXPECT_EQ(result.err, "err\nerr2\n");
}

void git(const std::string& folder, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"/usr/bin/git",       "-C", folder, "-c", "user.name=t", "-c",
                                   "user.email=t@t.test"};
  argv.insert(argv.end(), args.begin(), args.end());
  ASSERT_EQ(run_process(argv).exit_code, 0);
}

TEST_F(Backend, GitStatusWorksButCommitCannotWriteTheDeniedGitFolder) {
  World world;
  const std::string project = world.at("project");
  std::filesystem::remove_all(world.at("project/.git"));
  git(project, {"init", "-q"});
  git(project, {"add", "notes"});
  git(project, {"commit", "-qm", "first"});
  const std::string script =
      "echo new > added && git status --short && "
      "git -c user.name=t -c user.email=t@t.test commit -qam second";
  const ProcessResult result = run_process(run_options(world.policy(), {"/bin/sh", "-c", script}));
  EXPECT_EQ(result.exit_code, 128) << result.err;
  EXPECT_EQ(result.out, "?? added\n?? link-out\n");
  EXPECT_THAT(result.err, ::testing::HasSubstr(".git/index.lock': Read-only file system"));
  EXPECT_EQ(read_file(world.at("project/added")), "new\n");
  const ProcessResult log =
      run_process({"/usr/bin/git", "-C", project, "rev-list", "--count", "HEAD"});
  EXPECT_EQ(log.out, "1\n");
}

// A denyWrite path that does not exist yet can only be kept from being
// created by keeping its whole folder from gaining entries; what is already
// in the folder stays writable.
TEST_F(Backend, AMissingDeniedPathFreezesItsFolder) {
  World world;
  std::filesystem::create_directories(world.at("project/src"));
  const std::string policy = R"({"version":6,"cwd":")" + world.at("project") + R"(","write":)" +
                             json_list({world.at("project")}) + R"(,"denyWrite":)" +
                             json_list({world.at("project/.env")}) +
                             R"(,"denyRead":[],"denyEnv":[],"network":{"allow":[]}})";
  const std::string script =
      "echo a > .env; echo b > other; echo c >> notes && echo appended; "
      "echo d > src/inside && echo wrote-inside; rm notes; exit 0";
  const ProcessResult result = run_process(run_options(policy, {"/bin/sh", "-c", script}));
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "appended\nwrote-inside\n");
  EXPECT_EQ(result.err,
            "/bin/sh: 1: cannot create .env: Read-only file system\n"
            "/bin/sh: 1: cannot create other: Read-only file system\n"
            "rm: cannot remove 'notes': Read-only file system\n");
  EXPECT_FALSE(exists(world.at("project/.env")));
  EXPECT_EQ(read_file(world.at("project/notes")), "notesc\n");
}

// Whether every process whose command line names `text` has ended; it
// may take the relay a moment to see the command end.
bool all_ended(const std::string& text) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      const std::string cmdline = read_file(entry.path().string() + "/cmdline");
      count += cmdline.find(text) != std::string::npos;
    }
    if (count == 0) return true;
    ::usleep(25000);
  }
  return false;
}

TEST_F(Backend, CurlReachesAnAllowedHostThroughTheProxyAndNoOtherWay) {
  World world;
  OriginServer origin;
  const std::string port = std::to_string(origin.port());
  const std::string script = "curl -sS http://localhost:" + port + "/a; echo; " +
                             "curl -sS http://127.0.0.1:" + port + "/b; " +
                             "curl -sS --noproxy '*' http://127.0.0.1:" + port + "/c; " +
                             "echo direct=$?; printf %s \"${HTTP_PROXY##*:}\" > proxy-port";
  Pipe events;
  ProcessOptions options =
      run_options(world.policy(R"({"allow":["localhost"]})"), {"/bin/sh", "-c", script});
  options.argv.insert(options.argv.begin() + 4, {"--events-fd", "9"});
  options.inherit = {{9, events.write_end.get()}};
  Process launcher(options);
  events.write_end.reset();
  const ProcessResult result = launcher.wait();

  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out,
            "GET /a HTTP/1.1|hello\n"
            "The Kestrum sandbox does not allow 127.0.0.1; ask for it in network_hosts.\n"
            "direct=7\n");
  EXPECT_THAT(result.err, ::testing::HasSubstr("Failed to connect to 127.0.0.1 port " + port));
  EXPECT_EQ(recorded_events(read_to_end(events.read_end.get())),
            "{\"allowed\":true,\"host\":\"localhost\",\"type\":\"network\"}\n"
            "{\"allowed\":false,\"host\":\"127.0.0.1\",\"type\":\"network\"}\n");
  EXPECT_EQ(origin.heads().size(), 1u);
  // The relay to the proxy ends with the command.
  const std::string proxy_port = read_file(world.at("project/proxy-port"));
  ASSERT_FALSE(proxy_port.empty());
  EXPECT_TRUE(all_ended("localhost:" + proxy_port + "\""));
}

struct Refused {
  const char* name;
  std::vector<std::string> argv;  // "{marker}" stands for the marker's path
  int status;
  std::string err;
};

TEST_F(Backend, RefusesWhatItCannotEnforceAndNeverRunsTheCommand) {
  World world;
  const std::string marker = world.at("project/ran");
  const std::string touch = "echo > " + marker;
  const std::string sockets_policy =
      R"({"version":6,"cwd":")" + world.at("project") + R"(","write":[")" + world.at("project") +
      R"("],"denyWrite":[],"denyRead":[],"denyEnv":[],"network":{"allow":[],"sockets":[")" +
      world.at("project/s.sock") + R"("]}})";
  const Refused cases[] = {
      {"an unknown rule",
       {backend(), "-p", "(version 1)\n(allow default)", "/bin/sh", "-c", touch},
       65,
       "kestrum-seatbelt-linux: refused profile: line 2: unknown or out of place: (allow "
       "default)\n"},
      {"a Unix socket",
       {launcher(), "run", "--policy", sockets_policy, "--", "/bin/sh", "-c", touch},
       71,
       "kestrum-seatbelt-linux: Unix-domain socket rules cannot be enforced on Linux: " +
           world.at("project/s.sock") + "\n"},
      {"no profile",
       {backend(), "/bin/sh", "-c", touch},
       64,
       "kestrum-seatbelt-linux: usage: kestrum-seatbelt-linux -p <profile> <program> [args...]\n"},
  };
  for (const Refused& row : cases) {
    SCOPED_TRACE(row.name);
    const ProcessResult result = run_process(row.argv);
    EXPECT_EQ(result.exit_code, row.status);
    EXPECT_EQ(result.err, row.err);
    EXPECT_FALSE(exists(marker));
  }
}

TEST_F(Backend, AProgramThatCannotBeFoundIsReportedAfterTheSandboxIsUp) {
  World world;
  const ProcessResult result = run_process(run_options(world.policy(), {"no-such-program-here"}));
  EXPECT_EQ(result.exit_code, 127);
  EXPECT_EQ(
      result.err,
      "kestrum-seatbelt-linux: no-such-program-here: No such file or directory (os error 2)\n");
}

}  // namespace
}  // namespace kestrum::testing
