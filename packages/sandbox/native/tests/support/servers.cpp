#include "servers.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "base/descriptors.h"
#include "base/io.h"
#include "testing/record.h"

namespace kestrum::testing {
namespace {

int listening_socket(int domain) {
  auto made = cloexec_socket(domain, SOCK_STREAM, 0);
  if (!made) throw std::runtime_error("socket failed");
  return made->release();
}

}  // namespace

PeerServer::PeerServer(Handler handler) : handler_(std::move(handler)) {
  listener_ = listening_socket(AF_INET);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("bind failed");
  }
  port_ = ntohs(address.sin_port);
  start();
}

PeerServer::PeerServer(const std::string& path, Handler handler) : handler_(std::move(handler)) {
  listener_ = listening_socket(AF_UNIX);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("bind failed");
  }
  start();
}

void PeerServer::start() {
  ::listen(listener_, 256);
  acceptor_ = std::thread([this] {
    while (true) {
      auto accepted = cloexec_accept(listener_);
      const int fd = accepted ? accepted->release() : -1;
      if (stopping_) {
        if (fd >= 0) ::close(fd);
        return;
      }
      if (fd < 0) continue;
      std::lock_guard<std::mutex> held(lock_);
      workers_.emplace_back([this, fd] {
        handler_(fd);
        ::close(fd);
      });
    }
  });
}

PeerServer::~PeerServer() {
  stopping_ = true;
  ::shutdown(listener_, SHUT_RDWR);
  acceptor_.join();
  ::close(listener_);
  for (auto& worker : workers_) worker.join();
}

std::string read_head_from(int fd, std::string* rest) {
  std::string buffer;
  char chunk[4096];
  while (buffer.find("\r\n\r\n") == std::string::npos) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) return "";
    buffer.append(chunk, static_cast<std::size_t>(n));
  }
  const std::size_t end = buffer.find("\r\n\r\n");
  if (rest) *rest = buffer.substr(end + 4);
  return buffer.substr(0, end);
}

void write_all_to(int fd, const std::string& bytes) { (void)send_all(fd, bytes); }

std::string read_to_end(int fd) {
  std::string out;
  char chunk[8192];
  while (true) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) return out;
    out.append(chunk, static_cast<std::size_t>(n));
  }
}

std::string recorded_events(std::string lines) {
  std::size_t start = 0;
  while (start < lines.size()) {
    const std::size_t end = std::min(lines.find('\n', start), lines.size());
    record_output("sandbox-event", std::string_view(lines).substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

OriginServer::OriginServer()
    : server_([this](int fd) {
        const std::string head = read_head_from(fd);
        if (head.empty()) return;
        {
          std::lock_guard<std::mutex> held(lock_);
          heads_.push_back(head);
        }
        const std::string body = head.substr(0, head.find("\r\n")) + "|hello";
        write_all_to(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\nConnection: close\r\n\r\n" + body);
      }) {}

std::vector<std::string> OriginServer::heads() {
  std::lock_guard<std::mutex> held(lock_);
  return heads_;
}

void echo_handler(int fd) {
  char chunk[8192];
  while (true) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) return;
    write_all_to(fd, std::string(chunk, static_cast<std::size_t>(n)));
  }
}

}  // namespace kestrum::testing
