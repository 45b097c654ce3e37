// Small real peers for the proxy tests, all on the loopback interface or a
// Unix socket: each accepted connection is served by a handler on its own
// thread; everything is closed and joined when the server ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testing/net.h"

namespace kestrum::testing {

class PeerServer {
 public:
  using Handler = std::function<void(int fd)>;
  // TCP on 127.0.0.1 and a port the system picks.
  explicit PeerServer(Handler handler);
  // A Unix-domain socket at `path`.
  PeerServer(const std::string& path, Handler handler);
  ~PeerServer();
  PeerServer(const PeerServer&) = delete;
  PeerServer& operator=(const PeerServer&) = delete;

  std::uint16_t port() const { return port_; }

 private:
  void start();
  int listener_ = -1;
  std::uint16_t port_ = 0;
  Handler handler_;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::mutex lock_;
  std::vector<std::thread> workers_;
};

// Reads until CR LF CR LF; returns the head without it (and drops what follows
// in the same reads into `rest` when given). Empty on end of stream.
std::string read_head_from(int fd, std::string* rest = nullptr);
void write_all_to(int fd, const std::string& bytes);
std::string read_to_end(int fd);
// Returns the event lines unchanged, recording each for the schema check
// (testing/record.h).
std::string recorded_events(std::string lines);

// Answers one request with 200 and the body "<request line>|hello", and keeps
// every head it saw.
class OriginServer {
 public:
  OriginServer();
  std::uint16_t port() const { return server_.port(); }
  std::vector<std::string> heads();

 private:
  std::mutex lock_;
  std::vector<std::string> heads_;
  PeerServer server_;
};

// Sends back every byte until end of stream, then closes.
void echo_handler(int fd);

}  // namespace kestrum::testing
