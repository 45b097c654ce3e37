// Carries out one attack from inside the sandbox, as the escape tests ask:
// `kestrum-linux-attack <attack> [args...]`. Prints "ok" and exits 0 when
// the attack worked; prints the system's error text and exits 1 when it was
// stopped; exits 2 on a usage error. The tests assert each attack fails and
// run some of them as controls that must succeed.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/io_uring.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

int result(bool worked) {
  if (worked) {
    std::printf("ok\n");
    return 0;
  }
  std::printf("%s (os error %d)\n", std::strerror(errno), errno);
  return 1;
}

int number(const std::string& text) { return std::stoi(text); }

bool write_to(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  return fd >= 0 && ::write(fd, "x", 1) == 1 && ::close(fd) == 0;
}

bool read_from(int fd) {
  char byte;
  return fd >= 0 && ::read(fd, &byte, 1) >= 0;
}

bool read_path(const std::string& path) { return read_from(::open(path.c_str(), O_RDONLY)); }

bool list(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return false;
  errno = 0;
  const bool read = ::readdir(dir) != nullptr || errno == 0;
  ::closedir(dir);
  return read;
}

sockaddr_storage address(const std::string& host, int port, socklen_t& length) {
  sockaddr_storage storage{};
  if (host.find(':') != std::string::npos) {
    auto* six = reinterpret_cast<sockaddr_in6*>(&storage);
    six->sin6_family = AF_INET6;
    six->sin6_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET6, host.c_str(), &six->sin6_addr);
    length = sizeof *six;
  } else {
    auto* four = reinterpret_cast<sockaddr_in*>(&storage);
    four->sin_family = AF_INET;
    four->sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, host.c_str(), &four->sin_addr);
    length = sizeof *four;
  }
  return storage;
}

bool connect_to(const std::string& host, int port) {
  socklen_t length = 0;
  const sockaddr_storage to = address(host, port, length);
  const int fd = ::socket(to.ss_family, SOCK_STREAM, 0);
  return fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&to), length) == 0;
}

// A DNS query for example.com.
bool send_udp(const std::string& host, int port) {
  static const unsigned char query[] = {0x12, 0x34, 1,   0,   0,   1,   0,   0,   0,   0,
                                        0,    0,    7,   'e', 'x', 'a', 'm', 'p', 'l', 'e',
                                        3,    'c',  'o', 'm', 0,   0,   1,   0,   1};
  socklen_t length = 0;
  const sockaddr_storage to = address(host, port, length);
  const int fd = ::socket(to.ss_family, SOCK_DGRAM, 0);
  return fd >= 0 && ::sendto(fd, query, sizeof query, 0, reinterpret_cast<const sockaddr*>(&to),
                             length) == static_cast<ssize_t>(sizeof query);
}

bool listen_on(const std::string& host, int port) {
  socklen_t length = 0;
  const sockaddr_storage at = address(host, port, length);
  const int fd = ::socket(at.ss_family, SOCK_STREAM, 0);
  return fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&at), length) == 0 &&
         ::listen(fd, 1) == 0;
}

const std::map<std::string, int> kNamespaces = {
    {"user", CLONE_NEWUSER}, {"mount", CLONE_NEWNS}, {"net", CLONE_NEWNET}, {"pid", CLONE_NEWPID}};

// A new namespace through clone(2) rather than unshare(2).
bool clone_into(int flags) {
  const long child = ::syscall(SYS_clone, flags | SIGCHLD, nullptr, nullptr, nullptr, nullptr);
  if (child == 0) ::_exit(0);
  return child > 0;
}

bool raise_capability() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  const unsigned admin = 1u << CAP_SYS_ADMIN;
  data[0].effective = data[0].permitted = admin;
  return ::syscall(SYS_capset, &header, data) == 0;
}

// Becomes the session leader of the terminal on standard input, so that the
// kernel would accept injected input, then tries to inject.
bool inject_terminal_input() {
  if (::setsid() < 0 || ::ioctl(0, TIOCSCTTY, 0) != 0) return false;
  const char key = '\n';
  return ::ioctl(0, TIOCSTI, &key) == 0;
}

