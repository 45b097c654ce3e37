#include "proxy/relay.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <chrono>
#include <string>
#include <thread>

#include "base/descriptors.h"
#include "base/io.h"

namespace kestrum::sandbox {
namespace {

std::string pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131) ^ (i >> 9));
  return bytes;
}

ProxyStream stream(UniqueFd fd) {
  return ProxyStream(std::move(fd), ProxyStream::Kind::kUnixDomain);
}

// One direction end to end: a writer thread, copy_stream in the middle, and
// everything read back at the far side.
TEST(CopyStream, MovesEveryByteWithOrWithoutABulkSlotAndReturnsIt) {
  struct Case {
    std::size_t size;
    int slots;
  };
  const Case cases[] = {
      {1000, kBulkSlots},         // never leaves the small step
      {kRelayChunk, kBulkSlots},  // exactly one full step, then the end
      {5 << 20, kBulkSlots},      // the large buffer, several times over
      {5 << 20, 0},               // none left: small steps on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.size << " bytes, " << c.slots << " slots");
    auto in = cloexec_socket_pair();
    auto out = cloexec_socket_pair();
    ASSERT_TRUE(in && out);
    ProxyStream source = stream(std::move(in->read)), sink = stream(std::move(out->write));
    const std::string sent = pattern(c.size);
    std::thread writer(
        [fd = std::move(in->write), &sent]() mutable { EXPECT_TRUE(write_all(fd.get(), sent)); });
    std::string received;
    std::thread reader([fd = std::move(out->read), &received] {
      char buffer[65536];
      ssize_t n;
      while ((n = ::read(fd.get(), buffer, sizeof buffer)) > 0)
        received.append(buffer, static_cast<std::size_t>(n));
    });
    BulkBudget budget(c.slots);
    copy_stream(source, sink, budget);
    writer.join();
    sink.shutdown_write();
    reader.join();
    EXPECT_EQ(received.size(), sent.size());
    EXPECT_TRUE(received == sent);
    EXPECT_EQ(budget.left(), c.slots);
  }
}

// When an end of a relayed connection sends and reads.
enum class Order { kSendThenRead, kReadThenSend, kBoth };

// One end of a relayed connection: sends its bytes and ends its sending
// half, and reads everything the other end sends until its end. Its socket
// gives up after five seconds, so a relay that stalls fails the test
// instead of hanging it.
class Peer {
 public:
  Peer(UniqueFd fd, std::string send, Order order) : fd_(std::move(fd)), send_(std::move(send)) {
    const timeval limit = {5, 0};
    ::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd_.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    thread_ = std::thread([this, order] {
      switch (order) {
        case Order::kSendThenRead:
          send_everything();
          read_to_end();
          break;
        case Order::kReadThenSend:
          read_to_end();
          send_everything();
          break;
        case Order::kBoth: {
          std::thread sender([this] { send_everything(); });
          read_to_end();
          sender.join();
          break;
        }
      }
      // A relay stuck on this end then gets an error and returns.
      fd_.reset();
    });
  }
  std::string received() {
    thread_.join();
    return received_;
  }

 private:
  void send_everything() {
    if (send_all(fd_.get(), send_)) ::shutdown(fd_.get(), SHUT_WR);
  }
  void read_to_end() {
    char buffer[65536];
    ssize_t n;
    while ((n = ::recv(fd_.get(), buffer, sizeof buffer, 0)) > 0)
      received_.append(buffer, static_cast<std::size_t>(n));
  }
  UniqueFd fd_;
  std::string send_, received_;
  std::thread thread_;
};

TEST(Relay, BothDirectionsMoveIndependentlyAndEachEndsOnItsOwn) {
  struct Case {
    const char* name;
    std::size_t from_client, from_server;
    Order server;
  };
  const Case cases[] = {
      {"nothing either way", 0, 0, Order::kBoth},
      {"a short exchange", 1000, 700, Order::kBoth},
      // The client reads nothing until it has sent everything, so the
      // server's answer fills every buffer on its way: a relay that waits for
      // the client to take it stops the upload, and both ends hang.
      {"an answer waits while the upload goes on", 4 << 20, 4 << 20, Order::kBoth},
      // The server answers only after it has seen the client's end.
      {"half-close, then a bulk answer", 100, 3 << 20, Order::kReadThenSend},
  };
  auto workers = Workers::make(4, std::chrono::milliseconds(100));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto client = cloexec_socket_pair();
    auto server = cloexec_socket_pair();
    ASSERT_TRUE(client && server);
    const std::string from_client = pattern(c.from_client), from_server = pattern(c.from_server);
    Peer client_end(std::move(client->read), from_client, Order::kSendThenRead);
    Peer server_end(std::move(server->read), from_server, c.server);
    BulkBudget budget(kBulkSlots);
    relay(stream(std::move(client->write)), stream(std::move(server->write)), budget, *workers);
    EXPECT_TRUE(server_end.received() == from_client);
    EXPECT_TRUE(client_end.received() == from_server);
    EXPECT_EQ(budget.left(), kBulkSlots);
  }
}

}  // namespace
}  // namespace kestrum::sandbox
