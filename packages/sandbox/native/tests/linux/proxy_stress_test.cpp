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

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_fd.h"
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

unsigned stress_seed() {
  if (const char* given = std::getenv("KESTRUM_STRESS_SEED"))
    return static_cast<unsigned>(std::stoul(given));
  return 20240611u;
}

// The servers behind the proxy: an echo server for tunnels, an origin for
// forwarded requests, and a port where every connection is refused (bound,
// never listening).
struct Targets {
  PeerServer echo{echo_handler};
  OriginServer origin;
  UniqueFd closed{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
  std::string echo_port = std::to_string(echo.port());
  std::string origin_port = std::to_string(origin.port());
  std::string closed_port;

  Targets() {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(closed.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(closed.get(), reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      closed_port = std::to_string(ntohs(address.sin_port));
    }
  }
};

// The launcher running a command that publishes its proxy address, waits
// for the finish file, and exits 7.
class ProxiedCommand {
 public:
  ProxiedCommand() : launcher_(options(dir_)) {}

  bool started() {
    if (!wait_for_file(dir_.path() + "/address")) return false;
    const std::string address = read_file(dir_.path() + "/address");
    port_ = static_cast<std::uint16_t>(std::stoi(address.substr(address.rfind(':') + 1)));
    return true;
  }
  std::uint16_t port() const { return port_; }
  std::string proc() const { return "/proc/" + std::to_string(launcher_.pid()) + "/"; }
  ProcessResult finish() {
    write_file(dir_.path() + "/finish", "");
    return launcher_.wait();
  }

 private:
  static ProcessOptions options(const TempDir& dir) {
    const std::string script = "printf %s \"$HTTP_PROXY\" > " + dir.path() + "/address.tmp && mv " +
                               dir.path() + "/address.tmp " + dir.path() +
                               "/address; while [ ! -e " + dir.path() +
                               "/finish ]; do sleep 0.02; done; exit 7";
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
    return options;
  }

  TempDir dir_;
  Process launcher_;
  std::uint16_t port_ = 0;
};

std::vector<Plan> plan_connections(unsigned seed, const Targets& targets) {
  std::mt19937 random(seed);
  std::vector<Plan> plans;
  plans.reserve(kConnections);
  for (int i = 0; i < kConnections; ++i) {
    const auto kind = static_cast<Kind>(std::uniform_int_distribution<int>(0, 5)(random));
    Plan plan{kind, {}, std::uniform_int_distribution<int>(0, 1)(random) == 1};
    if (kind == Kind::kTunnel || kind == Kind::kVanishRelay) {
      plan.payload.resize(std::uniform_int_distribution<std::size_t>(1, 6144)(random));
      for (char& c : plan.payload) c = static_cast<char>(random() & 0xff);
    } else if (kind == Kind::kVanishHead) {
      const std::string head =
          "CONNECT 127.0.0.1:" + targets.echo_port + " HTTP/1.1\r\nHost: x\r\n\r\n";
      plan.payload =
          head.substr(0, std::uniform_int_distribution<std::size_t>(0, head.size() - 2)(random));
    }
    plans.push_back(std::move(plan));
  }
  return plans;
}

const std::string kEstablished = "HTTP/1.1 200 Connection Established\r\n\r\n";
const std::string kForbidden =
    "HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain\r\nContent-Length: 78\r\nConnection: "
    "close\r\n\r\n"
    "The Kestrum sandbox does not allow refused.test; ask for it in network_hosts.\n";
const std::string kBadGateway = "HTTP/1.1 502 Bad Gateway\r\nConnection: close\r\n\r\n";

// What went wrong with one connection, or nothing.
std::optional<std::string> run_tunnel(int fd, const Plan& plan, const Targets& targets) {
  write_all_to(fd, "CONNECT 127.0.0.1:" + targets.echo_port + " HTTP/1.1\r\n\r\n");
  std::string rest;
  const std::string head = read_head_from(fd, &rest);
  if (head + "\r\n\r\n" != kEstablished || !rest.empty()) return "head " + head;
  write_all_to(fd, plan.payload);
  ::shutdown(fd, SHUT_WR);
  const std::string back = read_to_end(fd);
  if (back == plan.payload) return std::nullopt;
  return "echoed " + std::to_string(back.size()) + " of " + std::to_string(plan.payload.size()) +
         " bytes" + (back == plan.payload.substr(0, back.size()) ? "" : ", differing");
}

std::optional<std::string> run_forward(int fd, int index, const Plan& plan,
                                       const Targets& targets) {
  const std::string path = "/item/" + std::to_string(index) + "?q=" + std::to_string(index);
  write_all_to(fd, "GET http://127.0.0.1:" + targets.origin_port + path +
                       " HTTP/1.1\r\nHost: 127.0.0.1:" + targets.origin_port + "\r\n\r\n");
  if (plan.variant) ::shutdown(fd, SHUT_WR);
  const std::string body = "GET " + path + " HTTP/1.1|hello";
  const std::string expected = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                               "\r\nConnection: close\r\n\r\n" + body;
  const std::string answer = read_to_end(fd);
  if (answer != expected) return "answer " + answer;
  return std::nullopt;
}

// Sends `request`, closes the writing side, and expects exactly `answer`.
std::optional<std::string> run_answered(int fd, const std::string& request,
                                        const std::string& answer) {
  write_all_to(fd, request);
  ::shutdown(fd, SHUT_WR);
  const std::string got = read_to_end(fd);
  if (got != answer) return "answer " + got;
  return std::nullopt;
}

std::optional<std::string> run_vanish_relay(int fd, const Plan& plan, const Targets& targets) {
  write_all_to(fd, "CONNECT 127.0.0.1:" + targets.echo_port + " HTTP/1.1\r\n\r\n");
  const std::string head = read_head_from(fd);
  write_all_to(fd, plan.payload);
  if (plan.variant) {  // let some of it come back first
    char chunk[512];
    (void)::read(fd, chunk, sizeof chunk);
  }
  if (head + "\r\n\r\n" != kEstablished) return "head " + head;
  return std::nullopt;
}

// One planned connection; the descriptor is closed (or reset) on return.
std::optional<std::string> run_connection(std::uint16_t port, int index, const Plan& plan,
                                          const Targets& targets) {
  const int fd = connect_proxy(port);
  if (fd < 0) return "could not connect to the proxy";
  std::optional<std::string> failure;
  switch (plan.kind) {
    case Kind::kTunnel:
      failure = run_tunnel(fd, plan, targets);
      break;
    case Kind::kForward:
      failure = run_forward(fd, index, plan, targets);
      break;
    case Kind::kRefused:
      failure = run_answered(fd,
                             plan.variant ? "CONNECT refused.test:443 HTTP/1.1\r\n\r\n"
                                          : "GET http://refused.test/x HTTP/1.1\r\n\r\n",
                             kForbidden);
      break;
    case Kind::kVanishHead:
      write_all_to(fd, plan.payload);
      if (plan.variant) {
        reset_and_close(fd);
        return std::nullopt;
      }
      break;
    case Kind::kVanishRelay:
      failure = run_vanish_relay(fd, plan, targets);
      reset_and_close(fd);
      return failure;
    case Kind::kUnreachable:
      failure = run_answered(fd, "CONNECT 127.0.0.1:" + targets.closed_port + " HTTP/1.1\r\n\r\n",
                             kBadGateway);
      break;
  }
  ::close(fd);
  return failure;
}

// Runs every plan from kClients threads; the first few failures, and how
// many there were.
std::pair<std::string, int> run_all(std::uint16_t port, const std::vector<Plan>& plans,
                                    const Targets& targets) {
  std::mutex lock;
  std::string report;
  int failures = 0;
  std::atomic<int> next{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&] {
      for (int index = next++; index < kConnections; index = next++) {
        const Plan& plan = plans[static_cast<std::size_t>(index)];
        const auto failure = run_connection(port, index, plan, targets);
        if (!failure) continue;
        std::lock_guard<std::mutex> held(lock);
        if (++failures <= 10) {
          report += ("#" + std::to_string(index) + " " + kind_name(plan.kind) + ": " + *failure)
                        .substr(0, 300) +
                    "\n";
        }
      }
    });
  }
  for (auto& client : clients) client.join();
  return {report, failures};
}

