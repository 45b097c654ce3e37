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
#include "servers.h"

namespace kestrum::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::string_literals;

std::string policy_with_network(const std::string& cwd, const std::string& network) {
  return R"({"version":6,"cwd":")" + cwd +
         R"(","write":[],"denyWrite":[],"denyRead":[],"denyEnv":[],"network":)" + network + "}";
}

ProcessOptions launcher_options(std::vector<std::string> args) {
  ProcessOptions options;
  options.argv = {bin_dir() + "/kestrum-sandbox-recorded"};
  options.argv.insert(options.argv.end(), args.begin(), args.end());
  return options;
}

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
  EXPECT_EQ(read_to_end(events.read_end.get()),
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

// A command that publishes its proxy address and waits for the test to let
// it finish, so that the test can talk to the proxy directly meanwhile.
class RawProxy : public ::testing::Test {
 protected:
  void start(const std::string& network, bool with_events) {
    const std::string script = "printf %s \"$HTTP_PROXY\" > " + dir_.path() +
                               "/address.tmp && mv " + dir_.path() + "/address.tmp " + dir_.path() +
                               "/address; while [ ! -e " + dir_.path() +
                               "/finish ]; do sleep 0.02; done; exit 0";
    std::vector<std::string> args = {"run", "--policy", policy_with_network(dir_.path(), network)};
    if (with_events) args.insert(args.end(), {"--events-fd", "9"});
    args.insert(args.end(), {"--", "/bin/sh", "-c", script});
    auto options = launcher_options(args);
    if (with_events) options.inherit = {{9, events_.write_end.get()}};
    launcher_ = std::make_unique<Process>(options);
    events_.write_end.reset();
    ASSERT_TRUE(wait_for_file(dir_.path() + "/address"));
    const std::string address = read_file(dir_.path() + "/address");
    port_ = static_cast<std::uint16_t>(std::stoi(address.substr(address.rfind(':') + 1)));
  }

  ProcessResult finish() {
    write_file(dir_.path() + "/finish", "");
    return launcher_->wait();
  }

  // Sends `request` (half-closing when asked) and returns all that comes back.
  std::string exchange(const std::string& request, bool half_close = true) {
    const int fd = connect_loopback(port_);
    EXPECT_GE(fd, 0);
    write_all_to(fd, request);
    if (half_close) ::shutdown(fd, SHUT_WR);
    std::string answer = read_to_end(fd);
    ::close(fd);
    return answer;
  }

  std::string proc(const std::string& what) {
    return "/proc/" + std::to_string(launcher_->pid()) + "/" + what;
  }

  // Threads and descriptors settle once the connection threads are gone.
  bool settles_to(std::size_t threads, std::size_t fds) {
    for (int i = 0; i < 200; ++i) {
      if (count_entries(proc("task")) == threads && count_entries(proc("fd")) == fds) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
  }

  TempDir dir_;
  Pipe events_;
  std::unique_ptr<Process> launcher_;
  std::uint16_t port_ = 0;
};

TEST_F(RawProxy, AnswersMalformedAndFailingRequestsAndKeepsServing) {
  PeerServer echo(echo_handler);
  PeerServer closer([](int) {});  // accepts and hangs up at once
  int closed_port_fd =
      ::socket(AF_INET, SOCK_STREAM, 0);  // bound, never listening: connects are refused
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(closed_port_fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::getsockname(closed_port_fd, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string closed_port = std::to_string(ntohs(address.sin_port));
  const std::string echo_port = std::to_string(echo.port());
  const std::string closer_port = std::to_string(closer.port());

  start(R"({"allow":["127.0.0.1","*.allowed.test"]})", false);
  const std::size_t idle_threads = count_entries(proc("task"));
  const std::size_t idle_fds = count_entries(proc("fd"));

  struct Case {
    std::string request;
    std::string answer;
  };
  const std::string bad_request = "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n";
  const Case cases[] = {
      {"GET /x HTTP/1.1\r\n\r\n", bad_request},
      {"NOSPACE\r\n\r\n", bad_request},
      {"\r\n\r\n", bad_request},
      {"CONNECT 127.0.0.1:99999 HTTP/1.1\r\n\r\n", bad_request},
      {"CONNECT 127.0.0.1:" + closed_port + " HTTP/1.1\r\n\r\n",
       "HTTP/1.1 502 Bad Gateway\r\nConnection: close\r\n\r\n"},
      {"GET http://open-url.kestrum.invalid/?url=https%3A%2F%2Fa.test HTTP/1.1\r\n\r\n",
       "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\n\r\n"},
      {"POST http://open-url.kestrum.invalid/ HTTP/1.1\r\n\r\n", bad_request},
      // Cut short, or too long without a terminator: closed with no answer.
      {"GET http://127.0.0.1/ HTTP/1.1\r\n", ""},
      {std::string(16385, 'a'), ""},
      // A terminator within the first 16384 bytes is always accepted.
      {std::string(16380, 'a') + "\r\n\r\n", bad_request},
      // The tunnel carries the bytes sent with the head and ends with the client's half-close.
      {"CONNECT 127.0.0.1:" + echo_port + " HTTP/1.1\r\n\r\nping",
       "HTTP/1.1 200 Connection Established\r\n\r\nping"},
      // A server that hangs up ends the tunnel, or the forwarded exchange, with nothing more.
      {"CONNECT 127.0.0.1:" + closer_port + " HTTP/1.1\r\n\r\nhello",
       "HTTP/1.1 200 Connection Established\r\n\r\n"},
      {"GET http://127.0.0.1:" + closer_port + "/ HTTP/1.1\r\n\r\n", ""},
      // The resolver would read the host only up to the NUL: a host the
      // pattern never judged.
      {"CONNECT 127.0.0.1\0.allowed.test:"s + echo_port + " HTTP/1.1\r\n\r\nping",
       "HTTP/1.1 502 Bad Gateway\r\nConnection: close\r\n\r\n"},
      {"CONNECT refused.test:443 HTTP/1.1\r\n\r\n",
       "HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain\r\nContent-Length: 78\r\nConnection: "
       "close\r\n\r\n"
       "The Kestrum sandbox does not allow refused.test; ask for it in network_hosts.\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(exchange(c.request), c.answer) << c.request.substr(0, 60);

  // A client that resets mid-tunnel does not disturb the proxy.
  const int fd = connect_loopback(port_);
  write_all_to(fd, "CONNECT 127.0.0.1:" + echo_port + " HTTP/1.1\r\n\r\n");
  read_head_from(fd);
  linger reset = {1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::close(fd);

  EXPECT_EQ(exchange("CONNECT 127.0.0.1:" + echo_port + " HTTP/1.1\r\n\r\nagain"),
            "HTTP/1.1 200 Connection Established\r\n\r\nagain");
  EXPECT_TRUE(settles_to(idle_threads, idle_fds))
      << "threads or descriptors outlived their connections";
  const ProcessResult result = finish();
  EXPECT_EQ(result.exit_code, 0) << result.err;
  ::close(closed_port_fd);
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
  EXPECT_EQ(read_to_end(events_.read_end.get()),
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
  EXPECT_EQ(result.out, "{\"allowed\":false,\"host\":\"refused.test\",\"type\":\"network\"}\n");
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
  direct.argv = {"/bin/ls", "/proc/self/fd"};
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
    args.insert(args.end(), {"--", "/bin/ls", "/proc/self/fd"});
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
