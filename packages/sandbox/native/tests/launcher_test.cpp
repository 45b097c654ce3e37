// Black-box tests of the kestrum-sandbox binary: the command line, and run
// through the recording stand-in, which records what it was handed and then
// becomes the command.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include "process.h"

namespace kestrum::testing {
namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

const std::string kUsageError =
    "kestrum-sandbox: usage: kestrum-sandbox run --policy <json> [--events-fd <fd>] -- <program> "
    "[args...]\n"
    "       kestrum-sandbox probe\n"
    "       kestrum-sandbox forget [<folder>]\n"
    "       kestrum-sandbox open-url <url>\n";

std::string launcher(const std::string& name = "kestrum-sandbox") { return bin_dir() + "/" + name; }

std::string policy_json(const std::string& cwd, const std::string& deny_env = "[]",
                        const std::string& extra = "",
                        const std::string& network = R"({"allow":[]})") {
  return R"({"version":6,"cwd":")" + cwd +
         R"(","write":[],"denyWrite":[],"denyRead":[],"denyEnv":)" + deny_env + extra +
         R"(,"network":)" + network + "}";
}

std::string minimal_policy(const std::string& cwd) { return policy_json(cwd); }

ProcessResult run_launcher(const std::vector<std::string>& args,
                           const std::string& name = "kestrum-sandbox",
                           std::optional<std::vector<std::string>> env = std::nullopt) {
  ProcessOptions options;
  options.argv = {launcher(name)};
  options.argv.insert(options.argv.end(), args.begin(), args.end());
  options.env = std::move(env);
  options.record = true;
  return run_process(options);
}

std::vector<std::string> record_values(const std::string& record, const std::string& kind) {
  std::vector<std::string> values;
  for (auto& [k, v] : parse_record(record)) {
    if (k == kind) values.push_back(v);
  }
  return values;
}

TEST(LauncherCommandLine, AnswersEachShapeWithItsOutputAndStatus) {
  const std::string usage_text = kUsageError.substr(std::string("kestrum-sandbox: ").size());
  const std::string bad_policy = "{";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {{}, 125, "", kUsageError},
      {{"RUN"}, 125, "", kUsageError},
      {{"runner"}, 125, "", kUsageError},
      {{"forgetting"}, 125, "", kUsageError},
      {{"--help", "more", "words"}, 0, usage_text, ""},
      {{"--version", "x"}, 0, "kestrum-sandbox 0.1.0-beta.8\n", ""},
      {{"forget"}, 0, "", ""},
      {{"forget", "/no/such/folder"}, 0, "", ""},
      {{"forget", ""}, 0, "", ""},
      {{"forget", "a", "b"}, 125, "", kUsageError},
      {{"run"}, 125, "", kUsageError},
      {{"run", "--policy", "{}", "--"}, 125, "", kUsageError},
      {{"run", "--policy", "{}", "/bin/true"}, 125, "", kUsageError},
      {{"run", "--events-fd", "3", "--policy", "{}", "--", "/bin/true"}, 125, "", kUsageError},
      {{"run", "--policy", "{}", "--events-fd", "--", "/bin/true"}, 125, "", kUsageError},
      {{"run", "--policy", bad_policy, "--events-fd", "7x", "--", "/bin/true"},
       125,
       "",
       kUsageError},
      {{"run", "--polcy", bad_policy, "--", "/bin/true"}, 125, "", kUsageError},
      {{"run", "x", "--policy", bad_policy, "--", "/bin/true"}, 125, "", kUsageError},
      // A well-formed FD lets parsing reach the policy.
      {{"run", "--policy", bad_policy, "--events-fd", "+7", "--", "/bin/true"},
       125,
       "",
       "kestrum-sandbox: invalid policy: EOF while parsing an object at line 1 column 1\n"},
      {{"run", "--policy", bad_policy, "--", "/bin/true"},
       125,
       "",
       "kestrum-sandbox: invalid policy: EOF while parsing an object at line 1 column 1\n"},
      {{"https://example.test/a", "b"}, 125, "", kUsageError},
      {{"HTTPS://example.test/a"}, 125, "", kUsageError},
      {{"ftp://example.test/a"}, 125, "", kUsageError},
      {{"\xff\xfe"}, 125, "", kUsageError},
  };
  for (const auto& c : cases) {
    const ProcessResult result = run_launcher(c.args);
    const std::string label = ::testing::PrintToString(c.args);
    EXPECT_TRUE(result.exited) << label;
    EXPECT_EQ(result.exit_code, c.status) << label;
    EXPECT_EQ(result.out, c.out) << label;
    EXPECT_EQ(result.err, c.err) << label;
  }
}

