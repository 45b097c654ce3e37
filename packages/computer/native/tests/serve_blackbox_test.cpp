// The serve loop through the built program and the simulated desktop:
// framing, order, refusals, takeover, and how the process ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/person_input.h"
#include "support/server_process.h"

namespace kestrum::computer::testing {
namespace {

constexpr std::string_view kTakeover = R"({"event":"owner","owner":"person"})";

std::string le32(std::uint32_t value) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i)
    out[static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

std::string frame(const std::string& json) {
  return le32(static_cast<std::uint32_t>(json.size())) + json + le32(0);
}

// A desktop with three applications and windows side by side along the top:
// the server's own application, Mail, Notes, a process without an
// application object, and the server's own process.
std::string desktop_scene(const std::string& extra = R"(, "front": 10)") {
  return R"({"apps": [{"pid": 12, "id": "com.kestrum.app", "name": "Kestrum"},
                     {"pid": 10, "id": "com.example.Mail", "name": "Mail", "bundle": "Mail.app"},
                     {"pid": 11, "id": "com.example.Notes", "name": "Notes"}],
            "windows": [{"pid": 12, "x": 0, "y": 0, "width": 100, "height": 100},
                        {"pid": 10, "x": 100, "y": 0, "width": 100, "height": 100},
                        {"pid": 11, "x": 200, "y": 0, "width": 100, "height": 100},
                        {"pid": 77, "x": 300, "y": 0, "width": 100, "height": 100},
                        {"pid": 500, "x": 400, "y": 0, "width": 100, "height": 100}])" +
         extra + "}";
}

const std::vector<std::string> kServeArgs = {"serve", "--own-pid", "500", "--own-app",
                                             "com.kestrum.app"};

TEST(Serve, FramesAreLengthPrefixedAndBackToBack) {
  TempDir dir;
  replace_file(dir.file("scene.json"),
               R"({"display": {"x": -100.5, "y": 0, "width": 1512, "height": 982}})");
  ServerProcess process({{"serve"}, dir.file("scene.json")});
  process.send("{\"id\":1,\"op\":\"hello\"}\n{\"id\":2,\"op\":\"owner\",\"owner\":\"agent\"}\n");
  process.close_input();
  const std::string hello =
      R"({"id":1,"ok":true,"permissions":{"capture":true,"input":true},"platform":"macos",)"
      R"("screen":{"height":982.0,"width":1512.0,"x":-100.5,"y":0.0}})";
  EXPECT_EQ(process.read_rest(), frame(hello) + frame(R"({"id":2,"ok":true})"));
  const Exit exit = process.wait();
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(exit.err, "");
}

TEST(Serve, AnswersInInputOrderAndSkipsBlankLines) {
  TempDir dir;
  replace_file(dir.file("scene.json"), "{}");
  ServerProcess process({{"serve"}, dir.file("scene.json")});
  // A carriage return before a line feed goes with it; blank lines (Unicode
  // white space included) get no answer; the last line needs no line feed.
  process.send(
      "{\"id\":5,\"op\":\"owner\",\"owner\":\"agent\"}\r\n   \n\n\t\xc2\xa0\r\n"
      "{\"id\":5,\"op\":\"grant\",\"apps\":[]}\n\t{\"id\":3,\"op\":\"key\",\"keys\":\"a\"}");
  process.close_input();
  const std::vector<Frame> frames = split_frames(process.read_rest());
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].json, R"({"id":5,"ok":true})");
  EXPECT_EQ(frames[1].json, R"({"id":5,"ok":true})");
  EXPECT_EQ(frames[2].json, R"({"id":3,"ok":false,"refused":{"kind":"no-app"}})");
  EXPECT_EQ(process.wait().status, 0);
}

