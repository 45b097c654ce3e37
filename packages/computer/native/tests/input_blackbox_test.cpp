// The input operations through the built program: the exact events the
// simulated desktop records as posted, and where the checks stop a request.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/server_process.h"

namespace kestrum::computer::testing {
namespace {

const std::vector<std::string> kServeArgs = {"serve", "--own-pid", "500", "--own-app",
                                             "com.kestrum.app"};

// Along the top edge: the server's own application (by identifier), Mail,
// Notes, a process without an application object, the server's own process.
std::string scene_text(const std::string& posted, const std::string& front,
                       const std::string& extra) {
  return R"({"apps": [{"pid": 12, "id": "com.kestrum.app", "name": "Kestrum"},
                     {"pid": 10, "id": "com.example.Mail", "name": "Mail"},
                     {"pid": 11, "id": "com.example.Notes", "name": "Notes"}],
            "windows": [{"pid": 12, "x": 0, "y": 0, "width": 100, "height": 100},
                        {"pid": 10, "x": 100, "y": 0, "width": 200, "height": 100},
                        {"pid": 11, "x": 300, "y": 0, "width": 100, "height": 100},
                        {"pid": 77, "x": 400, "y": 0, "width": 100, "height": 100},
                        {"pid": 500, "x": 500, "y": 0, "width": 100, "height": 100}],
            "posted": ")" +
         posted + R"(", "front": )" + front + extra + "}";
}

// Once three events are posted, the right half of Mail's window belongs to Notes.
const std::string kNotesMovesInAfter3 =
    R"(, "after": [{"posts": 3, "scene": {"windows": [
         {"pid": 10, "x": 100, "y": 0, "width": 100, "height": 100},
         {"pid": 11, "x": 200, "y": 0, "width": 100, "height": 100}]}}])";

struct Case {
  std::string name;
  std::string request;  // without "id"
  std::string answer;   // after "id"
  std::vector<std::string> posted;
  std::string extra = "";
  std::string front = "10";
  std::vector<std::string> before = {};  // requests that must succeed first
};

