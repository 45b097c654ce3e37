// Black-box tests of the loopback proxy through the real launcher: real curl
// inside (through the recording stand-in), real servers outside, events read
// from a pipe.
#include <dirent.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <sstream>
#include <thread>

#include "process.h"
#include "raw_proxy.h"
#include "servers.h"

namespace kestrum::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::string_literals;

TEST(ProxyWithCurl, ForwardsTunnelsRefusesAndReportsEachHost) {
  TempDir dir;
  OriginServer origin;
  const std::string socket_path = dir.path() + "/cred.sock";
  std::mutex saw_lock;
  std::string service_saw;
  PeerServer service(socket_path, [&](int fd) {
    const std::string head = read_head_from(fd);
    {
      std::lock_guard<std::mutex> held(saw_lock);
      service_saw = head;
    }
    write_all_to(fd, "HTTP/1.1 200 Connection established\r\n\r\n");
    if (read_head_from(fd).empty()) return;
    write_all_to(fd,
                 "HTTP/1.1 200 OK\r\nContent-Length: 12\r\nConnection: close\r\n\r\nfrom service");
  });
  const std::string port = std::to_string(origin.port());
  const std::string network =
      R"({"allow":["127.0.0.1","LOCALHOST","cred.test"],"credentials":{"socket":")" + socket_path +
      R"(","command":"git","hosts":["cred.test"],"certificates":"/c.pem"}})";
  const std::string script = "curl -sS http://127.0.0.1:" + port +
                             "/plain?q=1; echo; "
                             "curl -sS -p http://localhost:" +
                             port +
                             "/tunnel; echo; "
                             "curl -sS http://Refused.Test/; "
                             "curl -sS -p http://cred.test:" +
                             port +
                             "/cred; echo; "
                             "exit 3";
  Pipe events;
  auto options = launcher_options({"run", "--policy", policy_with_network(dir.path(), network),
                                   "--events-fd", "9", "--", "/bin/sh", "-c", script});
  options.inherit = {{9, events.write_end.get()}};
  Process launcher(options);
  events.write_end.reset();
  const ProcessResult result = launcher.wait();

  EXPECT_EQ(result.exit_code, 3) << result.err;
  EXPECT_EQ(result.out,
            "GET /plain?q=1 HTTP/1.1|hello\n"
            "GET /tunnel HTTP/1.1|hello\n"
            "The Kestrum sandbox does not allow refused.test; ask for it in network_hosts.\n"
            "from service\n");
  EXPECT_EQ(recorded_events(read_to_end(events.read_end.get())),
            "{\"allowed\":true,\"host\":\"127.0.0.1\",\"type\":\"network\"}\n"
            "{\"allowed\":true,\"host\":\"localhost\",\"type\":\"network\"}\n"
            "{\"allowed\":false,\"host\":\"refused.test\",\"type\":\"network\"}\n"
            "{\"allowed\":true,\"host\":\"cred.test\",\"type\":\"network\"}\n");
  std::lock_guard<std::mutex> held(saw_lock);
  EXPECT_EQ(service_saw, "CONNECT cred.test:" + port + " HTTP/1.1\r\nHost: cred.test:" + port +
                             "\r\nKestrum-Command: git");
  const auto heads = origin.heads();
  ASSERT_EQ(heads.size(), 2u);
  EXPECT_THAT(heads[0],
              ::testing::StartsWith("GET /plain?q=1 HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\n"));
  EXPECT_THAT(heads[0], ::testing::EndsWith("\r\nConnection: close"));
  EXPECT_THAT(heads[0], Not(HasSubstr("Proxy-Connection")));
}

TEST_F(RawProxy, AnswersMalformedAndFailingRequestsAndKeepsServing) {
  start(kEveryKindNetwork, false);
  exercise_every_kind_of_connection();
  const ProcessResult result = finish();
  EXPECT_EQ(result.exit_code, 0) << result.err;
}

// The system would read the socket path only up to the NUL, and so reach a
// service the policy does not name.
TEST_F(RawProxy, ACredentialSocketPathHoldingANulIsUnreachable) {
  const std::string socket_path = dir_.path() + "/cred.sock";
  PeerServer service(socket_path, [](int fd) {
    read_head_from(fd);
    write_all_to(fd, "HTTP/1.1 200 Connection established\r\n\r\n");
  });
  start(R"({"allow":["cred.test"],"credentials":{"socket":")" + socket_path +
            R"(\u0000x","command":"git","hosts":["cred.test"],"certificates":"/c.pem"}})",
        false);
  EXPECT_EQ(exchange("CONNECT cred.test:443 HTTP/1.1\r\n\r\n"),
            "HTTP/1.1 502 Bad Gateway\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(finish().exit_code, 0);
}

