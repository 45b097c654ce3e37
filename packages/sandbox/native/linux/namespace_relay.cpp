#include "linux/namespace_relay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>
#include <thread>

#include "base/io.h"
#include "base/system_error.h"
#include "linux/landlock.h"
#include "linux/seccomp_filter.h"

namespace kestrum::sandbox {
namespace {

constexpr int kBacklog = 128;
// Connections served at once; each holds two descriptors and two threads.
// Beyond it a connection is closed at once: a command cannot make the relay,
// which runs outside the sandbox, grow without bound.
constexpr int kMaxConnections = 256;

// One byte of data with room for one descriptor beside it: how the listener
// crosses from the backend to the relay.
struct DescriptorMessage {
  DescriptorMessage() {
    header.msg_iov = &data;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
  }
  DescriptorMessage(const DescriptorMessage&) = delete;
  DescriptorMessage& operator=(const DescriptorMessage&) = delete;

  char byte = 0;
  iovec data{&byte, 1};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr header{};
};

sockaddr_in loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

// Counts itself among the live connections while it exists.
class Slot {
 public:
  explicit Slot(std::atomic<int>& live) : live_(live) { live_.fetch_add(1); }
  ~Slot() { live_.fetch_sub(1); }
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;

 private:
  std::atomic<int>& live_;
};

struct Connection {
  explicit Connection(std::atomic<int>& live) : slot(live) {}
  Slot slot;
  UniqueFd inside;
  UniqueFd outside;
};

// One direction; the end of one side's stream is passed on as a half-close,
// so that requests that wait for it still work.
void copy(int from, int to) {
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::recv(from, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got == 0) {
      ::shutdown(to, SHUT_WR);
      return;
    }
    if (got < 0 || !send_all(to, std::string_view(buffer, static_cast<std::size_t>(got)))) {
      ::shutdown(from, SHUT_RDWR);
      ::shutdown(to, SHUT_RDWR);
      return;
    }
  }
}

void serve(std::shared_ptr<Connection> connection, std::uint16_t port) {
  connection->outside.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in proxy = loopback(port);
  if (!connection->outside ||
      ::connect(connection->outside.get(), reinterpret_cast<const sockaddr*>(&proxy),
                sizeof proxy) != 0) {
    return;
  }
  try {
    std::thread([connection] {
      copy(connection->outside.get(), connection->inside.get());
    }).detach();
  } catch (const std::system_error&) {
    return;
  }
  copy(connection->inside.get(), connection->outside.get());
}

Result<UniqueFd> receive_listener(int channel) {
  DescriptorMessage message;
  if (::recvmsg(channel, &message.header, MSG_CMSG_CLOEXEC) != 1) return fail("no listener");
  const cmsghdr* header = CMSG_FIRSTHDR(&message.header);
  if (!header || header->cmsg_type != SCM_RIGHTS) return fail("no listener");
  int fd = -1;
  std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
  return UniqueFd(fd);
}

// Empties every capability set the relay may have (as root, all of them);
// true when none is left.
bool give_up_capabilities() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
  if (::syscall(SYS_capset, &header, none) != 0) return false;
  __user_cap_data_struct left[_LINUX_CAPABILITY_U32S_3] = {};
  if (::syscall(SYS_capget, &header, left) != 0) return false;
  for (const auto& word : left) {
    if (word.effective || word.permitted || word.inheritable) return false;
  }
  return ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) == 0;
}

// Outside the sandbox but with nothing to reach but the proxy: no
// capabilities, no file access at all, no way to signal anyone outside its
// own domain, and a system call filter of its own.
void detach_and_confine() {
  ::setsid();
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  for (int fd = 0; fd <= 2; ++fd) ::dup2(null, fd);
  ::close(null);
  if (!give_up_capabilities() || ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      !restrict_to_nothing() || !load_namespace_relay_filter()) {
    ::_exit(1);
  }
}

[[noreturn]] void run_relay(int channel, int command, std::uint16_t port) {
  detach_and_confine();
  std::atomic<int> live{0};
  auto listener = receive_listener(channel);
  if (!listener) ::_exit(1);
  ::close(channel);
  for (;;) {
    pollfd waits[2] = {{listener->get(), POLLIN, 0}, {command, POLLIN, 0}};
    if (::poll(waits, 2, -1) < 0) {
      if (errno == EINTR) continue;
      ::_exit(1);
    }
    if (waits[1].revents) ::_exit(0);  // the command has ended
    UniqueFd inside(::accept4(listener->get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!inside || live.load() >= kMaxConnections) continue;
    auto connection = std::make_shared<Connection>(live);
    connection->inside = std::move(inside);
    try {
      std::thread(serve, std::move(connection), port).detach();
    } catch (const std::system_error&) {
    }
  }
}

}  // namespace

Result<UniqueFd> start_namespace_relay(std::uint16_t port) {
  UniqueFd command(static_cast<int>(::syscall(SYS_pidfd_open, ::getpid(), 0u)));
  if (!command) return fail("cannot watch the command: " + last_system_error_text());
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
    return fail("cannot start the relay: " + last_system_error_text());
  UniqueFd mine(ends[0]), theirs(ends[1]);
  const pid_t first = ::fork();
  if (first < 0) return fail("cannot start the relay: " + last_system_error_text());
  if (first == 0) {
    // A second fork leaves the relay to init, so that the command never
    // sees an unknown child it would have to wait for.
    mine.reset();
    const pid_t relay = ::fork();
    if (relay == 0) run_relay(theirs.get(), command.get(), port);
    ::_exit(relay < 0 ? 1 : 0);
  }
  int status = 0;
  while (::waitpid(first, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return fail("cannot start the relay");
  return mine;
}

Status bring_loopback_up() {
  const UniqueFd control(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  if (!control || ::ioctl(control.get(), SIOCGIFFLAGS, &request) != 0)
    return fail("cannot find the loopback interface: " + last_system_error_text());
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  if (::ioctl(control.get(), SIOCSIFFLAGS, &request) != 0)
    return fail("cannot bring the loopback interface up: " + last_system_error_text());
  return {};
}

Status hand_over_listener(const UniqueFd& channel, std::uint16_t port) {
  const UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in address = loopback(port);
  if (!listener ||
      ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener.get(), kBacklog) != 0) {
    return fail("cannot listen for the proxy: " + last_system_error_text());
  }
  DescriptorMessage message;
  cmsghdr* header = CMSG_FIRSTHDR(&message.header);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  const int fd = listener.get();
  std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
  if (::sendmsg(channel.get(), &message.header, MSG_NOSIGNAL) != 1)
    return fail("cannot hand the listener to the relay: " + last_system_error_text());
  return {};
}

}  // namespace kestrum::sandbox