bool reopen_for_writing(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  return write_to("/proc/self/fd/" + std::to_string(fd));
}

// The address is this program's, so it may not be mapped in the other
// process: a bad address still means the access itself was allowed.
bool read_memory(pid_t pid) {
  char local_byte;
  static char remote_byte;
  iovec local{&local_byte, 1}, remote{&remote_byte, 1};
  return ::process_vm_readv(pid, &local, 1, &remote, 1, 0) == 1 || errno == EFAULT;
}

// Each changes a limit, priority or placement of process `pid`, the way a
// command could slow down or kill a process outside.
bool set_limit(pid_t pid) {
  const rlimit core{0, 0};
  return ::prlimit(pid, RLIMIT_CORE, &core, nullptr) == 0;
}

bool set_io_priority(pid_t pid) {
  constexpr int kWhoProcess = 1, kClassBestEffort = 2, kClassShift = 13;
  return ::syscall(SYS_ioprio_set, kWhoProcess, pid, (kClassBestEffort << kClassShift) | 7) == 0;
}

bool set_affinity(pid_t pid) {
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  CPU_SET(0, &cpus);
  return ::sched_setaffinity(pid, sizeof cpus, &cpus) == 0;
}

bool set_attributes(pid_t pid) {
  struct {
    std::uint32_t size, policy;
    std::uint64_t flags;
    std::int32_t nice;
    std::uint32_t priority;
    std::uint64_t runtime, deadline, period;
  } attributes{48, SCHED_OTHER, 0, 5, 0, 0, 0, 0};
  return ::syscall(SYS_sched_setattr, pid, &attributes, 0u) == 0;
}

bool take_lease(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  return fd >= 0 && ::fcntl(fd, F_SETLEASE, F_RDLCK) == 0;
}

