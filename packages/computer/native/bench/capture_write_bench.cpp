// A full 3024 × 1964 capture answer written through write_message into a
// pipe that `cat` drains, against `cat` draining the same frame bytes
// written plainly into the same kind of pipe: what the framing, the JSON
// and the output lock cost on top of the pipe itself. Runs alternate so
// that both sides see the same machine load; the median of each is shown.
//
// Run: capture_write_bench [runs]   (7 runs by default)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "base/io.h"
#include "json/writer.h"
#include "serve/message.h"
#include "serve/outcome.h"

namespace kestrum::computer {
namespace {

constexpr std::uint64_t kWidth = 3024;
constexpr std::uint64_t kHeight = 1964;

using Clock = std::chrono::steady_clock;

std::vector<std::uint8_t> noise(std::size_t length) {
  std::mt19937 random(1);
  std::vector<std::uint8_t> bytes(length);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
  return bytes;
}

// Seconds from the first byte written until `cat` has read the last and
// ended. cat starts before the clock does, so its start-up is not counted.
template <class Write>
double drained(Write write) {
  FILE* pipe = ::popen("cat > /dev/null", "w");
  if (!pipe) {
    std::perror("popen");
    std::exit(1);
  }
  const Clock::time_point start = Clock::now();
  const bool written = write(::fileno(pipe));
  const int status = ::pclose(pipe);
  const Clock::time_point end = Clock::now();
  if (!written || status != 0) {
    std::fprintf(stderr, "capture_write_bench: the pipe to cat failed\n");
    std::exit(1);
  }
  return std::chrono::duration<double>(end - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

json::Object capture_answer() {
  json::Object screen{{"x", 0.0}, {"y", 0.0}, {"width", 1512.0}, {"height", 982.0}};
  Reply reply;
  reply.fields = {{"width", kWidth}, {"height", kHeight}, {"screen", screen}};
  return answer_object(1, reply);
}

int run(int runs) {
  const json::Object message = capture_answer();
  const std::vector<std::uint8_t> payload = noise(kWidth * kHeight * 4);
  const std::string text = json::to_json(message);
  std::string frame = frame_length(text.size()) + text + frame_length(payload.size());
  frame.append(payload.begin(), payload.end());

  std::vector<double> through_message, through_cat;
  for (int i = 0; i < runs; ++i) {
    through_message.push_back(drained([&](int fd) {
      MessageOutput output(fd);
      return write_message(output, message, payload).ok();
    }));
    through_cat.push_back(drained([&](int fd) { return kestrum::write_all(fd, frame); }));
  }
  const double megabytes = static_cast<double>(frame.size()) / 1e6;
  const double message_rate = megabytes / median(through_message);
  const double cat_rate = megabytes / median(through_cat);
  std::printf("frame: %zu bytes, median of %d runs\n", frame.size(), runs);
  std::printf("write_message -> cat: %8.1f MB/s\n", message_rate);
  std::printf("write         -> cat: %8.1f MB/s\n", cat_rate);
  std::printf("ratio (write_message / plain): %.2f\n", message_rate / cat_rate);
  return 0;
}

}  // namespace
}  // namespace kestrum::computer

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 7;
  return kestrum::computer::run(runs > 0 ? runs : 7);
}