TEST(LauncherCommandLine, UsageTextIsExactly192Bytes) {
  const ProcessResult result = run_launcher({"--help"});
  ASSERT_EQ(result.out.size(), 193u);
  EXPECT_EQ(result.out.back(), '\n');
}

TEST(LauncherRun, BecomesTheToolInPlaceWithProfileArgumentsAndCanonicalFolder) {
  TempDir dir;
  ASSERT_EQ(::mkdir((dir.path() + "/real").c_str(), 0755), 0);
  ASSERT_EQ(::symlink((dir.path() + "/real").c_str(), (dir.path() + "/link").c_str()), 0);
  const std::string canonical = dir.path() + "/real";
  const std::vector<std::string> command = {"/bin/sh",           "-c", "exit 7", "--", "a b", "",
                                            "\xff\xfe-not-utf8", "--"};
  std::vector<std::string> args = {"run", "--policy", minimal_policy(dir.path() + "/link/."), "--"};
  args.insert(args.end(), command.begin(), command.end());

  const ProcessResult result = run_launcher(args, "kestrum-sandbox-recorded");

  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exit_code, 7) << result.err;
  EXPECT_EQ(result.err, "");
  const auto argv = record_values(result.record, "arg");
  ASSERT_EQ(argv.size(), 3 + command.size());
  EXPECT_EQ(argv[0], bin_dir() + "/kestrum-recorder");
  EXPECT_EQ(argv[1], "-p");
  EXPECT_THAT(argv[2], ::testing::StartsWith("(version 1)\n(deny default)\n"));
  EXPECT_THAT(std::vector<std::string>(argv.begin() + 3, argv.end()), ElementsAreArray(command));
  EXPECT_THAT(record_values(result.record, "cwd"), ElementsAreArray({canonical}));
  EXPECT_THAT(record_values(result.record, "pid"), ElementsAreArray({std::to_string(result.pid)}));
  EXPECT_THAT(record_values(result.record, "sigpipe"), ElementsAreArray({"default"}));
}

TEST(LauncherRun, HandsOverTheShapedEnvironmentOnceEachSorted) {
  TempDir dir;
  const std::vector<std::string> env = {
      "PATH=/usr/bin:/bin",
      "GITHUB_TOKEN=t1",
      "github_token=t2",
      "TOKEN_FILE=keep",
      "HTTPS_PROXY=http://up:1",
      "Http_Proxy=http://up:2",
      "NO_PROXY=x",
      "AWS_REGION=eu",
      "aws_region=gone",
      "AWS_SECRET_ACCESS_KEY=s",
      "SSL_CERT_FILE=/mine.pem",
      "ZED=\xff\xfe",
  };
  const std::string policy = policy_json(dir.path(), R"(["*_TOKEN","aws_*"])",
                                         R"(,"keepEnv":["AWS_REGION","HTTPS_PROXY"])");
  const ProcessResult result =
      run_launcher({"run", "--policy", policy, "--", "/bin/true"}, "kestrum-sandbox-recorded", env);

  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_THAT(record_values(result.record, "env"),
              ElementsAreArray({"AWS_REGION=eu", "PATH=/usr/bin:/bin", "SSL_CERT_FILE=/mine.pem",
                                "TOKEN_FILE=keep", "ZED=\xff\xfe"}));
}

