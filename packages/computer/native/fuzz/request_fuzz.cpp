// Request lines from outside: the reader must answer every line with a
// request or a positioned message, and the answer built from it must be
// well-formed JSON that reads back.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/utf8.h"
#include "json/document.h"
#include "json/writer.h"
#include "serve/outcome.h"
#include "serve/request.h"

using namespace kestrum;
using namespace kestrum::computer;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  // The serve loop only parses lines that are valid UTF-8 without a line feed.
  if (!is_valid_utf8(line) || line.find('\n') != std::string_view::npos) return 0;
  auto request = parse_request(line);
  json::Object answer;
  if (request) {
    answer = answer_object(request->id, Failure{std::string(kOpNames[request->op.index()])});
  } else {
    if (request.error().find(" at line 1 column ") == std::string::npos) std::abort();
    answer = unreadable_answer(request.error());
  }
  const std::string text = json::to_json(answer);
  if (!is_valid_utf8(text)) std::abort();
  const json::Document back = json::parse(text);
  if (back.syntax_error || !back.root) std::abort();
  return 0;
}
