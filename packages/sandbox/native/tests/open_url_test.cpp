// Black-box tests of open-url: the client inside the sandbox, the proxy
// outside.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
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
  Pipe events;
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
  options.inherit = {{5, events.write_end.get()}};
  Process launcher(options);
  events.write_end.reset();
  const ProcessResult result = launcher.wait();
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(recorded_events(read_to_end(events.read_end.get())),
            "{\"type\":\"openUrl\",\"url\":\"https://a.test/p?q=1&r=2\"}\n"
            "{\"type\":\"openUrl\",\"url\":\"https://a.test/caf\xC3\xA9?x=\\\"y\\\"\"}\n");
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

}  // namespace
}  // namespace kestrum::testing