const std::map<std::string, std::pair<std::size_t, std::function<bool(const Args&)>>> kAttacks = {
    {"write", {1, [](const Args& a) { return write_to(a[0]); }}},
    {"read", {1, [](const Args& a) { return read_path(a[0]); }}},
    {"list", {1, [](const Args& a) { return list(a[0]); }}},
    {"readfd", {1, [](const Args& a) { return read_from(number(a[0])); }}},
    {"link", {2, [](const Args& a) { return ::link(a[0].c_str(), a[1].c_str()) == 0; }}},
    {"rename", {2, [](const Args& a) { return ::rename(a[0].c_str(), a[1].c_str()) == 0; }}},
    {"chmod", {1, [](const Args& a) { return ::chmod(a[0].c_str(), 0777) == 0; }}},
    {"reopen-write", {1, [](const Args& a) { return reopen_for_writing(a[0]); }}},
    {"mknod-disk",
     {1,
      [](const Args& a) {
        struct stat root {};
        if (::stat("/", &root) != 0) return false;
        if (::mknod(a[0].c_str(), S_IFBLK | 0600, root.st_dev) != 0) return false;
        return read_path(a[0]);
      }}},
    {"connect", {2, [](const Args& a) { return connect_to(a[0], number(a[1])); }}},
    {"udp", {2, [](const Args& a) { return send_udp(a[0], number(a[1])); }}},
    {"listen", {2, [](const Args& a) { return listen_on(a[0], number(a[1])); }}},
    {"socket",
     {3, [](const Args& a) { return ::socket(number(a[0]), number(a[1]), number(a[2])) >= 0; }}},
    {"unshare", {1, [](const Args& a) { return ::unshare(kNamespaces.at(a[0])) == 0; }}},
    {"clone", {1, [](const Args& a) { return clone_into(kNamespaces.at(a[0])); }}},
    {"remount",
     {1,
      [](const Args& a) {
        return ::mount(nullptr, a[0].c_str(), nullptr, MS_REMOUNT | MS_BIND, nullptr) == 0;
      }}},
    {"umount", {1, [](const Args& a) { return ::umount2(a[0].c_str(), MNT_DETACH) == 0; }}},
    {"ptrace",
     {1,
      [](const Args& a) { return ::ptrace(PTRACE_ATTACH, number(a[0]), nullptr, nullptr) == 0; }}},
    {"read-memory", {1, [](const Args& a) { return read_memory(number(a[0])); }}},
    {"shm", {1, [](const Args& a) { return ::shmget(number(a[0]), 0, 0) >= 0; }}},
    {"kill", {1, [](const Args& a) { return ::kill(number(a[0]), SIGTERM) == 0; }}},
    {"prlimit", {1, [](const Args& a) { return set_limit(number(a[0])); }}},
    {"setpriority",
     {1, [](const Args& a) { return ::setpriority(PRIO_PROCESS, number(a[0]), 10) == 0; }}},
    {"ioprio", {1, [](const Args& a) { return set_io_priority(number(a[0])); }}},
    {"affinity", {1, [](const Args& a) { return set_affinity(number(a[0])); }}},
    {"scheduler",
     {1,
      [](const Args& a) {
        const sched_param none{};
        return ::sched_setscheduler(number(a[0]), SCHED_BATCH, &none) == 0;
      }}},
    {"schedparam",
     {1,
      [](const Args& a) {
        const sched_param none{};
        return ::sched_setparam(number(a[0]), &none) == 0;
      }}},
    {"schedattr", {1, [](const Args& a) { return set_attributes(number(a[0])); }}},
    {"lease", {1, [](const Args& a) { return take_lease(a[0]); }}},
    // Holds `count` connections to 127.0.0.1:`port`; fails (as a reset)
    // when the other side closes any of them within five seconds (a slow
    // build may take a while to reach the excess).
    {"hold-connections",
     {2,
      [](const Args& a) {
        std::vector<int> held;
        for (int i = 0; i < number(a[1]); ++i) {
          socklen_t length = 0;
          const sockaddr_storage to = address("127.0.0.1", number(a[0]), length);
          const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
          if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&to), length) != 0)
            return false;
          held.push_back(fd);
        }
        for (int round = 0; round < 100; ++round) {
          ::usleep(50'000);
          for (int fd : held) {
            char byte;
            if (::recv(fd, &byte, 1, MSG_DONTWAIT) == 0) {
              errno = ECONNRESET;
              return false;
            }
          }
        }
        return true;
      }}},
    // Leaves the command's session and writes `path` half a second later.
    {"outlive",
     {1,
      [](const Args& a) {
        const pid_t child = ::fork();
        if (child == 0) {
          ::setsid();
          ::usleep(500'000);
          ::_exit(write_to(a[0]) ? 0 : 1);
        }
        return child > 0;
      }}},
    // Relative to a folder the command was handed as a descriptor.
    {"openat-read",
     {2, [](const Args& a) { return read_from(::openat(number(a[0]), a[1].c_str(), O_RDONLY)); }}},
    {"openat-create",
     {2,
      [](const Args& a) {
        return ::openat(number(a[0]), a[1].c_str(), O_WRONLY | O_CREAT, 0644) >= 0;
      }}},
    {"raise-capability", {0, [](const Args&) { return raise_capability(); }}},
    {"inject-terminal-input", {0, [](const Args&) { return inject_terminal_input(); }}},
    {"io-uring",
     {0,
      [](const Args&) {
        io_uring_params params{};
        return ::syscall(SYS_io_uring_setup, 1, &params) >= 0;
      }}},
};

}  // namespace

int main(int argc, char** argv) {
  const auto attack = argc >= 2 ? kAttacks.find(argv[1]) : kAttacks.end();
  if (attack == kAttacks.end() || static_cast<std::size_t>(argc - 2) != attack->second.first) {
    std::fprintf(stderr, "usage: kestrum-linux-attack <attack> [args...]\n");
    return 2;
  }
  const Args args(argv + 2, argv + argc);
  errno = 0;
  return result(attack->second.second(args));
}
