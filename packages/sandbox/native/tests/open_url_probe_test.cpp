// Black-box tests of open-url (the client inside the sandbox, the proxy
// outside) and of the probe.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "process.h"
#include "servers.h"

namespace kestrum::testing {
namespace {

std::string policy_in(const std::string& cwd, const std::string& allow) {
  return R"({"version":6,"cwd":")" + cwd +
         R"(","write":[],"denyWrite":[],"denyRead":[],"denyEnv":[],"network":{"allow":)" + allow +
         "}}";
}

TEST(OpenUrl, TravelsFromInsideTheSandboxToTheEventPipeUnchanged) {
  TempDir dir;
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  const std::string self = bin_dir() + "/kestrum-sandbox";
  const std::string script = self + " open-url 'https://a.test/p?q=1&r=2' && " + self +
                             " 'https://a.test/caf\xC3\xA9?x=\"y\"' && exit 0";
  ProcessOptions options;
  options.argv = {bin_dir() + "/kestrum-sandbox-recorded",
                  "run",
                  "--policy",
                  policy_in(dir.path(), "[]"),
                  "--events-fd",
                  "5",
                  "--",
                  "/bin/sh",
                  "-c",
                  script};
  options.inherit = {{5, fds[1]}};
  Process launcher(options);
  ::close(fds[1]);
  const ProcessResult result = launcher.wait();
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(read_to_end(fds[0]),
            "{\"type\":\"openUrl\",\"url\":\"https://a.test/p?q=1&r=2\"}\n"
            "{\"type\":\"openUrl\",\"url\":\"https://a.test/caf\xC3\xA9?x=\\\"y\\\"\"}\n");
  ::close(fds[0]);
}

TEST(OpenUrl, WithoutAnEventChannelTheProxyAnswers503) {
  TempDir dir;
  const ProcessResult result =
      run_process({bin_dir() + "/kestrum-sandbox-recorded", "run", "--policy",
                   policy_in(dir.path(), R"(["x.test"])"), "--", bin_dir() + "/kestrum-sandbox",
                   "open-url", "https://a.test/"});
  EXPECT_EQ(result.exit_code, 125);
  EXPECT_EQ(result.err, "kestrum-sandbox: the sandbox did not pass the page on (503)\n");
}

TEST(OpenUrl, ClientErrorsComeBeforeAnyConnection) {
  PeerServer bad_proxy([](int fd) {
    read_head_from(fd);
    write_all_to(fd, "NOSPACE\r\n\r\n");
  });
  PeerServer teapot([](int fd) {
    read_head_from(fd);
    write_all_to(fd, "HTTP/1.1 418 Teapot\r\n\r\n");
  });
  const std::string usage =
      "kestrum-sandbox: usage: kestrum-sandbox run --policy <json> [--events-fd <fd>] -- <program> "
      "[args...]\n"
      "       kestrum-sandbox probe\n       kestrum-sandbox forget [<folder>]\n       "
      "kestrum-sandbox open-url <url>\n";
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::string err;
  };
  const std::string teapot_proxy =
      "HTTP_PROXY=http://127.0.0.1:" + std::to_string(teapot.port()) + "///";
  const Case cases[] = {
      {{"open-url"}, {}, usage},
      {{"open-url", "https://a", "https://b"}, {}, usage},
      {{"open-url", "HTTPS://A.TEST"},
       {teapot_proxy},
       "kestrum-sandbox: only a web address can be opened\n"},
      {{"open-url", "https://a.test"},
       {},
       "kestrum-sandbox: this command runs without the sandbox's proxy\n"},
      {{"open-url", "https://a.test"},
       {"HTTP_PROXY=\xff", "http_proxy=https://x"},
       "kestrum-sandbox: the sandbox's proxy is not an http:// address\n"},
      {{"open-url", "https://a.test"},
       {"HTTP_PROXY="},
       "kestrum-sandbox: the sandbox's proxy is not an http:// address\n"},
      {{"open-url", "https://a.test"},
       {"HTTP_PROXY=http://127.0.0.1:1"},
       "kestrum-sandbox: Connection refused (os error 111)\n"},
      {{"open-url", "https://a.test"},
       {teapot_proxy},
       "kestrum-sandbox: the sandbox did not pass the page on (418)\n"},
      {{"open-url", "https://a.test"},
       {"HTTP_PROXY=http://127.0.0.1:" + std::to_string(bad_proxy.port())},
       "kestrum-sandbox: the sandbox did not pass the page on (no answer)\n"},
  };
  for (const auto& c : cases) {
    ProcessOptions options;
    options.argv = {bin_dir() + "/kestrum-sandbox"};
    options.argv.insert(options.argv.end(), c.args.begin(), c.args.end());
    options.env = c.env;
    const ProcessResult result = run_process(options);
    EXPECT_EQ(result.exit_code, 125) << c.err;
    EXPECT_EQ(result.err, c.err);
  }
}

