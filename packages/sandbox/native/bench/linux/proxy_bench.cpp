// Proxy throughput and load, measured against the real launcher binary:
//   1. one CONNECT tunnel carrying 1 GiB, against the same transfer over a
//      direct loopback connection in the same run (median of 3 each);
//   2. 1,000 concurrent tunnels each echoing 64 KiB byte-exact, with wall
//      time, the launcher's peak memory, and its thread and descriptor
//      counts before, at peak and after.
// Usage: proxy_bench [bin-dir]   (defaults to this program's own folder)
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
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
#include <string>
#include <thread>
#include <vector>

#include "base/io.h"
#include "testing/linux/procfs.h"
#include "testing/net.h"

namespace {

using Clock = std::chrono::steady_clock;
using kestrum::send_all;
using kestrum::testing::connect_loopback;
using kestrum::testing::count_entries;
using kestrum::testing::status_kib;

int listen_loopback(std::uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
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

void sink(int fd) {
  std::vector<char> buffer(1 << 16);
  std::uint64_t total = 0;
  while (true) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n <= 0) break;
    total += static_cast<std::uint64_t>(n);
  }
  (void)send_all(fd, std::string_view(reinterpret_cast<const char*>(&total), sizeof total));
}

void echo(int fd) {
  char buffer[8192];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0 || !send_all(fd, std::string_view(buffer, static_cast<std::size_t>(n)))) return;
  }
}

// CONNECT through the proxy; the fd is ready for the tunnel, or -1.
int open_tunnel(std::uint16_t proxy, std::uint16_t target) {
  const int fd = connect_loopback(proxy);
  if (fd < 0) return -1;
  const std::string request = "CONNECT 127.0.0.1:" + std::to_string(target) + " HTTP/1.1\r\n\r\n";
  const std::string expected = "HTTP/1.1 200 Connection Established\r\n\r\n";
  std::string answer(expected.size(), '\0');
  if (!send_all(fd, request) ||
      ::recv(fd, answer.data(), answer.size(), MSG_WAITALL) !=
          static_cast<ssize_t>(answer.size()) ||
      answer != expected) {
    ::close(fd);
    return -1;
  }
  return fd;
}

double transfer_seconds(int fd, std::uint64_t bytes) {
  std::vector<char> chunk(1 << 16, 'x');
  const auto start = Clock::now();
  for (std::uint64_t sent = 0; sent < bytes; sent += chunk.size())
    if (!send_all(fd, std::string_view(chunk.data(), chunk.size()))) break;
  ::shutdown(fd, SHUT_WR);
  std::uint64_t received = 0;
  ::recv(fd, &received, sizeof received, MSG_WAITALL);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  ::close(fd);
  if (received != bytes)
    std::fprintf(stderr, "sink counted %llu bytes\n", static_cast<unsigned long long>(received));
  return seconds;
}

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
      "while [ ! -e finish ]; do sleep 0.05; done";
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
  std::ofstream(launcher.folder + "/finish").put('\n');
  int status = 0;
  ::waitpid(launcher.pid, &status, 0);
  std::filesystem::remove_all(launcher.folder);
}

void throughput(const Launcher& launcher, std::uint16_t sink_port) {
  constexpr std::uint64_t kBytes = 1ULL << 30;
  std::vector<double> direct, tunnel;
  for (int round = 0; round < 3; ++round) {
    direct.push_back(transfer_seconds(connect_loopback(sink_port), kBytes));
    tunnel.push_back(transfer_seconds(open_tunnel(launcher.port, sink_port), kBytes));
  }
  std::sort(direct.begin(), direct.end());
  std::sort(tunnel.begin(), tunnel.end());
  const double mib = static_cast<double>(kBytes) / (1 << 20);
  std::printf(
      "1 GiB upload, median of 3: direct %.0f MiB/s, tunnel %.0f MiB/s, tunnel/direct %.2f\n",
      mib / direct[1], mib / tunnel[1], direct[1] / tunnel[1]);
}

// Drives every tunnel at once from one thread: each sends 64 KiB and must
// get the same bytes back.
void concurrency(const Launcher& launcher, std::uint16_t echo_port) {
  constexpr int kTunnels = 1000;
  constexpr std::size_t kBytes = 64 * 1024;
  const std::string proc = "/proc/" + std::to_string(launcher.pid);
  const std::size_t idle_threads = count_entries(proc + "/task"),
                    idle_fds = count_entries(proc + "/fd");
  std::vector<char> payload(kBytes);
  for (std::size_t i = 0; i < kBytes; ++i) payload[i] = static_cast<char>((i * 131) ^ (i >> 7));

  const auto start = Clock::now();
  struct Tunnel {
    int fd;
    std::size_t sent = 0;
    std::string got;
  };
  std::vector<Tunnel> tunnels;
  for (int i = 0; i < kTunnels; ++i) {
    const int fd = open_tunnel(launcher.port, echo_port);
    if (fd < 0) {
      std::printf("tunnel %d failed to open\n", i);
      return;
    }
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    tunnels.push_back(Tunnel{fd, 0, {}});
  }
  const std::size_t peak_threads = count_entries(proc + "/task"),
                    peak_fds = count_entries(proc + "/fd");
  std::size_t done = 0;
  std::vector<pollfd> fds(kTunnels);
  while (done < tunnels.size()) {
    for (int i = 0; i < kTunnels; ++i) {
      const bool sending = tunnels[i].sent < kBytes;
      const bool receiving = tunnels[i].got.size() < kBytes;
      fds[i] = {receiving || sending ? tunnels[i].fd : -1,
                static_cast<short>((sending ? POLLOUT : 0) | (receiving ? POLLIN : 0)), 0};
    }
    ::poll(fds.data(), fds.size(), 1000);
    char buffer[16384];
    for (int i = 0; i < kTunnels; ++i) {
      Tunnel& t = tunnels[i];
      if ((fds[i].revents & POLLOUT) && t.sent < kBytes) {
        const ssize_t n = ::send(t.fd, payload.data() + t.sent, kBytes - t.sent, MSG_NOSIGNAL);
        if (n > 0) t.sent += static_cast<std::size_t>(n);
      }
      if (fds[i].revents & (POLLIN | POLLHUP)) {
        const ssize_t n = ::recv(t.fd, buffer, sizeof buffer, 0);
        if (n > 0) t.got.append(buffer, static_cast<std::size_t>(n));
        if (n > 0 && t.got.size() == kBytes) ++done;
        if (n == 0) {
          std::printf("tunnel %d ended early\n", i);
          return;
        }
      }
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
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
  std::printf("%d tunnels x 64 KiB echo: %d byte-exact, wall %.2f s, launcher peak RSS %llu kB\n",
              kTunnels, exact, seconds,
              static_cast<unsigned long long>(status_kib(launcher.pid, "VmHWM")));
  std::printf(
      "launcher threads idle %zu, with all tunnels open %zu, after %zu; descriptors idle %zu, open "
      "%zu, after %zu\n",
      idle_threads, peak_threads, after_threads, idle_fds, peak_fds, after_fds);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string bin =
      argc > 1 ? argv[1] : std::filesystem::canonical("/proc/self/exe").parent_path().string();
  // Each tunnel costs the launcher four descriptors and this harness two.
  rlimit limit;
  ::getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
  std::uint16_t sink_port = 0, echo_port = 0;
  serve(listen_loopback(sink_port), sink);
  serve(listen_loopback(echo_port), echo);
  const Launcher launcher = start_launcher(bin);
  throughput(launcher, sink_port);
  concurrency(launcher, echo_port);
  stop_launcher(launcher);
  return 0;
}