TEST(LauncherRun, DefaultsTheCertificateBundleAndPointsCredentialsAtTheirFile) {
  TempDir dir;
  const std::string policy = policy_json(
      dir.path(), "[]", "",
      R"({"allow":[],"credentials":{"socket":"/tmp/cred.sock","command":"git","hosts":["*.test"],"certificates":"/x/../ca.pem"}})");
  const std::vector<std::string> env = {"PATH=/bin", "GIT_SSL_CAINFO=/old.pem"};

  const ProcessResult plain =
      run_launcher({"run", "--policy", minimal_policy(dir.path()), "--", "/bin/true"},
                   "kestrum-sandbox-recorded", env);
  EXPECT_THAT(record_values(plain.record, "env"),
              ElementsAreArray(
                  {"GIT_SSL_CAINFO=/old.pem", "PATH=/bin", "SSL_CERT_FILE=/etc/ssl/cert.pem"}));

  const ProcessResult with_credentials =
      run_launcher({"run", "--policy", policy, "--", "/bin/true"}, "kestrum-sandbox-recorded", env);
  ASSERT_EQ(with_credentials.exit_code, 0) << with_credentials.err;
  const auto seen = record_values(with_credentials.record, "env");
  const std::vector<std::string> certificate_names = {
      "AWS_CA_BUNDLE",  "CARGO_HTTP_CAINFO",   "CURL_CA_BUNDLE", "DENO_CERT",
      "GIT_SSL_CAINFO", "NODE_EXTRA_CA_CERTS", "PIP_CERT",       "REQUESTS_CA_BUNDLE",
      "SSL_CERT_FILE",  "ZUVEV_CA_CERTIFICATE"};
  std::vector<std::string> expected = {"PATH=/bin"};
  for (const auto& name : certificate_names) expected.push_back(name + "=/x/../ca.pem");
  std::sort(expected.begin(), expected.end());
  EXPECT_THAT(seen, ElementsAreArray(expected));
}

// A path holding a NUL would stand for the path before it ("/" here) if it
// reached the system; it must open nothing at all.
TEST(LauncherRun, PathsHoldingANulOpenNothing) {
  TempDir dir;
  const std::string list = R"(["/\u0000)" + dir.path() + R"(", ")" + dir.path() + R"(\u0000x"])";
  const std::string policy = R"({"version":6,"cwd":")" + dir.path() + R"(","write":)" + list +
                             R"(,"writeFiles":)" + list + R"(,"denyWrite":)" + list +
                             R"(,"denyRead":)" + list +
                             R"(,"denyEnv":[],"network":{"allow":[],"sockets":)" + list + "}}";
  const auto profile = [](const std::string& text) {
    const ProcessResult result =
        run_launcher({"run", "--policy", text, "--", "/bin/true"}, "kestrum-sandbox-recorded");
    EXPECT_EQ(result.exit_code, 0) << result.err;
    const auto argv = record_values(result.record, "arg");
    return argv.size() > 2 ? argv[2] : "no profile";
  };
  EXPECT_EQ(profile(policy), profile(minimal_policy(dir.path())));
}

// Files opened relative to a folder descriptor would not pass the sandbox's
// rules on every system; the launcher refuses one as a standard descriptor.
TEST(LauncherRun, RefusesAFolderAsAStandardDescriptor) {
  TempDir dir;
  const int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(folder, 0);
  const struct {
    int fd;
    std::string err;  // nothing can be read from a folder on standard error
  } cases[] = {
      {0, "kestrum-sandbox: standard input is a folder\n"},
      {1, "kestrum-sandbox: standard output is a folder\n"},
      {2, ""},
  };
  for (const auto& c : cases) {
    ProcessOptions options;
    options.argv = {launcher("kestrum-sandbox-recorded"), "run", "--policy",
                    minimal_policy(dir.path()),           "--",  "/bin/true"};
    options.record = true;
    options.inherit = {{c.fd, folder}};
    const ProcessResult result = run_process(options);
    EXPECT_EQ(result.exit_code, 125) << c.fd;
    EXPECT_EQ(result.err, c.err) << c.fd;
    EXPECT_EQ(result.record, "") << "the tool must not have run for descriptor " << c.fd;
  }
  ::close(folder);
}

