// The proxy's tunnels against a direct loopback connection and against the
// relays people would otherwise put in the same place, all started here and
// measured side by side in one run:
//   1. one connection uploading 1 GiB, MiB/s and the ratio to direct
//      (median of 3 interleaved rounds);
//   2. short connections: 1 KiB each way, then close, 10,000 times over 32
//      client threads, connections per second (median of 3);
//   3. 1,000 concurrent tunnels each echoing 64 KiB byte-exact: wall time,
//      the launcher's resident memory per live tunnel (its relays' buffers
//      included), and its threads and descriptors before, during, after.
// The peers (socat, haproxy, tinyproxy) are Debian packages; a row whose
// program is missing is skipped. socat and haproxy are plain TCP relays
// bound to one target, so their rows do less work than a CONNECT tunnel
// (no request head to read and check).
// Usage: proxy_bench [bin-dir [upload|short|many]...]
//   bin-dir defaults to this program's own folder; the names pick sections
//   (all when none is named).
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/io.h"
#include "proxy/relay.h"
#include "testing/child.h"
#include "testing/linux/procfs.h"
#include "testing/net.h"

namespace {

using Clock = std::chrono::steady_clock;
using kestrum::send_all;
using kestrum::testing::Child;
using kestrum::testing::ChildOptions;
using kestrum::testing::connect_loopback;
using kestrum::testing::count_entries;
using kestrum::testing::status_kib;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

bool recv_exactly(int fd, void* data, std::size_t size) {
  return ::recv(fd, data, size, MSG_WAITALL) == static_cast<ssize_t>(size);
}

int listen_loopback(std::uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(fd, 4096);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return fd;
}

// A port nothing listens on now, for a peer to take.
std::uint16_t free_port() {
  std::uint16_t port = 0;
  ::close(listen_loopback(port));
  return port;
}

// Serves every connection on its own thread until the listener closes.
void serve(int listener, std::function<void(int)> handler) {
  std::thread([listener, handler] {
    while (true) {
      const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      std::thread([fd, handler] {
        handler(fd);
        ::close(fd);
      }).detach();
    }
  }).detach();
}

// Short connections would measure thread creation here rather than in the
// relay, so they are served by a fixed pool.
void serve_pooled(int listener, int threads, std::function<void(int)> handler) {
  for (int i = 0; i < threads; ++i) {
    std::thread([listener, handler] {
      while (true) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        handler(fd);
        ::close(fd);
      }
    }).detach();
  }
}

// Reads an 8-byte count and that many bytes, then answers one byte: the
// upload is timed without relying on a relay passing on a half-close.
void sink(int fd) {
  std::uint64_t expected = 0;
  if (!recv_exactly(fd, &expected, sizeof expected)) return;
  std::vector<char> buffer(1 << 16);
  std::uint64_t total = 0;
  while (total < expected) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n <= 0) return;
    total += static_cast<std::uint64_t>(n);
  }
  (void)send_all(fd, "!");
}

void echo(int fd) {
  char buffer[16384];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0 || !send_all(fd, std::string_view(buffer, static_cast<std::size_t>(n)))) return;
  }
}

// One way to reach a target: straight, through a relay bound to it, or
// through a proxy that is asked with CONNECT.
struct Way {
  std::string name;
  std::uint16_t port = 0;
  bool speaks_connect = false;
  pid_t relay = 0;  // the process in the middle, if any
};

// The processor time a process has used so far, in seconds.
double cpu_seconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The fields after the command name, which may hold spaces; utime and
  // stime are the 14th and 15th of the whole line.
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  for (int i = 3; i <= 13; ++i) fields >> field;
  // Then the time of its ended and reaped children: socat relays each
  // connection in a child.
  double user = 0, system = 0, children_user = 0, children_system = 0;
  fields >> user >> system >> children_user >> children_system;
  return (user + system + children_user + children_system) /
         static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The processor time of this process, whose threads are both ends of every