TEST(Serve, UnreadableLinesAreAnsweredWithANullId) {
  TempDir dir;
  replace_file(dir.file("scene.json"), "{}");
  ServerProcess process({{"serve"}, dir.file("scene.json")});
  const struct {
    std::string line, want;
  } cases[] = {
      {R"({"op":"hello"})",
       R"({"error":"unreadable request: missing field `id` at line 1 column 14","id":null,"ok":false})"},
      {R"({"id":4,"op":"move","x":1,"y":2,"z":3})",
       R"({"error":"unreadable request: unknown field `z`, expected `x` or `y` at line 1 column 38","id":null,"ok":false})"},
      {R"({"id":4,"op":"hello"} {})",
       R"({"error":"unreadable request: trailing characters at line 1 column 23","id":null,"ok":false})"},
      {R"({"id":4,"by":null,"op":"hello"})",
       R"({"error":"unreadable request: invalid type: null, expected string or map at line 1 column 31","id":null,"ok":false})"},
      {"{\"id\":4,\"op\":\"type\",\"text\":\"tab\there\"}",
       R"({"error":"unreadable request: control character (\\u0000-\\u001F) found while parsing a string at line 1 column 32","id":null,"ok":false})"},
      {R"({"id":4,"op":"click","x":1,"y":2,"count":256})",
       R"({"error":"unreadable request: invalid value: integer `256`, expected u8 at line 1 column 45","id":null,"ok":false})"},
      {R"({"id":4,"op":"hello","extra":1})", R"({"id":4,"ok":true,)"},
  };
  for (const auto& c : cases) {
    process.send(c.line + "\n");
    const std::string answer = process.read_json();
    EXPECT_TRUE(answer.starts_with(c.want)) << c.line << " answered " << answer;
  }
  process.close_input();
  EXPECT_EQ(process.wait().status, 0);
}

TEST(Serve, EveryRefusalOfTheChecks) {
  TempDir dir;
  const std::string scene = dir.file("scene.json");
  replace_file(scene, desktop_scene());
  ServerProcess process({kServeArgs, scene});
  const struct {
    std::string scene_extra;  // replaces the scene before the request when not empty
    std::string request;
    std::string want;
  } steps[] = {
      {"", R"("op":"grant","apps":["com.example.Mail","com.kestrum.app"])",
       R"("ok":false,"refused":{"kind":"kestrum"})"},
      {"", R"("op":"grant","apps":["com.example.Mail"])", R"("ok":true)"},
      {"", R"("op":"move","x":150,"y":50)", R"("ok":true)"},
      {"", R"("op":"move","x":1440,"y":50)", R"("ok":false,"refused":{"kind":"off-screen"})"},
      {"", R"("op":"scroll","x":150,"y":-0.5,"dx":0,"dy":3)",
       R"("ok":false,"refused":{"kind":"off-screen"})"},
      {"", R"("op":"click","x":150,"y":500)", R"("ok":false,"refused":{"kind":"desktop"})"},
      {"", R"("op":"click","x":50,"y":50,"count":2)", R"("ok":false,"refused":{"kind":"kestrum"})"},
      {"", R"("op":"move","x":450,"y":50)", R"("ok":false,"refused":{"kind":"kestrum"})"},
      {"", R"("op":"move","x":250,"y":50)",
       R"("ok":false,"refused":{"app":"com.example.Notes","kind":"outside","name":"Notes"})"},
      {"", R"("op":"drag","path":[[150,50],{"x":350,"y":50}])",
       R"("ok":false,"refused":{"app":"","kind":"outside","name":"a system window"})"},
      {"", R"("by":"person","op":"move","x":150,"y":50)",
       R"("ok":false,"refused":{"kind":"agent"})"},
      {"", R"("op":"key","keys":"cmd+c")", R"("ok":true)"},
      {R"(, "front": 11)", R"("op":"key","keys":"cmd+c")",
       R"("ok":false,"refused":{"app":"com.example.Notes","kind":"not-in-front","name":"Notes"})"},
      {R"(, "front": 12)", R"("op":"type","text":"hi")",
       R"("ok":false,"refused":{"kind":"kestrum"})"},
      {R"(, "front": null)", R"("op":"type","text":"hi")",
       R"("ok":false,"refused":{"kind":"no-app"})"},
      {R"(, "front": 10, "secureInput": true)", R"("op":"type","text":"hi")",
       R"("ok":false,"refused":{"kind":"secure-input"})"},
      {R"(, "front": 10, "secureInput": true)", R"("op":"type","text":"")", R"("ok":true)"},
      {"", R"("op":"open","app":"com.example.Notes")",
       R"("ok":false,"refused":{"app":"com.example.Notes","kind":"not-granted"})"},
      {R"(, "front": 10, "open": "/bin/true")", R"("op":"open","app":"com.example.Mail")",
       R"("ok":true)"},
      {R"(, "accessibility": false)", R"("op":"move","x":-5,"y":50)",
       R"("error":"the accessibility service is not available")"},
      {"", R"("op":"click","x":150,"y":50,"count":0)", R"("error":"a click counts 1 to 3 clicks")"},
      {"", R"("op":"drag","path":[[150,50]])", R"("error":"a drag needs at least two points")"},
      {"", R"("op":"owner","owner":"person")", R"("ok":true)"},
      {"", R"("op":"move","x":150,"y":50)", R"("ok":false,"refused":{"kind":"person"})"},
      {"", R"("by":"person","op":"move","x":150,"y":50)", R"("ok":true)"},
      {"", R"("by":"person","op":"open","app":"com.example.Mail")",
       R"("ok":false,"refused":{"kind":"person"})"},
      {R"(, "front": 10, "capture": {"content": "denied"})", R"("op":"capture","maxSide":0)",
       R"("error":"denied")"},
  };
  std::uint64_t id = 0;
  for (const auto& step : steps) {
    if (!step.scene_extra.empty()) replace_file(scene, desktop_scene(step.scene_extra));
    ++id;
    process.send("{\"id\":" + std::to_string(id) + "," + step.request + "}\n");
    const std::string answer = process.read_json();
    const std::string id_member = "\"id\":" + std::to_string(id);
    // Members in byte order: "error" comes before "id", "ok" after it.
    const std::string want = step.want.starts_with("\"error\"")
                                 ? "{" + step.want + "," + id_member + ",\"ok\":false}"
                                 : "{" + id_member + "," + step.want + "}";
    EXPECT_EQ(answer, want) << step.request;
    if (!step.scene_extra.empty()) replace_file(scene, desktop_scene());
  }
  process.close_input();
  EXPECT_EQ(process.wait().status, 0);
}