TEST(LauncherRun, CommandSignalEndsTheLauncherProcessItself) {
  TempDir dir;
  const ProcessResult result = run_launcher(
      {"run", "--policy", minimal_policy(dir.path()), "--", "/bin/sh", "-c", "kill -TERM $$"},
      "kestrum-sandbox-recorded");
  EXPECT_FALSE(result.exited);
  EXPECT_EQ(result.signal, SIGTERM);
}

TEST(LauncherRun, ReportsStartFailuresWithTheToolPath) {
  TempDir dir;
  write_file(dir.path() + "/file", "x");
  const std::string recorder = bin_dir() + "/kestrum-recorder";
  const std::string nul_policy = policy_json(
      dir.path(), "[]", "",
      R"({"allow":[],"credentials":{"socket":"/s","command":"c","hosts":[],"certificates":"/a\u0000b"}})");
  struct Case {
    std::string name;
    std::string policy;
    std::string err;
  };
  // Behind the proxy the command starts in a child, which reports back.
  const auto proxied = [](const std::string& cwd, const std::string& network_extra = "") {
    return policy_json(cwd, "[]", "", R"({"allow":["a.test"])" + network_extra + "}");
  };
  const std::string nul_certificates =
      R"(,"credentials":{"socket":"/s","command":"c","hosts":[],"certificates":"/a\u0000b"})";
  const Case cases[] = {
      {"kestrum-sandbox-missing", minimal_policy(dir.path()),
       "kestrum-sandbox: could not start " + bin_dir() +
           "/no-such-sandbox-tool: No such file or directory (os error 2)\n"},
      {"kestrum-sandbox-missing", proxied(dir.path()),
       "kestrum-sandbox: could not start " + bin_dir() +
           "/no-such-sandbox-tool: No such file or directory (os error 2)\n"},
      {"kestrum-sandbox-recorded", minimal_policy(dir.path() + "/file"),
       "kestrum-sandbox: could not start " + recorder + ": Not a directory (os error 20)\n"},
      {"kestrum-sandbox-recorded", proxied(dir.path() + "/file"),
       "kestrum-sandbox: could not start " + recorder + ": Not a directory (os error 20)\n"},
      {"kestrum-sandbox-recorded", nul_policy,
       "kestrum-sandbox: could not start " + recorder + ": nul byte found in provided data\n"},
      {"kestrum-sandbox-recorded", proxied(dir.path(), nul_certificates),
       "kestrum-sandbox: could not start " + recorder + ": nul byte found in provided data\n"},
      {"kestrum-sandbox-recorded", minimal_policy(dir.path() + "/absent"),
       "kestrum-sandbox: " + dir.path() + "/absent: No such file or directory (os error 2)\n"},
      {"kestrum-sandbox-recorded", minimal_policy("relative"),
       "kestrum-sandbox: policy path relative is not absolute\n"},
      {"kestrum-sandbox-recorded", minimal_policy(dir.path() + "\\u0000/file"),
       "kestrum-sandbox: " + dir.path() + std::string("\0/file", 6) +
           ": file name contained an unexpected NUL byte\n"},
  };
  for (const auto& c : cases) {
    const ProcessResult result =
        run_launcher({"run", "--policy", c.policy, "--", "/bin/true"}, c.name);
    EXPECT_EQ(result.exit_code, 125) << c.policy;
    EXPECT_EQ(result.err, c.err) << c.policy;
    EXPECT_EQ(result.record, "") << "the tool must not have run for " << c.policy;
  }
}

}  // namespace
}  // namespace kestrum::testing