// measured connection.
double own_cpu_seconds() {
  rusage usage = {};
  ::getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// What one measured run cost, summed over rounds.
struct CpuSpent {
  double relay = 0;  // the process in the middle
  double ends = 0;   // this process: the client and the server
};

// Runs `run` and adds its processor time to `spent`.
template <class F>
auto with_cpu(const Way& way, CpuSpent& spent, F run) {
  const double relay_before = way.relay ? cpu_seconds(way.relay) : 0;
  const double ends_before = own_cpu_seconds();
  const auto result = run();
  spent.ends += own_cpu_seconds() - ends_before;
  // A relay that ends a connection in a child is counted once the child is
  // reaped.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  if (way.relay) spent.relay += cpu_seconds(way.relay) - relay_before;
  return result;
}

// Reads a proxy's answer head; true for any 200.
bool read_connect_answer(int fd) {
  std::string head;
  char c = 0;
  while (head.size() < 4096 && head.find("\r\n\r\n") == std::string::npos) {
    if (::recv(fd, &c, 1, 0) != 1) return false;
    head.push_back(c);
  }
  return head.rfind("HTTP/1.", 0) == 0 && head.compare(9, 3, "200") == 0;
}

// A connection ready to carry bytes to `target`, or -1.
int open_way(const Way& way, std::uint16_t target) {
  const int fd = connect_loopback(way.port);
  if (fd < 0 || !way.speaks_connect) return fd;
  const std::string request = "CONNECT 127.0.0.1:" + std::to_string(target) +
                              " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(target) + "\r\n\r\n";
  if (!send_all(fd, request) || !read_connect_answer(fd)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// A peer program run in the background for the whole benchmark.
class Peer {
 public:
  Peer(const std::vector<std::string>& argv, std::uint16_t port) {
    std::string line = "exec";
    for (const auto& arg : argv) line += " '" + arg + "'";
    ChildOptions options;
    options.argv = {"/bin/sh", "-c", line + " >/dev/null 2>&1"};
    options.close_stdin = true;
    child_ = std::make_unique<Child>(options);
    // Ready once it accepts.
    for (int i = 0; i < 200; ++i) {
      const int fd = connect_loopback(port);
      if (fd >= 0) {
        ::close(fd);
        ready_ = true;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  }
  bool ready() const { return ready_; }
  pid_t pid() const { return child_->pid(); }

 private:
  std::unique_ptr<Child> child_;
  bool ready_ = false;
};

bool installed(const std::string& program) {
  for (const char* folder : {"/usr/bin/", "/usr/sbin/", "/bin/", "/sbin/"})
    if (::access((folder + program).c_str(), X_OK) == 0) return true;
  std::printf("(%s is not installed: its rows are skipped)\n", program.c_str());
  return false;
}

std::string write_file(const std::string& folder, const std::string& name,
                       const std::string& text) {
  const std::string path = folder + "/" + name;
  std::ofstream(path) << text;
  return path;
}

// The peers' own configurations, each bound to one target where it relays
// plain TCP.
struct Peers {
  std::string folder;
  std::vector<std::unique_ptr<Peer>> running;

  std::optional<Way> start(std::string name, std::vector<std::string> argv, std::uint16_t port,
                           bool speaks_connect) {
    auto peer = std::make_unique<Peer>(argv, port);
    if (!peer->ready()) {
      std::printf("(%s did not start: its row is skipped)\n", name.c_str());
      return std::nullopt;
    }
    const pid_t pid = peer->pid();
    running.push_back(std::move(peer));
    return Way{std::move(name), port, speaks_connect, pid};
  }

  std::optional<Way> socat(std::string name, std::vector<std::string> options,
                           std::uint16_t target) {
    const std::uint16_t port = free_port();
    std::vector<std::string> argv = {"socat"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back("TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr,fork");
    argv.push_back("TCP:127.0.0.1:" + std::to_string(target));
    return start(std::move(name), argv, port, false);
  }

  std::optional<Way> haproxy(std::uint16_t target) {
    const std::uint16_t port = free_port();
    const std::string config =
        write_file(folder, "haproxy-" + std::to_string(target) + ".cfg",
                   "global\n  maxconn 4000\n"
                   "defaults\n  mode tcp\n  option splice-auto\n  timeout connect 5s\n"
                   "  timeout client 60s\n  timeout server 60s\n"
                   "frontend in\n  bind 127.0.0.1:" +
                       std::to_string(port) +
                       "\n  default_backend out\n"
                       "backend out\n  server target 127.0.0.1:" +
                       std::to_string(target) + "\n");
    return start("haproxy, TCP mode, option splice-auto", {"haproxy", "-db", "-f", config}, port,
                 false);
  }

  std::optional<Way> tinyproxy() {
    const std::uint16_t port = free_port();
    const std::string config =
        write_file(folder, "tinyproxy.conf",
                   "Port " + std::to_string(port) +
                       "\nListen 127.0.0.1\nTimeout 60\nMaxClients 1024\nLogLevel Critical\n"
                       "LogFile \"/dev/null\"\nAllow 127.0.0.1\n");
    return start("tinyproxy CONNECT", {"tinyproxy", "-d", "-c", config}, port, true);
  }
};

struct Launcher {
  pid_t pid = -1;
  std::uint16_t port = 0;
  std::string folder;
};

Launcher start_launcher(const std::string& bin) {
  Launcher launcher;
  char pattern[] = "/tmp/kestrum-bench-XXXXXX";
  launcher.folder = ::mkdtemp(pattern);
  const std::string policy =
      R"({"version":6,"cwd":")" + launcher.folder +
      R"(","write":[],"denyWrite":[],"denyRead":[],"denyEnv":[],"network":{"allow":["127.0.0.1"]}})";
  const std::string script =
      "printf %s \"$HTTP_PROXY\" > address.tmp && mv address.tmp address; "
      // Waits without waking: a command that polled would take processor
      // time from the proxy it is measured against.
      "exec sleep 100000";
  const std::string exe = bin + "/kestrum-sandbox-recorded";
  launcher.pid = ::fork();
  if (launcher.pid == 0) {
    ::execl(exe.c_str(), exe.c_str(), "run", "--policy", policy.c_str(), "--", "/bin/sh", "-c",
            script.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const std::string address_file = launcher.folder + "/address";
  while (::access(address_file.c_str(), F_OK) != 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::ifstream in(address_file);
  std::string address;
  in >> address;
  launcher.port = static_cast<std::uint16_t>(std::stoi(address.substr(address.rfind(':') + 1)));
  return launcher;
}

void stop_launcher(const Launcher& launcher) {
  // The launcher passes the signal on to the command and ends with it.
  ::kill(launcher.pid, SIGTERM);
  int status = 0;
  ::waitpid(launcher.pid, &status, 0);
  std::filesystem::remove_all(launcher.folder);
}

// Seconds to upload `bytes`, or a negative number when the way failed.
double upload_seconds(const Way& way, std::uint16_t sink_port, std::uint64_t bytes) {
  const int fd = open_way(way, sink_port);
  if (fd < 0) return -1;
  std::vector<char> chunk(1 << 16, 'x');
  const auto start = Clock::now();
  bool sent = send_all(fd, std::string_view(reinterpret_cast<const char*>(&bytes), sizeof bytes));
  for (std::uint64_t done = 0; sent && done < bytes; done += chunk.size())
    sent = send_all(fd, std::string_view(chunk.data(), chunk.size()));
  char answer = 0;
  const bool complete = sent && ::recv(fd, &answer, 1, MSG_WAITALL) == 1;
  const double seconds = seconds_since(start);
  ::close(fd);
  return complete ? seconds : -1;
}

// With the processor time each way costs: the relay's, and that of the two
// ends (the client writing and the sink reading, this process), per GiB.
// Two processors are shared by all three, so the sum bounds the rate.
void throughput(const std::vector<Way>& ways, std::uint16_t sink_port) {
  constexpr std::uint64_t kBytes = 1ULL << 30;
  constexpr int kRounds = 3;
  std::vector<std::vector<double>> times(ways.size());
  std::vector<CpuSpent> cpu(ways.size());
  for (int round = 0; round < kRounds; ++round)
    for (std::size_t i = 0; i < ways.size(); ++i)
      times[i].push_back(
          with_cpu(ways[i], cpu[i], [&] { return upload_seconds(ways[i], sink_port, kBytes); }));
  const double mib = static_cast<double>(kBytes) / (1 << 20);
  const double direct = median(times[0]);
  std::printf(
      "\n1 GiB upload, median of 3\n"
      "| way | MiB/s | ratio to direct | relay CPU s/GiB | ends CPU s/GiB |\n"
      "|---|---|---|---|---|\n");
  for (std::size_t i = 0; i < ways.size(); ++i) {
    const double seconds = median(times[i]);
    char relay[16] = "";
    if (ways[i].relay) std::snprintf(relay, sizeof relay, "%.2f", cpu[i].relay / kRounds);
    if (*std::min_element(times[i].begin(), times[i].end()) < 0)
      std::printf("| %s | failed | | | |\n", ways[i].name.c_str());
    else
      std::printf("| %s | %.0f | %.2f | %s | %.2f |\n", ways[i].name.c_str(), mib / seconds,
                  direct / seconds, relay, cpu[i].ends / kRounds);
  }
}

// One short exchange: connect (and CONNECT), 1 KiB each way, close.
bool short_exchange(const Way& way, std::uint16_t echo_port) {
  const int fd = open_way(way, echo_port);
  if (fd < 0) return false;
  static const std::string kPayload(1024, 'k');
  std::string back(kPayload.size(), '\0');
  const bool ok =
      send_all(fd, kPayload) && recv_exactly(fd, back.data(), back.size()) && back == kPayload;
  ::close(fd);
  return ok;
}

// Connections per second, or a negative number when any exchange failed.
double short_rate(const Way& way, std::uint16_t echo_port) {
  constexpr int kConnections = 10000, kThreads = 32;
  std::atomic<int> next{0}, failed{0};
  const auto start = Clock::now();
  std::vector<std::thread> clients;
  for (int t = 0; t < kThreads; ++t)
    clients.emplace_back([&] {
      while (next.fetch_add(1) < kConnections)
        if (!short_exchange(way, echo_port)) failed.fetch_add(1);
    });
  for (auto& client : clients) client.join();
  const double seconds = seconds_since(start);
  return failed.load() == 0 ? kConnections / seconds : -failed.load();
}

// With the processor time per connection of the relay and of the two ends
// (the clients and the echo server, this process): a CONNECT tunnel costs
// the client a round trip more than a plain relay bound to one target.
void short_connections(const std::vector<Way>& ways, std::uint16_t echo_port) {
  constexpr double kExchanges = 3 * 10000;
  std::vector<std::vector<double>> rates(ways.size());
  std::vector<CpuSpent> cpu(ways.size());
  for (int round = 0; round < 3; ++round)
    for (std::size_t i = 0; i < ways.size(); ++i)
      rates[i].push_back(with_cpu(ways[i], cpu[i], [&] { return short_rate(ways[i], echo_port); }));
  std::printf(
      "\nShort connections: 1 KiB each way, 10,000 over 32 threads, median of 3\n"
      "| way | connections/s | relay CPU per connection | ends CPU per connection |\n"
      "|---|---|---|---|\n");
  const auto micros = [](double seconds) {
    return std::to_string(static_cast<int>(seconds / kExchanges * 1e6)) + " us";
  };
  for (std::size_t i = 0; i < ways.size(); ++i) {
    const double worst = *std::min_element(rates[i].begin(), rates[i].end());
    const std::string relay = ways[i].relay ? micros(cpu[i].relay) : "";
    if (worst < 0)
      std::printf("| %s | %.0f exchanges failed | | |\n", ways[i].name.c_str(), -worst);
    else
      std::printf("| %s | %.0f | %s | %s |\n", ways[i].name.c_str(), median(rates[i]),
                  relay.c_str(), micros(cpu[i].ends).c_str());
  }
}

struct Tunnel {
  int fd;
  std::size_t sent = 0;
  std::string got;
};

// Drives every tunnel at once from one thread until each has its 64 KiB
// back; false when one ends early.
bool echo_all(std::vector<Tunnel>& tunnels, const std::vector<char>& payload) {
  const std::size_t size = payload.size();
  std::size_t done = 0;
  std::vector<pollfd> fds(tunnels.size());
  char buffer[16384];
  while (done < tunnels.size()) {
    for (std::size_t i = 0; i < tunnels.size(); ++i) {
      const bool sending = tunnels[i].sent < size, receiving = tunnels[i].got.size() < size;
      fds[i] = {receiving || sending ? tunnels[i].fd : -1,
                static_cast<short>((sending ? POLLOUT : 0) | (receiving ? POLLIN : 0)), 0};
    }
    ::poll(fds.data(), fds.size(), 1000);
    for (std::size_t i = 0; i < tunnels.size(); ++i) {
      Tunnel& t = tunnels[i];
      if ((fds[i].revents & POLLOUT) && t.sent < size) {
        const ssize_t n = ::send(t.fd, payload.data() + t.sent, size - t.sent, MSG_NOSIGNAL);
        if (n > 0) t.sent += static_cast<std::size_t>(n);
      }
      if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
      const ssize_t n = ::recv(t.fd, buffer, sizeof buffer, 0);
      if (n <= 0) return false;
      t.got.append(buffer, static_cast<std::size_t>(n));
      if (t.got.size() == size) ++done;
    }
  }
  return true;
}

void concurrency(const Launcher& launcher, std::uint16_t echo_port) {
  constexpr int kTunnels = 1000;
  constexpr std::size_t kBytes = 64 * 1024;
  const std::string proc = "/proc/" + std::to_string(launcher.pid);
  // The threads the earlier sections left waiting for work end first.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const std::size_t idle_threads = count_entries(proc + "/task"),
                    idle_fds = count_entries(proc + "/fd");
  const std::uint64_t idle_rss = status_kib(launcher.pid, "VmRSS");
  std::vector<char> payload(kBytes);
  for (std::size_t i = 0; i < kBytes; ++i) payload[i] = static_cast<char>((i * 131) ^ (i >> 7));

  const Way proxy{"kestrum-sandbox", launcher.port, true};
  const auto start = Clock::now();
  std::vector<Tunnel> tunnels;
  for (int i = 0; i < kTunnels; ++i) {
    const int fd = open_way(proxy, echo_port);
    if (fd < 0) {
      std::printf("tunnel %d failed to open\n", i);
      return;
    }
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    tunnels.push_back(Tunnel{fd, 0, {}});
  }
  const std::uint64_t open_rss = status_kib(launcher.pid, "VmRSS");
  const std::size_t peak_threads = count_entries(proc + "/task"),
                    peak_fds = count_entries(proc + "/fd");
  const bool complete = echo_all(tunnels, payload);
  const double seconds = seconds_since(start);
  const std::uint64_t peak_rss = status_kib(launcher.pid, "VmHWM");
  int exact = 0;
  for (auto& t : tunnels) {
    exact += t.got == std::string(payload.data(), kBytes);
    ::close(t.fd);
  }
  std::size_t after_threads = 0, after_fds = 0;
  for (int i = 0; i < 200; ++i) {
    after_threads = count_entries(proc + "/task");
    after_fds = count_entries(proc + "/fd");
    if (after_threads == idle_threads && after_fds == idle_fds) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  std::printf("\n%d tunnels x 64 KiB echo%s: %d byte-exact, wall %.2f s\n", kTunnels,
              complete ? "" : " (one ended early)", exact, seconds);
  std::printf(
      "launcher resident memory: idle %llu KiB, all tunnels open %llu KiB, peak %llu KiB; "
      "per live tunnel %.1f KiB open, %.1f KiB at peak\n",
      static_cast<unsigned long long>(idle_rss), static_cast<unsigned long long>(open_rss),
      static_cast<unsigned long long>(peak_rss),
      static_cast<double>(open_rss - idle_rss) / kTunnels,
      static_cast<double>(peak_rss - idle_rss) / kTunnels);
  // The relay holds no pipes: its bulk buffers are the only memory beyond
  // the small steps, and they are part of the resident figures above.
  std::printf("relay bulk buffers: at most %d of %zu KiB at once (%zu MiB)\n",
              kestrum::sandbox::kBulkSlots, kestrum::sandbox::kBulkChunk / 1024,
              kestrum::sandbox::kBulkSlots * kestrum::sandbox::kBulkChunk >> 20);
  std::printf(
      "launcher threads idle %zu, with all tunnels open %zu, after %zu; descriptors idle %zu, open "
      "%zu, after %zu\n",
      idle_threads, peak_threads, after_threads, idle_fds, peak_fds, after_fds);
}

}  // namespace

int main(int argc, char** argv) {
  // Each table as it is done, also when the output is a pipe.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const std::string bin =
      argc > 1 ? argv[1] : std::filesystem::canonical("/proc/self/exe").parent_path().string();
  const std::set<std::string> named(argv + std::min(argc, 2), argv + argc);
  const auto wanted = [&](const char* section) { return named.empty() || named.count(section); };
  // Each tunnel costs the launcher four descriptors and this harness two.
  rlimit limit;
  ::getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
  std::uint16_t sink_port = 0, echo_port = 0, short_port = 0;
  serve(listen_loopback(sink_port), sink);
  serve(listen_loopback(echo_port), echo);
  serve_pooled(listen_loopback(short_port), 64, echo);
  const Launcher launcher = start_launcher(bin);

  Peers peers;
  char pattern[] = "/tmp/kestrum-peers-XXXXXX";
  peers.folder = ::mkdtemp(pattern);
  const bool have_socat = installed("socat"), have_haproxy = installed("haproxy"),
             have_tinyproxy = installed("tinyproxy");
  const Way proxy{"kestrum-sandbox CONNECT tunnel", launcher.port, true, launcher.pid};
  const std::optional<Way> tinyproxy = have_tinyproxy ? peers.tinyproxy() : std::optional<Way>();

  std::vector<std::optional<Way>> bulk = {Way{"direct loopback", sink_port, false}};
  if (have_socat) {
    bulk.push_back(peers.socat("socat, default buffer", {}, sink_port));
    bulk.push_back(peers.socat("socat -b 1048576", {"-b", "1048576"}, sink_port));
  }
  if (have_haproxy) bulk.push_back(peers.haproxy(sink_port));
  bulk.push_back(tinyproxy);
  bulk.push_back(proxy);
  // The ways whose peers started.
  const auto started = [](const std::vector<std::optional<Way>>& ways) {
    std::vector<Way> present;
    for (const auto& way : ways)
      if (way) present.push_back(*way);
    return present;
  };
  if (wanted("upload")) throughput(started(bulk), sink_port);

  std::vector<std::optional<Way>> quick = {Way{"direct loopback", short_port, false}};
  if (have_haproxy) quick.push_back(peers.haproxy(short_port));
  quick.push_back(tinyproxy);
  quick.push_back(proxy);
  if (wanted("short")) short_connections(started(quick), short_port);
  if (wanted("many")) concurrency(launcher, echo_port);
  stop_launcher(launcher);
  std::filesystem::remove_all(peers.folder);
  return 0;
}