const std::string kDisabledByTimeout = R"({"type": 4294967294})";

TEST(Serve, ThePersonTakesOverBetweenAnswers) {
  TempDir dir;
  const std::string posted = dir.file("posted");
  PersonInput person(dir.file("input"));
  replace_file(dir.file("scene.json"),
               desktop_scene(R"(, "front": 10, "input": ")" + dir.file("input") +
                             R"(", "posted": ")" + posted + "\""));
  ServerProcess process({kServeArgs, dir.file("scene.json")});

  // With nothing granted the person's input is ignored.
  person.send_line(R"({"type": 10})");
  person.send_line(kDisabledByTimeout);
  wait_for_reenables(posted, 1);
  process.send(R"({"id":1,"op":"move","x":150,"y":50})"
               "\n");
  EXPECT_EQ(
      process.read_json(),
      R"({"id":1,"ok":false,"refused":{"app":"com.example.Mail","kind":"outside","name":"Mail"}})");

  process.send(R"({"id":2,"op":"grant","apps":["com.example.Mail"]})"
               "\n");
  EXPECT_EQ(process.read_json(), R"({"id":2,"ok":true})");
  // The server's own events never count; the person's motion adds up.
  person.send_line(R"({"type": 1, "tag": 1263752269})");
  person.send_line(R"({"type": 5, "dx": 3, "dy": -2})");
  person.send_line(kDisabledByTimeout);
  wait_for_reenables(posted, 2);
  process.send(R"({"id":3,"op":"move","x":150,"y":50})"
               "\n");
  EXPECT_EQ(process.read_json(), R"({"id":3,"ok":true})");

  // One more point reaches six: the event comes unasked.
  person.send_line(R"({"type": 6, "dx": 1})");
  EXPECT_EQ(process.read_json(), kTakeover);
  process.send(R"({"id":4,"op":"move","x":150,"y":50})"
               "\n");
  EXPECT_EQ(process.read_json(), R"({"id":4,"ok":false,"refused":{"kind":"person"}})");

  // Handing control back starts the count afresh.
  process.send(R"({"id":5,"op":"owner","owner":"agent"})"
               "\n");
  EXPECT_EQ(process.read_json(), R"({"id":5,"ok":true})");
  person.send_line(R"({"type": 27, "dx": 5})");
  person.send_line(R"({"type": 4294967295})");
  wait_for_reenables(posted, 3);
  process.send(R"({"id":6,"op":"move","x":150,"y":50})"
               "\n");
  EXPECT_EQ(process.read_json(), R"({"id":6,"ok":true})");
  person.send_line(R"({"type": 22})");
  EXPECT_EQ(process.read_json(), kTakeover);

  process.close_input();
  EXPECT_FALSE(process.read_frame().has_value());
  EXPECT_EQ(process.wait().status, 0);
}

