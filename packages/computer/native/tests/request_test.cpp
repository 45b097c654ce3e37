#include "serve/request.h"

#include <gtest/gtest.h>

#include <sstream>

#include "testing/record.h"

namespace kestrum::computer {
namespace {

// A canonical text of a request, so that a table can state expectations
// compactly and a mismatch shows every field.
std::string show(const Request& request) {
  std::ostringstream out;
  out << request.id << (request.by == Party::kAgent ? " agent " : " person ")
      << kOpNames[request.op.index()];
  const auto button = [](MouseButton b) {
    return b == MouseButton::kLeft ? "left" : b == MouseButton::kRight ? "right" : "middle";
  };
  std::visit(
      [&](const auto& op) {
        using T = std::decay_t<decltype(op)>;
        if constexpr (std::is_same_v<T, op::Grant>) {
          for (const auto& app : op.apps) out << " [" << app << "]";
        } else if constexpr (std::is_same_v<T, op::Owner>) {
          out << (op.owner == Party::kAgent ? " agent" : " person");
        } else if constexpr (std::is_same_v<T, op::Capture>) {
          out << " " << op.max_side;
        } else if constexpr (std::is_same_v<T, op::Click>) {
          out << " " << op.x << " " << op.y << " " << button(op.button) << " " << int(op.count);
        } else if constexpr (std::is_same_v<T, op::Move>) {
          out << " " << op.x << " " << op.y;
        } else if constexpr (std::is_same_v<T, op::Drag>) {
          for (const Point& p : op.path) out << " (" << p.x << "," << p.y << ")";
        } else if constexpr (std::is_same_v<T, op::Scroll>) {
          out << " " << op.x << " " << op.y << " " << op.dx << " " << op.dy;
        } else if constexpr (std::is_same_v<T, op::Type>) {
          out << " [" << op.text << "]";
        } else if constexpr (std::is_same_v<T, op::Key>) {
          out << " [" << op.keys << "]";
        } else if constexpr (std::is_same_v<T, op::Open>) {
          out << " [" << op.app << "]";
        }
      },
      request.op);
  return out.str();
}

// Every line read here is recorded with its verdict for the schema check,
// so these tables are also the schema's cases.
Result<Request> parse_recorded(const std::string& line) {
  auto request = parse_request(line);
  kestrum::testing::record_case("computer-request", line, request ? "" : request.error());
  return request;
}

TEST(ParseRequest, ReadsEveryOperation) {
  const struct {
    std::string line;
    std::string want;
  } cases[] = {
      {R"({"id":1,"op":"hello"})", "1 agent hello"},
      {R"(  {"op":"hello","id":18446744073709551615,"by":"person"} )",
       "18446744073709551615 person hello"},
      {R"({"id":3,"op":"hello","extra":[1,{"a":null}],"x":"y"})", "3 agent hello"},
      {R"({"id":4,"op":"apps","anything":true})", "4 agent apps"},
      {R"({"id":5,"op":"grant","apps":[]})", "5 agent grant"},
      {R"({"id":5,"op":"grant","apps":["b","a","b"]})", "5 agent grant [b] [a] [b]"},
      {R"({"id":6,"op":"owner","owner":"person"})", "6 agent owner person"},
      {R"({"id":6,"op":"owner","owner":{"person":null},"by":{"person":null}})",
       "6 person owner person"},
      {R"({"id":7,"op":"capture","maxSide":0})", "7 agent capture 0"},
      {R"({"id":7,"op":4,"maxSide":1280})", "7 agent capture 1280"},
      {R"({"id":8,"op":"click","x":100.0,"y":200})", "8 agent click 100 200 left 1"},
      {R"({"id":8,"op":5,"x":-1.5e3,"y":0.25,"button":{"middle":null},"count":3})",
       "8 agent click -1500 0.25 middle 3"},
      {R"({"id":8,"op":"click","x":1,"y":2,"button":"right","count":0})",
       "8 agent click 1 2 right 0"},
      {R"({"id":8,"op":"click","count":255,"y":2,"x":1})", "8 agent click 1 2 left 255"},
      {R"({"id":9,"op":"move","x":-0.0,"y":1e300})", "9 agent move -0 1e+300"},
      {R"({"id":10,"op":"drag","path":[[1,2],{"x":3,"y":4,"z":"ignored"}]})",
       "10 agent drag (1,2) (3,4)"},
      {R"({"id":10,"op":"drag","path":[]})", "10 agent drag"},
      {R"({"id":11,"op":"scroll","x":1,"y":2,"dx":-2147483648,"dy":2147483647})",
       "11 agent scroll 1 2 -2147483648 2147483647"},
      {R"({"id":12,"op":"type","text":"h\u00e9\n"})", "12 agent type [h\xc3\xa9\n]"},
      {R"({"id":12,"op":"type","text":""})", "12 agent type []"},
      {R"({"id":13,"op":"key","keys":"cmd+shift+t"})", "13 agent key [cmd+shift+t]"},
      {R"({"id":14,"op":11,"app":"com.example.Notes"})", "14 agent open [com.example.Notes]"},
      {"{\"id\":15,\r\n\"op\":\t\"hello\"}", "15 agent hello"},
  };
  for (const auto& c : cases) {
    auto request = parse_recorded(c.line);
    ASSERT_TRUE(request.ok()) << c.line << ": " << request.error();
    EXPECT_EQ(show(*request), c.want) << c.line;
  }
}

TEST(ParseRequest, ErrorsCarryTheirMessageAndPosition) {
  const struct {
    std::string line;
    std::string want;
  } cases[] = {
      // The envelope.
      {R"({"op":"hello"})", "missing field `id` at line 1 column 14"},
      {R"({"op":"hello"}   )", "missing field `id` at line 1 column 14"},
      {R"({"id":1})", "missing field `op` at line 1 column 8"},
      {R"({"id":1,"op":"hello","id":2})", "duplicate field `id` at line 1 column 28"},
      {R"({"id":1,"op":"hello","op":"hello"})", "duplicate field `op` at line 1 column 34"},
      {R"({"id":1,"by":"person","by":"agent","op":"hello"})",
       "duplicate field `by` at line 1 column 48"},
      {R"({"id":1,"by":null,"op":"hello"})",
       "invalid type: null, expected string or map at line 1 column 31"},
      {R"({"id":1,"by":"robot","op":"hello"})",
       "unknown variant `robot`, expected `agent` or `person` at line 1 column 34"},
      {R"({"id":1,"op":"fly"})",
       "unknown variant `fly`, expected one of `hello`, `grant`, `owner`, `apps`, `capture`, "
       "`click`, `move`, "
       "`drag`, `scroll`, `type`, `key`, `open` at line 1 column 19"},
      {R"({"id":1,"op":12})",
       "invalid value: integer `12`, expected variant index 0 <= i < 12 at line 1 column 16"},
      {R"({"id":1,"op":-1})",
       "invalid type: integer `-1`, expected variant identifier at line 1 column 16"},
      {R"({"id":1,"op":true})",
       "invalid type: boolean `true`, expected variant identifier at line 1 column 18"},
      {R"({"id":1,"op":{"hello":null}})",
       "invalid type: map, expected variant identifier at line 1 column 28"},
      {R"({"id":-1,"op":"hello"})",
       "invalid value: integer `-1`, expected u64 at line 1 column 22"},
      {R"({"id":1.5,"op":"hello"})",
       "invalid type: floating point `1.5`, expected u64 at line 1 column 23"},
      {R"({"id":18446744073709551616,"op":"hello"})",
       "invalid type: floating point `1.8446744073709552e19`, expected u64 at line 1 column 40"},
      {R"({"id":"7","op":"hello"})",
       "invalid type: string \"7\", expected u64 at line 1 column 23"},
      {R"({"id":null,"op":"hello"})", "invalid type: null, expected u64 at line 1 column 24"},
      // Order: the envelope's own fault comes first, then the missing id,
      // then the operation.
      {R"({"id":"x","op":"fly"})", "invalid type: string \"x\", expected u64 at line 1 column 21"},
      {R"({"op":"fly"})", "missing field `id` at line 1 column 12"},
      {R"({"id":1,"op":"fly","op":"move"})",
       "unknown variant `fly`, expected one of `hello`, `grant`, `owner`, `apps`, `capture`, "
       "`click`, `move`, "
       "`drag`, `scroll`, `type`, `key`, `open` at line 1 column 31"},
      {R"({"id":1,"op":"move","op":"fly"})", "duplicate field `op` at line 1 column 31"},
      // Operation fields.
      {R"({"id":1,"op":"click","x":1,"y":2,"color":"red"})",
       "unknown field `color`, expected one of `x`, `y`, `button`, `count` at line 1 column 47"},
      {R"({"id":1,"op":"move","x":1,"y":2,"z":3})",
       "unknown field `z`, expected `x` or `y` at line 1 column 38"},
      {R"({"id":1,"op":"grant","apps":[],"by2":1})",
       "unknown field `by2`, expected `apps` at line 1 column 39"},
      {R"({"id":1,"op":"click","x":1,"y":2,"count":256})",
       "invalid value: integer `256`, expected u8 at line 1 column 45"},
      {R"({"id":1,"op":"click","x":1,"y":2,"count":null})",
       "invalid type: null, expected u8 at line 1 column 46"},
      {R"({"id":1,"op":"click","x":1,"y":2,"count":1.0})",
       "invalid type: floating point `1.0`, expected u8 at line 1 column 45"},
      {R"({"id":1,"op":"click","x":1,"y":2,"button":"LEFT"})",
       "unknown variant `LEFT`, expected one of `left`, `right`, `middle` at line 1 column 49"},
      {R"({"id":1,"op":"click","x":1,"y":2,"button":null})",
       "invalid type: null, expected string or map at line 1 column 47"},
      {R"({"id":1,"op":"click","x":1,"y":2,"x":3})", "duplicate field `x` at line 1 column 39"},
      {R"({"id":1,"op":"move","x":"1","y":2})",
       "invalid type: string \"1\", expected f64 at line 1 column 34"},
      {R"({"id":1,"op":"move","x":1})", "missing field `y` at line 1 column 26"},
      {R"({"id":1,"op":"move"})", "missing field `x` at line 1 column 20"},
      {R"({"id":1,"op":"drag","path":[[1]]})",
       "invalid length 1, expected struct Point with 2 elements at line 1 column 33"},
      {R"({"id":1,"op":"drag","path":[[1,2,3]]})", "trailing characters at line 1 column 37"},
      {R"({"id":1,"op":"drag","path":{"x":1}})",
       "invalid type: map, expected a sequence at line 1 column 35"},
      {R"({"id":1,"op":"drag","path":[{"x":1}]})", "missing field `y` at line 1 column 37"},
      {R"({"id":1,"op":"drag","path":["a"]})",
       "invalid type: string \"a\", expected struct Point at line 1 column 33"},
      {R"({"id":1,"op":"drag","path":[[1,"2"]]})",
       "invalid type: string \"2\", expected f64 at line 1 column 37"},
      {R"({"id":1,"op":"scroll","x":1,"y":2,"dx":2147483648,"dy":0})",
       "invalid value: integer `2147483648`, expected i32 at line 1 column 57"},
      {R"({"id":1,"op":"grant","apps":"a"})",
       "invalid type: string \"a\", expected a sequence at line 1 column 32"},
      {R"({"id":1,"op":"grant","apps":[1]})",
       "invalid type: integer `1`, expected a string at line 1 column 32"},
      {R"({"id":1,"op":"owner","owner":{"agent":null,"person":null}})",
       "invalid value: map, expected map with a single key at line 1 column 58"},
      {R"({"id":1,"op":"owner","owner":{"agent":1}})",
       "invalid type: integer `1`, expected unit at line 1 column 41"},
      {R"({"id":1,"op":"owner","owner":7})",
       "invalid type: integer `7`, expected string or map at line 1 column 31"},
      {R"({"id":1,"op":"capture","maxSide":-1})",
       "invalid value: integer `-1`, expected u64 at line 1 column 36"},
      {R"({"id":1,"op":"type"})", "missing field `text` at line 1 column 20"},
      {R"({"id":1,"op":"key","keys":["a"]})",
       "invalid type: sequence, expected a string at line 1 column 32"},
      {R"({"id":1,"op":"open"})", "missing field `app` at line 1 column 20"},
      // Not an object.
      {R"([1,2])", "invalid type: sequence, expected struct Request at line 1 column 5"},
      {R"("hello")", "invalid type: string \"hello\", expected struct Request at line 1 column 7"},
      {R"(42)", "invalid type: integer `42`, expected struct Request at line 1 column 2"},
      // Syntax errors win over every typed fault, wherever they are.
      {R"({"op":"hello","id":1,"id":x})", "expected value at line 1 column 27"},
      {R"({"id":1,"op":"hello")", "EOF while parsing an object at line 1 column 20"},
      {R"({"id":1,"op":"hel)", "EOF while parsing a string at line 1 column 17"},
      {R"({"id":1,"op":"hello",})", "trailing comma at line 1 column 22"},
      {R"({id:1})", "key must be a string at line 1 column 2"},
      {R"({"id":1 "op":"hello"})", "expected `,` or `}` at line 1 column 9"},
      {R"({"id":01,"op":"hello"})", "invalid number at line 1 column 8"},
      // Checked only once the request itself is sound.
      {R"({"id":1,"op":"hello"} x)", "trailing characters at line 1 column 23"},
      {R"({"id":1,"op":"hello"}{})", "trailing characters at line 1 column 22"},
      {R"({"id":1,"op":"move"} x)", "missing field `x` at line 1 column 20"},
      {"", "EOF while parsing a value at line 1 column 0"},
  };
  for (const auto& c : cases) {
    auto request = parse_recorded(c.line);
    ASSERT_FALSE(request.ok()) << c.line << " read as " << show(*request);
    EXPECT_EQ(request.error(), c.want) << c.line;
  }
}

TEST(ParseRequest, NestsAtMost128Levels) {
  const std::string prefix = R"({"id":1,"op":"hello","x":)";
  // The request object is the first level.
  const std::string deepest = prefix + std::string(127, '[') + std::string(127, ']') + "}";
  auto allowed = parse_request(deepest);
  ASSERT_TRUE(allowed.ok()) << allowed.error();
  EXPECT_EQ(show(*allowed), "1 agent hello");

  const std::string too_deep = prefix + std::string(128, '[') + std::string(128, ']') + "}";
  auto refused = parse_request(too_deep);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error(),
            "recursion limit exceeded at line 1 column " + std::to_string(prefix.size() + 128));
}

}  // namespace
}  // namespace kestrum::computer
