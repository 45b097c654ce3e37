#include "desktop/line_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>
#include <variant>

#include "base/descriptors.h"

namespace kestrum::computer {
namespace {

// All lines of `input`, fed through a pipe in pieces of `chunk` bytes.
std::vector<std::string> lines_of(const std::string& input, std::size_t chunk) {
  auto ends = cloexec_pipe();
  EXPECT_TRUE(ends.ok());
  const int fds[2] = {ends->read.release(), ends->write.release()};
  std::thread writer([&] {
    for (std::size_t at = 0; at < input.size(); at += chunk) {
      const std::string piece = input.substr(at, chunk);
      EXPECT_EQ(::write(fds[1], piece.data(), piece.size()), static_cast<ssize_t>(piece.size()));
    }
    ::close(fds[1]);
  });
  LineReader reader(fds[0]);
  std::vector<std::string> lines;
  for (;;) {
    NextLine next = reader.next();
    EXPECT_FALSE(std::holds_alternative<ReadError>(next));
    const auto* line = std::get_if<Line>(&next);
    if (!line) break;
    lines.push_back(line->text);
  }
  writer.join();
  ::close(fds[0]);
  return lines;
}

TEST(LineReader, SplitsAfterEveryLineFeed) {
  const std::string big(200000, 'x');
  const struct {
    std::string input;
    std::vector<std::string> want;
  } cases[] = {
      {"", {}},
      {"a\n", {"a\n"}},
      {"a\nb", {"a\n", "b"}},
      {"a\r\n\nb\n", {"a\r\n", "\n", "b\n"}},
      {"\r", {"\r"}},
      {big + "\n" + big, {big + "\n", big}},
  };
  for (const auto& c : cases) {
    for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{70000}}) {
      if (chunk == 1 && c.input.size() > 1000) continue;  // a byte at a time would only be slow
      EXPECT_EQ(lines_of(c.input, chunk), c.want)
          << c.input.size() << " bytes in pieces of " << chunk;
    }
  }
}

TEST(LineReader, ADescriptorThatIsNotOpenIsTheEnd) {
  LineReader reader(1000000);
  EXPECT_TRUE(std::holds_alternative<EndOfInput>(reader.next()));
}

TEST(LineReader, ReadErrorsCarryTheSystemText) {
  const int folder = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  LineReader reader(folder);
  NextLine next = reader.next();
  ::close(folder);
  const auto* error = std::get_if<ReadError>(&next);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->text, "Is a directory (os error 21)");
}

TEST(LineReader, StripsOneLineFeedAndTheCarriageReturnBeforeIt) {
  const struct {
    std::string line, want;
  } cases[] = {
      {"a\n", "a"}, {"a\r\n", "a"}, {"a\r", "a\r"},   {"a\r\r\n", "a\r"},
      {"\n", ""},   {"a", "a"},     {"a\n\n", "a\n"},
  };
  for (const auto& c : cases) {
    std::string line = c.line;
    strip_line_end(line);
    EXPECT_EQ(line, c.want);
  }
}

}  // namespace
}  // namespace kestrum::computer