TEST(ProxyStress, AThousandMixedConnectionsLeaveNothingBehind) {
  raise_descriptor_limit();
  const unsigned seed = stress_seed();
  SCOPED_TRACE("seed " + std::to_string(seed) + " (set KESTRUM_STRESS_SEED to replay)");
  Targets targets;
  ASSERT_FALSE(targets.closed_port.empty());
  ProxiedCommand command;
  ASSERT_TRUE(command.started());
  const std::size_t idle_threads = count_entries(command.proc() + "task");
  const std::size_t idle_fds = count_entries(command.proc() + "fd");

  const std::vector<Plan> plans = plan_connections(seed, targets);
  const auto [report, failures] = run_all(command.port(), plans, targets);
  EXPECT_EQ(failures, 0) << report;
  const auto forwards = std::count_if(plans.begin(), plans.end(),
                                      [](const Plan& plan) { return plan.kind == Kind::kForward; });
  EXPECT_EQ(targets.origin.heads().size(), static_cast<std::size_t>(forwards));

  // The proxy still serves after all that.
  const int fd = connect_proxy(command.port());
  ASSERT_GE(fd, 0);
  EXPECT_EQ(run_answered(fd, "CONNECT 127.0.0.1:" + targets.echo_port + " HTTP/1.1\r\n\r\nagain",
                         kEstablished + "again"),
            std::nullopt);
  ::close(fd);

  // Every thread and descriptor the load took on is given back.
  std::size_t threads = 0, fds = 0;
  bool settled = false;
  for (int i = 0; i < 200 && !settled; ++i) {
    threads = count_entries(command.proc() + "task");
    fds = count_entries(command.proc() + "fd");
    settled = threads == idle_threads && fds == idle_fds;
    if (!settled) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  EXPECT_TRUE(settled) << "threads " << threads << " (idle " << idle_threads << "), descriptors "
                       << fds << " (idle " << idle_fds << ")";

  const ProcessResult result = command.finish();
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exit_code, 7) << result.err;
}

