// The serve loop under load, through the built program: ten thousand
// requests while a simulated person floods the event tap and the agent keeps
// taking control back. A strict reader checks every byte of the output.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "support/person_input.h"
#include "support/server_process.h"

namespace kestrum::computer::testing {
namespace {

constexpr std::string_view kTakeover = R"({"event":"owner","owner":"person"})";
constexpr int kRequests = 10000;
// No answer of these requests comes near this; a larger length means the
// reader lost its place in the output.
constexpr std::uint32_t kMaxJson = 64 * 1024;

std::uint32_t little_endian(const std::string& bytes) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = (value << 8) | static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(i)]);
  return value;
}

// A strict check that `text` is exactly one JSON value, nothing before or
// after it and no white space inside (the server writes compact JSON).
class JsonCheck {
 public:
  explicit JsonCheck(std::string_view text) : text_(text) {}
  bool whole() {
    if (!value()) return false;
    return at_ == text_.size();
  }

 private:
  bool value() {
    if (at_ >= text_.size() || ++depth_ > 64) return false;
    bool ok = false;
    switch (text_[at_]) {
      case '{':
        ok = object();
        break;
      case '[':
        ok = array();
        break;
      case '"':
        ok = string();
        break;
      case 't':
        ok = word("true");
        break;
      case 'f':
        ok = word("false");
        break;
      case 'n':
        ok = word("null");
        break;
      default:
        ok = number();
    }
    --depth_;
    return ok;
  }
  bool take(char c) {
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool word(std::string_view w) {
    if (text_.substr(at_, w.size()) != w) return false;
    at_ += w.size();
    return true;
  }
  bool object() {
    take('{');
    if (take('}')) return true;
    do {
      if (!string() || !take(':') || !value()) return false;
    } while (take(','));
    return take('}');
  }
  bool array() {
    take('[');
    if (take(']')) return true;
    do {
      if (!value()) return false;
    } while (take(','));
    return take(']');
  }
  bool string() {
    if (!take('"')) return false;
    while (at_ < text_.size()) {
      const auto c = static_cast<unsigned char>(text_[at_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c == '\\') {
        if (at_ >= text_.size()) return false;
        const char e = text_[at_++];
        if (e == 'u') {
          for (int i = 0; i < 4; ++i) {
            if (at_ >= text_.size() || !std::isxdigit(static_cast<unsigned char>(text_[at_++])))
              return false;
          }
        } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
          return false;
        }
      }
    }
    return false;
  }
  bool number() {
    const std::size_t start = at_;
    take('-');
    std::size_t digits = 0;
    while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) {
      ++at_;
      ++digits;
    }
    if (digits == 0) return false;
    if (take('.')) {
      digits = 0;
      while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) {
        ++at_;
        ++digits;
      }
      if (digits == 0) return false;
    }
    return at_ > start;
  }

  std::string_view text_;
  std::size_t at_ = 0;
  int depth_ = 0;
};

TEST(JsonCheck, TellsWholeValuesFromCutOnes) {
  EXPECT_TRUE(JsonCheck(R"({"a":[1,-2.5,true,null,"x\"\u00e9"],"b":{}})").whole());
  EXPECT_TRUE(JsonCheck(kTakeover).whole());
  EXPECT_FALSE(JsonCheck(R"({"id":1,"ok":tr)").whole());
  EXPECT_FALSE(JsonCheck(R"({"id":1,"ok":true}{"id":2})").whole());
  EXPECT_FALSE(JsonCheck("{\"id\":1,\"ok\":true").whole());
  EXPECT_FALSE(JsonCheck(std::string("{\"id\":1\x04\x00\x00\x00", 11)).whole());
  EXPECT_FALSE(JsonCheck("").whole());
}

// What a frame of the output was.
struct Read {
  bool ended = false;  // the output ended cleanly between frames
  bool takeover = false;
  std::string json;
};

