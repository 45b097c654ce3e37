#include "proxy/relay.h"

#include <gtest/gtest.h>

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
// everything read back at the far side. The proxy's tests cover the kernel
// path on Linux; the memory path is what other systems run, so it is driven
// here directly.
TEST(CopyStream, MovesEveryByteOnEitherPathAndReturnsItsBulkSlot) {
  struct Case {
    BulkPath path;
    std::size_t size;
    int slots;
  };
  const Case cases[] = {
      {BulkPath::kMemory, 1000, kBulkSlots},         // never leaves the small step
      {BulkPath::kMemory, kRelayChunk, kBulkSlots},  // exactly one full step, then the end
      {BulkPath::kMemory, 5 << 20, kBulkSlots},      // a large buffer
      {BulkPath::kMemory, 5 << 20, 0},               // none left: small steps on
      {BulkPath::kKernel, 5 << 20, kBulkSlots},
      {BulkPath::kKernel, 5 << 20, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.path == BulkPath::kMemory ? "memory " : "kernel ")
                                    << c.size << " bytes, " << c.slots << " slots");
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
    copy_stream(source, sink, budget, c.path);
    writer.join();
    sink.shutdown_write();
    reader.join();
    EXPECT_EQ(received.size(), sent.size());
    EXPECT_TRUE(received == sent);
    EXPECT_EQ(budget.left(), c.slots);
  }
}

}  // namespace
}  // namespace kestrum::sandbox