TEST(Serve, TheTakeoverEventNeverLandsInsideAnAnswer) {
  TempDir dir;
  PersonInput person(dir.file("input"));
  replace_file(dir.file("scene.json"), R"({"input": ")" + dir.file("input") + "\"}");
  ServerProcess process({{"serve"}, dir.file("scene.json")});
  process.send(R"({"id":0,"op":"grant","apps":["x"]})"
               "\n");
  EXPECT_EQ(process.read_json(), R"({"id":0,"ok":true})");
  constexpr int kRequests = 300;
  std::string batch;
  for (int id = 1; id <= kRequests; ++id)
    batch += "{\"id\":" + std::to_string(id) + ",\"op\":\"hello\"}\n";
  process.send(batch);
  person.send_line(R"({"type": 3})");
  int answered = 0;
  int events = 0;
  while (answered < kRequests || events == 0) {
    const std::string json = process.read_json();
    if (json == kTakeover) {
      ++events;
      continue;
    }
    ++answered;
    EXPECT_TRUE(
        json.starts_with("{\"id\":" + std::to_string(answered) + ",\"ok\":true,\"permissions\":"))
        << json;
  }
  process.close_input();
  EXPECT_FALSE(process.read_frame().has_value());
  EXPECT_EQ(events, 1);
  EXPECT_EQ(process.wait().status, 0);
}

// How the server ends: on invalid UTF-8 after answering what came before,
// cleanly at the end of its input, and on a failing output or input.
TEST(Serve, EndsOnItsStreamsAsTheyEnd) {
  enum class Input { kLines, kClosed, kFolder };
  const struct {
    const char* name;
    Input input;
    bool close_output;
    std::string lines;
    std::string answers;
    int status;
    std::string err;
  } cases[] = {
      {"invalid UTF-8", Input::kLines, false,
       "{\"id\":1,\"op\":\"owner\",\"owner\":\"agent\"}\n{\"id\":2,\"op\":\"type\",\"text\":"
       "\"\xff\"}\n{\"id\":3,\"op\":\"owner\",\"owner\":\"agent\"}\n",
       R"({"id":1,"ok":true})", 1, "kestrum-computer: stream did not contain valid UTF-8\n"},
      {"end of input", Input::kClosed, false, "", "", 0, ""},
      {"closed output", Input::kLines, true, "{\"id\":1,\"op\":\"hello\"}\n", "", 1,
       "kestrum-computer: Broken pipe (os error 32)\n"},
      {"read error", Input::kFolder, false, "", "", 1,
       "kestrum-computer: Is a directory (os error 21)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    replace_file(dir.file("scene.json"), "{}");
    ServerOptions options{{"serve"}, dir.file("scene.json")};
    if (c.input == Input::kFolder) {
      options.stdin_fd = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      ASSERT_GE(options.stdin_fd, 0);
    }
    ServerProcess process(options);
    if (options.stdin_fd >= 0) ::close(options.stdin_fd);
    if (c.close_output) process.close_output();
    if (c.input == Input::kClosed) process.close_input();
    if (!c.lines.empty()) process.send(c.lines);
    if (!c.answers.empty()) {
      EXPECT_EQ(process.read_json(), c.answers);
    }
    if (!c.close_output) {
      EXPECT_EQ(process.read_rest(), "");
    }
    const Exit exit = process.wait();
    EXPECT_EQ(exit.status, c.status);
    EXPECT_EQ(exit.err, c.err);
  }
}

}  // namespace
}  // namespace kestrum::computer::testing