// Reads one frame and checks it is whole: a sane length, one compact JSON
// value filling exactly that length, and an empty payload.
Read read_strict(ServerProcess& process) {
  Read read;
  const std::optional<std::string> head = process.read_bytes(4);
  if (!head) {
    read.ended = true;
    return read;
  }
  const std::uint32_t length = little_endian(*head);
  if (length == 0 || length > kMaxJson)
    throw std::runtime_error("a frame announces " + std::to_string(length) + " bytes of JSON");
  const std::optional<std::string> json = process.read_bytes(length);
  if (!json) throw std::runtime_error("the output ended inside a frame");
  read.json = *json;
  if (!JsonCheck(read.json).whole()) throw std::runtime_error("not one JSON value: " + read.json);
  const std::optional<std::string> payload_head = process.read_bytes(4);
  if (!payload_head) throw std::runtime_error("the output ended before a payload length");
  const std::uint32_t payload = little_endian(*payload_head);
  if (payload != 0)
    throw std::runtime_error("a payload of " + std::to_string(payload) + " bytes after " +
                             read.json);
  read.takeover = read.json == kTakeover;
  if (!read.takeover && read.json.find("\"event\"") != std::string::npos)
    throw std::runtime_error("an event mixed into an answer: " + read.json);
  return read;
}

// What request `id` asks and what it may be answered.
enum class Kind { kHello, kOwner, kMove, kApps, kUnreadable };

Kind kind_of(int id) {
  if (id % 997 == 0) return Kind::kUnreadable;
  switch (id % 10) {
    case 0:
    case 6:
      return Kind::kOwner;
    case 3:
    case 8:
      return Kind::kMove;
    case 5:
      return Kind::kApps;
    default:
      return Kind::kHello;
  }
}

std::string request(int id) {
  const std::string head = "{\"id\":" + std::to_string(id) + ",";
  switch (kind_of(id)) {
    case Kind::kHello:
      return head + "\"op\":\"hello\"}\n";
    case Kind::kOwner:
      return head + "\"op\":\"owner\",\"owner\":\"agent\"}\n";
    case Kind::kMove:
      return head + "\"op\":\"move\",\"x\":10,\"y\":10}\n";
    case Kind::kApps:
      return head + "\"op\":\"apps\"}\n";
    case Kind::kUnreadable:
      return head + "\"op\":\"fly\"}\n";
  }
  return {};
}

// Checks the answer to request `id`; the ownership may have changed either
// way just before it, so a move may be refused for either reason.
void check_answer(int id, const std::string& json) {
  const std::string id_member = "\"id\":" + std::to_string(id);
  switch (kind_of(id)) {
    case Kind::kHello:
      EXPECT_EQ(json, "{" + id_member +
                          R"(,"ok":true,"permissions":{"capture":true,"input":true},)"
                          R"("platform":"macos",)"
                          R"("screen":{"height":900.0,"width":1440.0,"x":0.0,"y":0.0}})");
      return;
    case Kind::kOwner:
      EXPECT_EQ(json, "{" + id_member + ",\"ok\":true}");
      return;
    case Kind::kMove:
      EXPECT_TRUE(json == "{" + id_member + R"(,"ok":false,"refused":{"kind":"desktop"}})" ||
                  json == "{" + id_member + R"(,"ok":false,"refused":{"kind":"person"}})")
          << json;
      return;
    case Kind::kApps:
      EXPECT_EQ(json, R"({"apps":[],"front":null,)" + id_member + ",\"ok\":true}");
      return;
    case Kind::kUnreadable:
      EXPECT_TRUE(json.starts_with(R"({"error":"unreadable request: )") &&
                  json.ends_with(R"(","id":null,"ok":false})"))
          << json;
      return;
  }
}

bool has_notice(std::uint64_t round) { return round % 25 == 24; }

// The person's events, in a cycle: presses that take over at once, motion
// that adds up, the server's own events (never the person's), and now and
// then a notice that the tap was switched off.
std::string person_lines(std::uint64_t round) {
  std::string lines;
  for (int i = 0; i < 16; ++i) {
    switch ((round * 16 + static_cast<std::uint64_t>(i)) % 7) {
      case 0:
        lines += "{\"type\":3}\n";
        break;
      case 1:
        lines += "{\"type\":5,\"dx\":2,\"dy\":-1}\n";
        break;
      case 2:
        lines += "{\"type\":1,\"tag\":1263752269}\n";
        break;
      case 3:
        lines += "{\"type\":22}\n";
        break;
      case 4:
        lines += "\n";
        break;
      case 5:
        lines += "{\"type\":6,\"dx\":-4}\n";
        break;
      default:
        lines += "{\"type\":10}\n";
    }
  }
  if (has_notice(round)) lines += "{\"type\":4294967295}\n";
  return lines;
}