// Bulk transfers move in larger steps, as many as the proxy's budget allows;
// the tunnels beyond it keep the small step. Both kinds run at once here and
// must stay byte-exact.
TEST(ProxyStress, MoreBulkTunnelsThanBulkSlotsStayByteExact) {
  raise_descriptor_limit();
  Targets targets;
  ProxiedCommand command;
  ASSERT_TRUE(command.started());
  constexpr int kTunnels = 80;  // more than the proxy's 16 bulk slots
  std::vector<Plan> plans(kTunnels, Plan{Kind::kTunnel, {}, false});
  std::mt19937 random(stress_seed());
  for (Plan& plan : plans) {
    plan.payload.resize(1 << 19);
    for (char& c : plan.payload) c = static_cast<char>(random() & 0xff);
  }
  std::vector<std::optional<std::string>> failures(kTunnels);
  std::vector<std::thread> clients;
  for (int i = 0; i < kTunnels; ++i) {
    clients.emplace_back([&, i] {
      failures[static_cast<std::size_t>(i)] =
          run_connection(command.port(), i, plans[static_cast<std::size_t>(i)], targets);
    });
  }
  for (auto& client : clients) client.join();
  for (int i = 0; i < kTunnels; ++i) {
    EXPECT_EQ(failures[static_cast<std::size_t>(i)], std::nullopt) << "tunnel " << i;
  }
  EXPECT_EQ(command.finish().exit_code, 7);
}

}  // namespace
}  // namespace kestrum::testing