std::string lines_of(const std::string& path) {
  std::ifstream file(path);
  if (!file) return "";
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void run(const Case& c) {
  SCOPED_TRACE(c.name);
  TempDir dir;
  const std::string posted = dir.file("posted");
  replace_file(dir.file("scene.json"), scene_text(posted, c.front, c.extra));
  ServerProcess process({kServeArgs, dir.file("scene.json")});
  std::vector<std::string> requests = {R"("op":"grant","apps":["com.example.Mail"])"};
  requests.insert(requests.end(), c.before.begin(), c.before.end());
  std::uint64_t id = 0;
  for (const std::string& request : requests) {
    process.send("{\"id\":" + std::to_string(++id) + "," + request + "}\n");
    ASSERT_EQ(process.read_json(), "{\"id\":" + std::to_string(id) + ",\"ok\":true}") << request;
  }
  process.send("{\"id\":" + std::to_string(++id) + "," + c.request + "}\n");
  const std::string id_member = "\"id\":" + std::to_string(id);
  const std::string want = c.answer.starts_with("\"error\"")
                               ? "{" + c.answer + "," + id_member + ",\"ok\":false}"
                               : "{" + id_member + "," + c.answer + "}";
  EXPECT_EQ(process.read_json(), want);
  std::string want_posted;
  for (const std::string& line : c.posted) want_posted += line + "\n";
  EXPECT_EQ(lines_of(posted), want_posted);
  process.close_input();
  EXPECT_EQ(process.wait().status, 0);
}

const std::string kOk = R"("ok":true)";
const std::string kNoEvent = R"("error":"the system could not make the event")";

// Mouse lines: keys in byte order, the tag on every one.
std::string mouse(int type, const std::string& x, const std::string& y, int button = 0,
                  int click_state = 0) {
  std::string line = "{\"button\":" + std::to_string(button);
  if (click_state != 0) line += ",\"clickState\":" + std::to_string(click_state);
  return line + ",\"tag\":1263752269,\"type\":" + std::to_string(type) + ",\"x\":" + x +
         ",\"y\":" + y + "}";
}
std::string moved(const std::string& x, const std::string& y) { return mouse(5, x, y); }
std::string key(int type, int code, std::uint64_t flags) {
  return "{\"flags\":" + std::to_string(flags) + ",\"keycode\":" + std::to_string(code) +
         ",\"tag\":1263752269,\"type\":" + std::to_string(type) + "}";
}
std::string text(int type, const std::string& piece) {
  return "{\"keycode\":0,\"tag\":1263752269,\"text\":\"" + piece +
         "\",\"type\":" + std::to_string(type) + "}";
}

// U+1F600, two UTF-16 code units.
const std::string kGrin = "\xF0\x9F\x98\x80";

std::string repeated(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

TEST(Input, MouseSequences) {
  const Case cases[] = {
      {"move", R"("op":"move","x":150.5,"y":50)", kOk, {moved("150.5", "50.0")}},
      {"triple click",
       R"("op":"click","x":150,"y":50,"count":3)",
       kOk,
       {moved("150.0", "50.0"), mouse(1, "150.0", "50.0", 0, 1), mouse(2, "150.0", "50.0", 0, 1),
        mouse(1, "150.0", "50.0", 0, 2), mouse(2, "150.0", "50.0", 0, 2),
        mouse(1, "150.0", "50.0", 0, 3), mouse(2, "150.0", "50.0", 0, 3)}},
      {"right double click",
       R"("op":"click","x":150,"y":50,"button":"right","count":2)",
       kOk,
       {moved("150.0", "50.0"), mouse(3, "150.0", "50.0", 1, 1), mouse(4, "150.0", "50.0", 1, 1),
        mouse(3, "150.0", "50.0", 1, 2), mouse(4, "150.0", "50.0", 1, 2)}},
      {"middle click",
       R"("op":"click","x":150,"y":50,"button":"middle")",
       kOk,
       {moved("150.0", "50.0"), mouse(25, "150.0", "50.0", 2, 1),
        mouse(26, "150.0", "50.0", 2, 1)}},
      {"scroll down three lines",
       R"("op":"scroll","x":150,"y":50,"dx":0,"dy":3)",
       kOk,
       {moved("150.0", "50.0"),
        R"({"tag":1263752269,"type":22,"units":1,"wheel1":-3,"wheel2":0,"wheel3":0,"wheelCount":2})"}},
      {"scroll negates in 32 bits",
       R"("op":"scroll","x":150,"y":50,"dx":-2147483648,"dy":-7)",
       kOk,
       {moved("150.0", "50.0"),
        R"({"tag":1263752269,"type":22,"units":1,"wheel1":7,"wheel2":-2147483648,"wheel3":0,"wheelCount":2})"}},
      {"drag",
       R"("op":"drag","path":[[110,10],[150,50],{"x":250,"y":90}])",
       kOk,
       {moved("110.0", "10.0"), mouse(1, "110.0", "10.0", 0, 1), mouse(6, "150.0", "50.0"),
        mouse(6, "250.0", "90.0"), mouse(2, "250.0", "90.0", 0, 1)}},
  };
  for (const Case& c : cases) run(c);
}

TEST(Input, KeySequences) {
  const Case cases[] = {
      {"command and shift",
       R"("op":"key","keys":"cmd+shift+t")",
       kOk,
       {key(10, 17, 0x120000), key(11, 17, 0x120000)}},
      {"control only",
       R"("op":"key","keys":"Ctrl+C")",
       kOk,
       {key(10, 8, 0x40000), key(11, 8, 0x40000)}},
      {"every modifier once",
       R"("op":"key","keys":"win+control+opt+SHIFT+alt+return")",
       kOk,
       {key(10, 36, 0x1E0000), key(11, 36, 0x1E0000)}},
      {"a capital adds no shift", R"("op":"key","keys":"A")", kOk, {key(10, 0, 0), key(11, 0, 0)}},
      {"the word space", R"("op":"key","keys":"space")", kOk, {key(10, 49, 0), key(11, 49, 0)}},
      {"F12", R"("op":"key","keys":"F12")", kOk, {key(10, 111, 0), key(11, 111, 0)}},
      {"a space character",
       R"("op":"key","keys":" ")",
       R"("error":"this key has no key code on this keyboard")",
       {}},
      {"a plus sign", R"("op":"key","keys":"+")", R"("error":"\"\" is not a modifier")", {}},
      {"twenty characters",
       R"("op":"type","text":"abcdefghijklmnopqrst")",
       kOk,
       {text(10, "abcdefgh"), text(11, "abcdefgh"), text(10, "ijklmnop"), text(11, "ijklmnop"),
        text(10, "qrst"), text(11, "qrst")}},
      {"an emoji and seven letters",
       "\"op\":\"type\",\"text\":\"" + kGrin + "abcdefg\"",
       kOk,
       {text(10, kGrin + "abcdefg"), text(11, kGrin + "abcdefg")}},
      {"nine emoji: sixteen code units, then two",
       "\"op\":\"type\",\"text\":\"" + repeated(kGrin, 9) + "\"",
       kOk,
       {text(10, repeated(kGrin, 8)), text(11, repeated(kGrin, 8)), text(10, kGrin),
        text(11, kGrin)}},
      {"escaped characters",
       R"("op":"type","text":"a+\"\\\u00e9")",
       kOk,
       {text(10, "a+\\\"\\\\\xC3\xA9"), text(11, "a+\\\"\\\\\xC3\xA9")}},
  };
  for (const Case& c : cases) run(c);
}

TEST(Input, ChecksBetweenEvents) {
  const Case cases[] = {
      {"a drag refused at its third point releases at the second",
       R"("op":"drag","path":[[110,10],[150,50],[250,90]])",
       R"("ok":false,"refused":{"app":"com.example.Notes","kind":"outside","name":"Notes"})",
       {moved("110.0", "10.0"), mouse(1, "110.0", "10.0", 0, 1), mouse(6, "150.0", "50.0"),
        mouse(2, "150.0", "50.0", 0, 1)},
       kNotesMovesInAfter3},
      {"a drag point refused in the first pass",
       R"("op":"drag","path":[[110,10],[150,50],[350,90]])",
       R"("ok":false,"refused":{"app":"com.example.Notes","kind":"outside","name":"Notes"})",
       {}},
      {"a click checks again before pressing",
       R"("op":"click","x":250,"y":50)",
       R"("ok":false,"refused":{"app":"com.example.Notes","kind":"outside","name":"Notes"})",
       {moved("250.0", "50.0")},
       R"(, "after": [{"posts": 1, "scene": {"windows": [{"pid": 11, "x": 200, "y": 0, "width": 100, "height": 100}]}}])"},
      {"a double click checks before its second click",
       R"("op":"click","x":250,"y":50,"count":2)",
       R"("ok":false,"refused":{"app":"com.example.Notes","kind":"outside","name":"Notes"})",
       {moved("250.0", "50.0"), mouse(1, "250.0", "50.0", 0, 1), mouse(2, "250.0", "50.0", 0, 1)},
       kNotesMovesInAfter3},
      {"a scroll checks again after its move",
       R"("op":"scroll","x":150,"y":50,"dx":1,"dy":1)",
       R"("ok":false,"refused":{"kind":"desktop"})",
       {moved("150.0", "50.0")},
       R"(, "after": [{"posts": 1, "scene": {"windows": []}}])"},
      {"typing checks before every piece",
       R"("op":"type","text":"abcdefghijklmnopqrst")",
       R"("ok":false,"refused":{"app":"com.example.Notes","kind":"not-in-front","name":"Notes"})",
       {text(10, "abcdefgh"), text(11, "abcdefgh")},
       R"(, "after": [{"posts": 2, "scene": {"front": 11}}])"},
  };
  for (const Case& c : cases) run(c);
}

TEST(Input, EventsThatCannotBeMade) {
  const Case cases[] = {
      {"midway through a click",
       R"("op":"click","x":150,"y":50,"count":2)",
       kNoEvent,
       {moved("150.0", "50.0"), mouse(1, "150.0", "50.0", 0, 1), mouse(2, "150.0", "50.0", 0, 1)},
       R"(, "failAfter": 3)"},
      {"a drag that fails is not released",
       R"("op":"drag","path":[[110,10],[150,50],[250,90]])",
       kNoEvent,
       {moved("110.0", "10.0"), mouse(1, "110.0", "10.0", 0, 1), mouse(6, "150.0", "50.0")},
       R"(, "failAfter": 3)"},
      {"a release that fails replaces the refusal",
       R"("op":"drag","path":[[110,10],[150,50],[250,90]])",
       kNoEvent,
       {moved("110.0", "10.0"), mouse(1, "110.0", "10.0", 0, 1), mouse(6, "150.0", "50.0")},
       R"(, "failAfter": 3)" + kNotesMovesInAfter3},
      {"the key up",
       R"("op":"key","keys":"tab")",
       kNoEvent,
       {key(10, 48, 0)},
       R"(, "failAfter": 1)"},
      {"the second piece of text",
       R"("op":"type","text":"abcdefghi")",
       kNoEvent,
       {text(10, "abcdefgh"), text(11, "abcdefgh")},
       R"(, "failAfter": 2)"},
  };
  for (const Case& c : cases) run(c);
}

TEST(Input, RefusalsPostNothing) {
  const std::string outside_system =
      R"("ok":false,"refused":{"app":"","kind":"outside","name":"a system window"})";
  const std::string kestrum = R"("ok":false,"refused":{"kind":"kestrum"})";
  const std::string person = R"("op":"owner","owner":"person")";
  const Case cases[] = {
      {"off-screen",
       R"("op":"move","x":150,"y":900)",
       R"("ok":false,"refused":{"kind":"off-screen"})",
       {}},
      {"desktop",
       R"("op":"click","x":150,"y":100)",
       R"("ok":false,"refused":{"kind":"desktop"})",
       {}},
      {"own application", R"("op":"click","x":50,"y":50)", kestrum, {}},
      {"own process", R"("op":"scroll","x":550,"y":50,"dx":0,"dy":1)", kestrum, {}},
      {"a system window", R"("op":"move","x":450,"y":50)", outside_system, {}},
      {"no application in front",
       R"("op":"key","keys":"a")",
       R"("ok":false,"refused":{"kind":"no-app"})",
       {},
       "",
       "null"},
      {"another application in front",
       R"("op":"type","text":"a")",
       R"("ok":false,"refused":{"app":"com.example.Notes","kind":"not-in-front","name":"Notes"})",
       {},
       "",
       "11"},
      {"own application in front", R"("op":"type","text":"a")", kestrum, {}, "", "12"},
      {"secure input for the agent",
       R"("op":"key","keys":"a")",
       R"("ok":false,"refused":{"kind":"secure-input"})",
       {},
       R"(, "secureInput": true)"},
      {"the person owns",
       R"("op":"move","x":150,"y":50)",
       R"("ok":false,"refused":{"kind":"person"})",
       {},
       "",
       "10",
       {person}},
      {"the agent owns",
       R"("by":"person","op":"type","text":"a")",
       R"("ok":false,"refused":{"kind":"agent"})",
       {}},
      {"empty text needs no check",
       R"("op":"type","text":"")",
       kOk,
       {},
       R"(, "secureInput": true)",
       "null",
       {person}},
  };
  for (const Case& c : cases) run(c);
}

TEST(Input, ThePersonTypesDespiteSecureInput) {
  run({"secure input is not the person's concern",
       R"("by":"person","op":"type","text":"ok")",
       kOk,
       {text(10, "ok"), text(11, "ok")},
       R"(, "secureInput": true)",
       "10",
       {R"("op":"owner","owner":"person")"}});
}

}  // namespace
}  // namespace kestrum::computer::testing