TEST(ServeStress, TenThousandAnswersWhileThePersonFloodsTheTap) {
  TempDir dir;
  const std::string posted = dir.file("posted");
  PersonInput person(dir.file("input"));
  replace_file(dir.file("scene.json"),
               R"({"input": ")" + dir.file("input") + R"(", "posted": ")" + posted + "\"}");
  ServerProcess process({{"serve"}, dir.file("scene.json")});
  // Without a grant the person's input would be ignored.
  process.send(R"({"id":0,"op":"grant","apps":["com.example.Mail"]})"
               "\n");
  ASSERT_EQ(read_strict(process).json, R"({"id":0,"ok":true})");

  std::atomic<bool> stop{false};
  std::exception_ptr writer_error, person_error;
  std::uint64_t notices = 0, person_rounds = 0;
  std::thread writer([&] {
    try {
      std::string batch;
      for (int id = 1; id <= kRequests; ++id) {
        batch += request(id);
        if (id % 64 == 0 || id == kRequests) {
          process.send(batch);
          batch.clear();
        }
      }
    } catch (...) {
      writer_error = std::current_exception();
    }
  });
  std::thread flood([&] {
    try {
      while (!stop.load()) {
        if (person.try_send(person_lines(person_rounds))) {
          if (has_notice(person_rounds)) ++notices;
          ++person_rounds;
        } else {
          std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
      }
    } catch (...) {
      person_error = std::current_exception();
    }
  });
  // Whatever happens below, a hung server must not keep the threads alive.
  struct Finish {
    ServerProcess& process;
    std::atomic<bool>& stop;
    std::thread& writer;
    std::thread& flood;
    bool clean = false;
    ~Finish() {
      stop = true;
      if (!clean) ::kill(process.pid(), SIGKILL);
      if (writer.joinable()) writer.join();
      if (flood.joinable()) flood.join();
    }
  } finish{process, stop, writer, flood};

  int answered = 0;
  int takeovers = 0;
  int owner_requests_answered = 0;
  while (answered < kRequests) {
    const Read read = read_strict(process);
    ASSERT_FALSE(read.ended) << "the output ended after " << answered << " answers";
    if (read.takeover) {
      ++takeovers;
      continue;
    }
    ++answered;
    if (kind_of(answered) == Kind::kOwner) ++owner_requests_answered;
    check_answer(answered, read.json);
    if (::testing::Test::HasFailure()) FAIL() << "stopped at answer " << answered;
  }
  writer.join();
  if (writer_error) std::rethrow_exception(writer_error);
  stop = true;
  flood.join();
  if (person_error) std::rethrow_exception(person_error);

  // The tap handles the person's events in order, so once one last notice is
  // handled every earlier event is too: none is left over to take control
  // after the owner request below, and nothing from now on is dropped.
  person.send("{\"type\":4294967295}\n");
  ++notices;
  wait_for_reenables(posted, notices);
  process.send("{\"id\":" + std::to_string(kRequests + 1) +
               R"(,"op":"owner","owner":"agent"})"
               "\n");
  for (;;) {
    const Read read = read_strict(process);
    ASSERT_FALSE(read.ended);
    if (read.takeover) {
      ++takeovers;
      continue;
    }
    EXPECT_EQ(read.json, "{\"id\":" + std::to_string(kRequests + 1) + ",\"ok\":true}");
    break;
  }
  // The agent holds control again; one press takes it over, exactly once.
  person.send("{\"type\":3}\n");
  const Read last = read_strict(process);
  EXPECT_TRUE(last.takeover) << last.json;
  ++takeovers;
  process.close_input();
  EXPECT_TRUE(read_strict(process).ended);
  const Exit exit = process.wait();
  finish.clean = true;
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(exit.err, "");

  // The agent takes control back only by asking, so the person can take it
  // over at most once more than that.
  EXPECT_LE(takeovers, owner_requests_answered + 2);
  EXPECT_GE(takeovers, 1);
  std::cout << "stress: " << answered << " answers, " << takeovers << " takeover events, "
            << person_rounds << " rounds of the person's events (" << notices
            << " switched-off notices)\n";
}

}  // namespace
}  // namespace kestrum::computer::testing