TEST_F(RawProxy, OpenUrlRequestsBecomeEventsWithoutNetworkEvents) {
  start(R"({"allow":[]})", true);
  const std::string no_content = "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n";
  const std::string bad_request = "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n";
  EXPECT_EQ(
      exchange("GET http://open-url.kestrum.invalid/?url=https://a.test&x=1 HTTP/1.1\r\n\r\n"),
      no_content);
  EXPECT_EQ(exchange("POST http://OPEN-URL.kestrum.invalid:81/?url=https%3A%2F%2Fa.test%22%0A "
                     "HTTP/1.1\r\n\r\n"),
            no_content);
  EXPECT_EQ(
      exchange("GET http://open-url.kestrum.invalid/?url=ftp%3A%2F%2Fa.test HTTP/1.1\r\n\r\n"),
      bad_request);
  EXPECT_EQ(
      exchange("GET http://open-url.kestrum.invalid/?URL=https%3A%2F%2Fa.test HTTP/1.1\r\n\r\n"),
      bad_request);
  // A CONNECT to the reserved host is an ordinary host.
  EXPECT_THAT(exchange("CONNECT open-url.kestrum.invalid:443 HTTP/1.1\r\n\r\n"),
              HasSubstr("403 Forbidden"));
  const ProcessResult result = finish();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(recorded_events(read_to_end(events_.read_end.get())),
            "{\"type\":\"openUrl\",\"url\":\"https://a.test&x=1\"}\n"
            "{\"type\":\"openUrl\",\"url\":\"https://a.test\\\"\\n\"}\n"
            "{\"allowed\":false,\"host\":\"open-url.kestrum.invalid\",\"type\":\"network\"}\n");
}

TEST(ProxyLauncher, ForwardsSignalsAndMirrorsHowTheCommandEnded) {
  TempDir dir;
  const std::string ready = dir.path() + "/ready";
  const std::string policy = policy_with_network(dir.path(), R"({"allow":["x.test"]})");
  {
    Process launcher(launcher_options(
        {"run", "--policy", policy, "--", "/bin/sh", "-c",
         "trap 'exit 42' TERM; touch " + ready + "; while :; do sleep 0.02; done"}));
    ASSERT_TRUE(wait_for_file(ready));
    ::kill(launcher.pid(), SIGTERM);
    const ProcessResult result = launcher.wait();
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_code, 42);
  }
  const ProcessResult killed = run_process(
      launcher_options({"run", "--policy", policy, "--", "/bin/sh", "-c", "kill -KILL $$"}));
  EXPECT_FALSE(killed.exited);
  EXPECT_EQ(killed.signal, SIGKILL);
}

TEST(ProxyLauncher, EventsOnStandardOutputLeaveTheCommandWithoutOne) {
  TempDir dir;
  const ProcessResult result = run_process(launcher_options(
      {"run", "--policy", policy_with_network(dir.path(), R"({"allow":[]})"), "--events-fd", "1",
       "--", "/bin/sh", "-c", "curl -s -o /dev/null http://refused.test/; echo visible; exit 0"}));
  EXPECT_EQ(recorded_events(result.out),
            "{\"allowed\":false,\"host\":\"refused.test\",\"type\":\"network\"}\n");
}

// A number that is not an open descriptor would later be taken by the
// proxy's own sockets, and event lines would go into forwarded requests.
TEST(ProxyLauncher, RefusesAnEventDescriptorThatIsNotOpen) {
  TempDir dir;
  const struct {
    std::string fd;
    std::string err;
  } cases[] = {
      {"-1", "kestrum-sandbox: could not start the proxy: the event descriptor -1 is negative\n"},
      {"57", "kestrum-sandbox: could not start the proxy: the event descriptor 57 is not open\n"},
  };
  for (const auto& c : cases) {
    const ProcessResult result = run_process(
        launcher_options({"run", "--policy", policy_with_network(dir.path(), R"({"allow":[]})"),
                          "--events-fd", c.fd, "--", "/bin/sh", "-c", "echo ran"}));
    EXPECT_EQ(result.exit_code, 125) << c.fd;
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out, "") << "the command must not have run";
  }
}

}  // namespace
}  // namespace kestrum::testing

namespace kestrum::testing {
namespace {

// The command must hold nothing of the launcher's own: not the listener, not
// the event descriptor, not a connection. It sees exactly what `ls` sees when
// started the same way without the launcher (whatever this test process
// itself inherited included).
TEST(LauncherHygiene, TheCommandInheritsNothingOfTheLaunchers) {
  TempDir dir;
  ProcessOptions direct;
  direct.argv = {"/bin/ls", "/dev/fd/"};
  const std::string baseline = run_process(direct).out;
  ASSERT_THAT(baseline, ::testing::StartsWith("0\n1\n"));
  struct Case {
    std::string network;
    bool with_events;
  };
  const Case cases[] = {
      {R"({"allow":[]})", false}, {R"({"allow":["x.test"]})", false}, {R"({"allow":[]})", true}};
  for (const auto& c : cases) {
    Pipe events;
    std::vector<std::string> args = {"run", "--policy", policy_with_network(dir.path(), c.network)};
    if (c.with_events) args.insert(args.end(), {"--events-fd", "7"});
    args.insert(args.end(), {"--", "/bin/ls", "/dev/fd/"});
    auto options = launcher_options(args);
    if (c.with_events) options.inherit = {{7, events.write_end.get()}};
    Process launcher(options);
    events.write_end.reset();
    const ProcessResult result = launcher.wait();
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, baseline) << c.network << (c.with_events ? " with events" : "");
  }
}

}  // namespace
}  // namespace kestrum::testing
