// The CONNECT exchange with an upstream proxy, against scripted upstreams,
// and the whole route through real tinyproxy with Basic authentication.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "process.h"
#include "proxy/upstream.h"
#include "servers.h"

namespace kestrum::testing {
namespace {

using sandbox::UpstreamProxy;

TEST(ConnectViaUpstream, OpensOnlyOnA200StatusField) {
  struct Case {
    std::string answer;
    bool opens;
  };
  const Case cases[] = {
      {"HTTP/1.0 200 Connection established\r\n\r\n", true},
      {"HTTP/1.1 200 OK\r\nVia: x\r\n\r\n", true},
      {"HTTP/1.1 407 Proxy Authentication Required\r\n\r\n", false},
      // Without a reason phrase the second field runs into the next line.
      {"HTTP/1.1 200\r\nX: y\r\n\r\n", false},
      {"HTTP/1.1200\r\n\r\n", false},
      {"garbage\r\n\r\n", false},
      {"", false},  // closes without an answer
  };
  for (const auto& c : cases) {
    std::mutex lock;
    std::string seen;
    PeerServer upstream([&](int fd) {
      const std::string head = read_head_from(fd);
      {
        std::lock_guard<std::mutex> held(lock);
        seen = head;
      }
      write_all_to(fd, c.answer + "tunnel bytes");
    });
    const UpstreamProxy proxy{"127.0.0.1:" + std::to_string(upstream.port()), {}, "Basic dTpw"};
    auto stream = sandbox::connect_via_upstream(proxy, "::1", 8443);
    EXPECT_EQ(stream.ok(), c.opens) << c.answer;
    std::lock_guard<std::mutex> held(lock);
    EXPECT_EQ(seen,
              "CONNECT [::1]:8443 HTTP/1.1\r\nHost: [::1]:8443\r\nProxy-Authorization: Basic dTpw");
  }
}

TEST(ConnectViaUpstream, FailsWhenTheUpstreamCannotBeReached) {
  for (const std::string address : {"127.0.0.1:1", "[::1]", "no-port", "127.0.0.1:99999"}) {
    auto stream =
        sandbox::connect_via_upstream(UpstreamProxy{address, {}, std::nullopt}, "a.test", 80);
    EXPECT_FALSE(stream.ok()) << address;
  }
}

// An upstream that answers 200 to every CONNECT, on IPv4 or IPv6 loopback.
class AgreeingUpstream {
 public:
  explicit AgreeingUpstream(bool ipv6) {
    fd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    sockaddr_storage storage = {};
    socklen_t length = 0;
    if (ipv6) {
      auto* address = reinterpret_cast<sockaddr_in6*>(&storage);
      address->sin6_family = AF_INET6;
      address->sin6_addr = in6addr_loopback;
      length = sizeof *address;
    } else {
      auto* address = reinterpret_cast<sockaddr_in*>(&storage);
      address->sin_family = AF_INET;
      address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      length = sizeof *address;
    }
    auto* generic = reinterpret_cast<sockaddr*>(&storage);
    if (::bind(fd_, generic, length) != 0 || ::listen(fd_, 8) != 0 ||
        ::getsockname(fd_, generic, &length) != 0) {
      return;
    }
    port_ = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                       : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    thread_ = std::thread([fd = fd_] {
      for (int client; (client = ::accept(fd, nullptr, nullptr)) >= 0; ::close(client)) {
        read_head_from(client);
        write_all_to(client, "HTTP/1.1 200 OK\r\n\r\n");
      }
    });
  }
  ~AgreeingUpstream() {
    ::shutdown(fd_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    ::close(fd_);
  }
  std::uint16_t port() const { return port_; }  // 0 when the loopback is missing

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

// Brackets hold a numeric IPv6 literal or nothing of their own: any other
// text in them goes to the resolver as written, and fails there.
TEST(ConnectViaUpstream, UnbracketsOnlyANumericIPv6Literal) {
  AgreeingUpstream v4(false);
  AgreeingUpstream v6(true);
  ASSERT_NE(v4.port(), 0);
  const std::string p4 = std::to_string(v4.port());
  const std::string p6 = std::to_string(v6.port());
  const struct {
    std::string address;
    bool opens;
  } cases[] = {
      {"127.0.0.1:" + p4, true},       {"[127.0.0.1]:" + p4, false}, {"[localhost]:" + p4, false},
      {"[::1]:" + p6, v6.port() != 0}, {"[::1]x:" + p6, false},
  };
  for (const auto& c : cases) {
    auto stream =
        sandbox::connect_via_upstream(UpstreamProxy{c.address, {}, std::nullopt}, "a.test", 80);
    EXPECT_EQ(stream.ok(), c.opens) << c.address;
  }
}

std::uint16_t free_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// tinyproxy in the foreground on a free loopback port, requiring user:pass.
class Tinyproxy {
 public:
  explicit Tinyproxy(const std::string& folder) : port_(free_port()) {
    const std::string config = folder + "/tinyproxy.conf";
    write_file(config, "Port " + std::to_string(port_) +
                           "\nListen 127.0.0.1\nTimeout 30\nMaxClients 50\nLogLevel Error\n"
                           "BasicAuth user pa-ss\n");
    ProcessOptions options;
    options.argv = {"/usr/bin/tinyproxy", "-d", "-c", config};
    process_ = std::make_unique<Process>(options);
    for (int i = 0; i < 200; ++i) {
      const int fd = connect_loopback(port_);
      if (fd >= 0) {
        ::close(fd);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  }
  std::uint16_t port() const { return port_; }

 private:
  std::uint16_t port_;
  std::unique_ptr<Process> process_;  // killed and reaped when the test ends
};

TEST(UpstreamThroughTinyproxy, RoutesThroughItExceptExemptHostsAndFailsOnBadCredentials) {
  if (::access("/usr/bin/tinyproxy", X_OK) != 0) GTEST_SKIP() << "tinyproxy is not installed";
  TempDir dir;
  Tinyproxy tinyproxy(dir.path());
  OriginServer origin;
  const std::string port = std::to_string(origin.port());
  const std::string policy =
      R"({"version":6,"cwd":")" + dir.path() +
      R"(","write":[],"denyWrite":[],"denyRead":[],"denyEnv":[],"network":{"allow":["127.0.0.1","localhost"]}})";
  const std::string script = "curl -sS -w ' %{http_code}\\n' http://127.0.0.1:" + port +
                             "/via; curl -sS -p -w ' %{http_code}\\n' http://127.0.0.1:" + port +
                             "/tunnel; curl -sS -w ' %{http_code}\\n' http://localhost:" + port +
                             "/direct; true";
  struct Case {
    std::string credentials;
    std::string out;
  };
  const Case cases[] = {
      {"user:pa%2Dss",
       "GET /via HTTP/1.1|hello 200\nGET /tunnel HTTP/1.1|hello 200\nGET /direct HTTP/1.1|hello "
       "200\n"},
      {"user:wrong", " 502\n 000\nGET /direct HTTP/1.1|hello 200\n"},
  };
  for (const auto& c : cases) {
    ProcessOptions options;
    options.argv = {bin_dir() + "/kestrum-sandbox-recorded",
                    "run",
                    "--policy",
                    policy,
                    "--",
                    "/bin/sh",
                    "-c",
                    script};
    options.env = std::vector<std::string>{"PATH=/usr/bin:/bin", "HTTPS_PROXY=",
                                           "HTTP_PROXY=http://" + c.credentials + "@127.0.0.1:" +
                                               std::to_string(tinyproxy.port()) + "/ignored",
                                           "NO_PROXY=.LOCALHOST"};
    const ProcessResult result = run_process(options);
    EXPECT_EQ(result.out, c.out) << result.err;
  }
}

}  // namespace
}  // namespace kestrum::testing
