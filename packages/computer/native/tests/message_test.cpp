#include "serve/message.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>

#include "support/nonblocking_pipe.h"

namespace kestrum::computer {
namespace {

class Pipe {
 public:
  Pipe() {
    const auto fds = testing::nonblocking_pipe();
    read_ = fds[0];
    write_ = fds[1];
  }
  ~Pipe() {
    if (read_ >= 0) ::close(read_);
    ::close(write_);
  }
  int write_end() const { return write_; }
  void close_read_end() {
    ::close(read_);
    read_ = -1;
  }
  // Everything written so far.
  std::string drain() {
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(read_, buffer, sizeof buffer)) > 0;)
      out.append(buffer, static_cast<std::size_t>(n));
    return out;
  }

 private:
  int read_ = -1;
  int write_ = -1;
};

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

TEST(FrameLength, IsFourBytesLittleEndian) {
  EXPECT_EQ(frame_length(0), bytes({0, 0, 0, 0}));
  EXPECT_EQ(frame_length(18), bytes({18, 0, 0, 0}));
  EXPECT_EQ(frame_length(0x01020304), bytes({4, 3, 2, 1}));
  EXPECT_EQ(frame_length(0xFFFFFFFF), bytes({0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(WriteMessage, WritesOneWholeFrame) {
  Pipe pipe;
  MessageOutput output(pipe.write_end());
  json::Object answer;
  answer["ok"] = true;
  answer["id"] = 7u;
  ASSERT_TRUE(write_message(output, answer).ok());
  const std::uint8_t payload[] = {0, 255, 10, 13};
  ASSERT_TRUE(write_message(output, json::Object{}, payload).ok());
  EXPECT_EQ(pipe.drain(), bytes({18, 0, 0, 0}) + R"({"id":7,"ok":true})" + bytes({0, 0, 0, 0}) +  //
                              bytes({2, 0, 0, 0}) + "{}" + bytes({4, 0, 0, 0}) +
                              bytes({0, 255, 10, 13}));
}

TEST(WriteMessage, ATooLargePayloadWritesNothing) {
  Pipe pipe;
  MessageOutput output(pipe.write_end());
  // Address space only: nothing is touched, so nothing is committed.
  const std::size_t size = std::size_t{1} << 32;
  void* memory =
      ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(memory, MAP_FAILED);
  auto written = write_message(output, json::Object{},
                               std::span(static_cast<const std::uint8_t*>(memory), size));
  ::munmap(memory, size);
  ASSERT_FALSE(written.ok());
  EXPECT_EQ(written.error(), "a message is too large");
  EXPECT_EQ(pipe.drain(), "");
}

TEST(WriteMessage, AClosedReaderIsAnError) {
  std::signal(SIGPIPE, SIG_IGN);
  Pipe pipe;
  pipe.close_read_end();
  MessageOutput output(pipe.write_end());
  auto written = write_message(output, json::Object{});
  ASSERT_FALSE(written.ok());
  EXPECT_EQ(written.error(), "Broken pipe (os error 32)");
}

}  // namespace
}  // namespace kestrum::computer
