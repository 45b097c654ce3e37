// Load on the loopback proxy through the real launcher: a thousand
// connections from a pool of client threads, in a seeded random mix of
// tunnels, forwarded requests, refused hosts, clients that vanish mid-head or
// mid-relay, and targets that cannot be reached. Everything that should
// succeed must succeed byte-exact, the launcher must shed every thread and
// descriptor it took on, and the command's exit status must still come back.
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "process.h"
#include "servers.h"
#include "testing/linux/procfs.h"

namespace kestrum::testing {
namespace {

constexpr int kConnections = 1000;
constexpr int kClients = 24;

void raise_descriptor_limit() {
  rlimit limit = {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

// A connection to the proxy that gives up reading after a while, so that a
// proxy that stops answering fails the test instead of hanging it.
int connect_proxy(std::uint16_t port) {
  const int fd = connect_loopback(port);
  if (fd < 0) return fd;
  timeval timeout = {10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  return fd;
}

void reset_and_close(int fd) {
  linger reset = {1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::close(fd);
}

enum class Kind { kTunnel, kForward, kRefused, kVanishHead, kVanishRelay, kUnreachable };

const char* kind_name(Kind kind) {
  switch (kind) {
    case Kind::kTunnel:
      return "tunnel";
    case Kind::kForward:
      return "forward";
    case Kind::kRefused:
      return "refused";
    case Kind::kVanishHead:
      return "vanish mid-head";
    case Kind::kVanishRelay:
      return "vanish mid-relay";
    case Kind::kUnreachable:
      return "unreachable";
  }
  return "?";
}

struct Plan {
  Kind kind;
  std::string payload;  // tunnel bytes, or the cut-short head
  bool variant;         // a second form of the same case
};

TEST(ProxyStress, AThousandMixedConnectionsLeaveNothingBehind) {
  raise_descriptor_limit();
  unsigned seed = 20240611u;
  if (const char* given = std::getenv("KESTRUM_STRESS_SEED"))
    seed = static_cast<unsigned>(std::stoul(given));
  SCOPED_TRACE("seed " + std::to_string(seed) + " (set KESTRUM_STRESS_SEED to replay)");

  PeerServer echo(echo_handler);
  OriginServer origin;
  // Bound but never listening: every connection to it is refused.
  const int closed_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in closed_address = {};
  closed_address.sin_family = AF_INET;
  closed_address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof closed_address;
  ASSERT_EQ(::bind(closed_fd, reinterpret_cast<sockaddr*>(&closed_address), sizeof closed_address),
            0);
  ::getsockname(closed_fd, reinterpret_cast<sockaddr*>(&closed_address), &length);
  const std::string echo_port = std::to_string(echo.port());
  const std::string origin_port = std::to_string(origin.port());
  const std::string closed_port = std::to_string(ntohs(closed_address.sin_port));

  // The launcher runs a command that publishes its proxy address, waits for
  // the finish file, and exits 7.
  TempDir dir;
  const std::string script = "printf %s \"$HTTP_PROXY\" > " + dir.path() + "/address.tmp && mv " +
                             dir.path() + "/address.tmp " + dir.path() + "/address; while [ ! -e " +
                             dir.path() + "/finish ]; do sleep 0.02; done; exit 7";
  const std::string policy = R"({"version":6,"cwd":")" + dir.path() +
                             R"(","write":[],"denyWrite":[],"denyRead":[],"denyEnv":[],)"
                             R"("network":{"allow":["127.0.0.1"]}})";
  ProcessOptions options;
  options.argv = {bin_dir() + "/kestrum-sandbox-recorded",
                  "run",
                  "--policy",
                  policy,
                  "--",
                  "/bin/sh",
                  "-c",
                  script};
  Process launcher(options);
  ASSERT_TRUE(wait_for_file(dir.path() + "/address"));
  const std::string address = read_file(dir.path() + "/address");
  const auto port = static_cast<std::uint16_t>(std::stoi(address.substr(address.rfind(':') + 1)));
  const std::string proc = "/proc/" + std::to_string(launcher.pid()) + "/";
  const std::size_t idle_threads = count_entries(proc + "task");
  const std::size_t idle_fds = count_entries(proc + "fd");

  std::mt19937 random(seed);
  std::vector<Plan> plans;
  plans.reserve(kConnections);
  int forwards = 0;
  for (int i = 0; i < kConnections; ++i) {
    const auto kind = static_cast<Kind>(std::uniform_int_distribution<int>(0, 5)(random));
    Plan plan{kind, {}, std::uniform_int_distribution<int>(0, 1)(random) == 1};
    if (kind == Kind::kTunnel || kind == Kind::kVanishRelay) {
      plan.payload.resize(std::uniform_int_distribution<std::size_t>(1, 6144)(random));
      for (char& c : plan.payload) c = static_cast<char>(random() & 0xff);
    } else if (kind == Kind::kVanishHead) {
      const std::string head = "CONNECT 127.0.0.1:" + echo_port + " HTTP/1.1\r\nHost: x\r\n\r\n";
      plan.payload =
          head.substr(0, std::uniform_int_distribution<std::size_t>(0, head.size() - 2)(random));
    }
    forwards += kind == Kind::kForward;
    plans.push_back(std::move(plan));
  }

  const std::string established = "HTTP/1.1 200 Connection Established\r\n\r\n";
  const std::string forbidden =
      "HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain\r\nContent-Length: 78\r\nConnection: "
      "close\r\n\r\n"
      "The Kestrum sandbox does not allow refused.test; ask for it in network_hosts.\n";
  const std::string bad_gateway = "HTTP/1.1 502 Bad Gateway\r\nConnection: close\r\n\r\n";

  std::mutex failures_lock;
  std::vector<std::string> failures;
  std::atomic<int> failure_count{0};
  auto fail = [&](int index, const Plan& plan, const std::string& what) {
    ++failure_count;
    std::lock_guard<std::mutex> held(failures_lock);
    if (failures.size() < 10) {
      failures.push_back("#" + std::to_string(index) + " " + kind_name(plan.kind) + ": " + what);
    }
  };

  auto run_one = [&](int index) {
    const Plan& plan = plans[static_cast<std::size_t>(index)];
    const int fd = connect_proxy(port);
    if (fd < 0) return fail(index, plan, "could not connect to the proxy");
    switch (plan.kind) {
      case Kind::kTunnel: {
        write_all_to(fd, "CONNECT 127.0.0.1:" + echo_port + " HTTP/1.1\r\n\r\n");
        std::string rest;
        const std::string head = read_head_from(fd, &rest);
        if (head + "\r\n\r\n" != established || !rest.empty()) {
          fail(index, plan, "head " + head);
          break;
        }
        write_all_to(fd, plan.payload);
        ::shutdown(fd, SHUT_WR);
        const std::string back = read_to_end(fd);
        if (back != plan.payload) {
          fail(index, plan,
               "echoed " + std::to_string(back.size()) + " of " +
                   std::to_string(plan.payload.size()) + " bytes" +
                   (back == plan.payload.substr(0, back.size()) ? "" : ", differing"));
        }
        break;
      }
      case Kind::kForward: {
        const std::string path = "/item/" + std::to_string(index) + "?q=" + std::to_string(index);
        write_all_to(fd, "GET http://127.0.0.1:" + origin_port + path +
                             " HTTP/1.1\r\nHost: 127.0.0.1:" + origin_port + "\r\n\r\n");
        if (plan.variant) ::shutdown(fd, SHUT_WR);
        const std::string body = "GET " + path + " HTTP/1.1|hello";
        const std::string expected =
            "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\nConnection: close\r\n\r\n" + body;
        const std::string answer = read_to_end(fd);
        if (answer != expected) fail(index, plan, "answer " + answer);
        break;
      }
      case Kind::kRefused: {
        write_all_to(fd, plan.variant ? "CONNECT refused.test:443 HTTP/1.1\r\n\r\n"
                                      : "GET http://refused.test/x HTTP/1.1\r\n\r\n");
        ::shutdown(fd, SHUT_WR);
        const std::string answer = read_to_end(fd);
        if (answer != forbidden) fail(index, plan, "answer " + answer);
        break;
      }
      case Kind::kVanishHead:
        write_all_to(fd, plan.payload);
        if (plan.variant) {
          reset_and_close(fd);
          return;
        }
        break;
      case Kind::kVanishRelay: {
        write_all_to(fd, "CONNECT 127.0.0.1:" + echo_port + " HTTP/1.1\r\n\r\n");
        const std::string head = read_head_from(fd);
        if (head + "\r\n\r\n" != established) fail(index, plan, "head " + head);
        write_all_to(fd, plan.payload);
        if (plan.variant) {  // let some of it come back first
          char chunk[512];
          (void)::read(fd, chunk, sizeof chunk);
        }
        reset_and_close(fd);
        return;
      }
      case Kind::kUnreachable: {
        write_all_to(fd, "CONNECT 127.0.0.1:" + closed_port + " HTTP/1.1\r\n\r\n");
        ::shutdown(fd, SHUT_WR);
        const std::string answer = read_to_end(fd);
        if (answer != bad_gateway) fail(index, plan, "answer " + answer);
        break;
      }
    }
    ::close(fd);
  };

  std::atomic<int> next{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&] {
      for (int index = next++; index < kConnections; index = next++) run_one(index);
    });
  }
  for (auto& client : clients) client.join();

  std::string report;
  for (const auto& failure : failures) report += failure.substr(0, 300) + "\n";
  EXPECT_EQ(failure_count.load(), 0) << report;
  EXPECT_EQ(origin.heads().size(), static_cast<std::size_t>(forwards));

  // The proxy still serves after all that.
  {
    const int fd = connect_proxy(port);
    ASSERT_GE(fd, 0);
    write_all_to(fd, "CONNECT 127.0.0.1:" + echo_port + " HTTP/1.1\r\n\r\nagain");
    ::shutdown(fd, SHUT_WR);
    EXPECT_EQ(read_to_end(fd), established + "again");
    ::close(fd);
  }

  std::size_t threads = 0, fds = 0;
  bool settled = false;
  for (int i = 0; i < 200 && !settled; ++i) {
    threads = count_entries(proc + "task");
    fds = count_entries(proc + "fd");
    settled = threads == idle_threads && fds == idle_fds;
    if (!settled) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  EXPECT_TRUE(settled) << "threads " << threads << " (idle " << idle_threads << "), descriptors "
                       << fds << " (idle " << idle_fds << ")";

  write_file(dir.path() + "/finish", "");
  const ProcessResult result = launcher.wait();
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exit_code, 7) << result.err;
  ::close(closed_fd);
}

}  // namespace
}  // namespace kestrum::testing