bool empty_folder(const std::string& path) { return std::filesystem::is_empty(path); }

TEST(Probe, ReportsAMissingSandboxWithoutTouchingTheTemporaryFolder) {
  TempDir tmp;
  const ProcessResult result =
      run_process({bin_dir() + "/kestrum-sandbox-missing", "probe", "ignored"},
                  std::vector<std::string>{"TMPDIR=" + tmp.path()});
  EXPECT_EQ(result.exit_code, 125);
  EXPECT_EQ(result.err, "kestrum-sandbox: this computer has no sandbox\n");
  EXPECT_TRUE(empty_folder(tmp.path()));
}

TEST(Probe, APassThroughSandboxFailsAndLeavesNothingBehind) {
  TempDir tmp;
  const ProcessResult result =
      run_process({bin_dir() + "/kestrum-sandbox-recorded", "probe"},
                  std::vector<std::string>{"TMPDIR=" + tmp.path() + "/", "PATH=/usr/bin:/bin"});
  EXPECT_EQ(result.exit_code, 125);
  EXPECT_EQ(result.err, "kestrum-sandbox: the sandbox did not keep a command to its project\n");
  EXPECT_TRUE(empty_folder(tmp.path()));
}

bool can_make_mount_namespaces() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(::unshare(CLONE_NEWNS) == 0 ? 0 : 1);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(Probe, ReportsSuccessWhenTheSandboxKeepsTheCommandToItsProject) {
  if (!can_make_mount_namespaces()) GTEST_SKIP() << "the enforcing stand-in needs mount namespaces";
  TempDir tmp;
  const ProcessResult result =
      run_process({bin_dir() + "/kestrum-sandbox-enforced", "probe"},
                  std::vector<std::string>{"TMPDIR=" + tmp.path(), "PATH=/usr/bin:/bin"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out,
            "{\"name\":\"Seatbelt\",\"network\":true,\"policyVersion\":6,\"version\":\"0.1.0-beta."
            "8\"}\n");
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(empty_folder(tmp.path()));
}

TEST(Probe, NeverFollowsALinkPlantedAtItsHiddenFile) {
  TempDir tmp;
  TempDir elsewhere;
  const std::string victim = elsewhere.path() + "/victim";
  write_file(victim, "precious");
  // The probe's folder is named after the probe's process ID, which the test
  // learns only by starting it; plant links for every plausible ID instead of
  // racing it: fork a child that plants for its own future exec.
  const pid_t child = ::fork();
  if (child == 0) {
    const std::string folder = tmp.path() + "/kestrum-sandbox-probe-" + std::to_string(::getpid());
    ::mkdir(folder.c_str(), 0777);
    if (::symlink(victim.c_str(), (folder + "/hidden").c_str()) != 0) ::_exit(99);
    const std::string exe = bin_dir() + "/kestrum-sandbox-recorded";
    const std::string tmpdir = "TMPDIR=" + tmp.path();
    char* const argv[] = {const_cast<char*>(exe.c_str()), const_cast<char*>("probe"), nullptr};
    char* const envp[] = {const_cast<char*>(tmpdir.c_str()), nullptr};
    ::execve(exe.c_str(), argv, envp);
    ::_exit(98);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 125);
  EXPECT_EQ(read_file(victim), "precious");
}

TEST(Probe, TemporaryFolderThatCannotBeWrittenGivesTheSystemError) {
  TempDir tmp;
  const std::string file = tmp.path() + "/not-a-folder";
  write_file(file, "");
  const ProcessResult result = run_process({bin_dir() + "/kestrum-sandbox-recorded", "probe"},
                                           std::vector<std::string>{"TMPDIR=" + file});
  EXPECT_EQ(result.exit_code, 125);
  EXPECT_EQ(result.err, "kestrum-sandbox: Not a directory (os error 20)\n");
}

}  // namespace
}  // namespace kestrum::testing
