#include "serve/serve_loop.h"

#include <unistd.h>

#include <new>
#include <stdexcept>

#include "base/utf8.h"
#include "desktop/line_reader.h"
#include "desktop/program.h"
#include "serve/dispatch.h"
#include "serve/outcome.h"
#include "serve/request.h"

namespace kestrum::computer {

namespace {

// Memory that runs out during one operation (the pixels of a huge display,
// say) costs that operation's answer, not the server.
Outcome handle_guarded(ServerState& state, const Request& request) {
  try {
    return handle_request(state, request.op, request.by);
  } catch (const std::bad_alloc&) {
    return Failure{std::string(kOutOfMemory)};
  } catch (const std::length_error&) {
    return Failure{std::string(kOutOfMemory)};
  }
}

LoopEnd serve_lines(ServerState& state, LineReader& reader) {
  for (;;) {
    NextLine next = reader.next();
    if (auto* error = std::get_if<ReadError>(&next)) return LoopError{std::move(error->text)};
    if (std::holds_alternative<EndOfInput>(next)) return EndOfInput{};
    std::string& text = std::get<Line>(next).text;
    if (!is_valid_utf8(text)) return LoopError{std::string(kInvalidUtf8)};
    strip_line_end(text);
    // Blank lines get no answer; the parse sees the line untrimmed.
    if (trim_unicode_white_space(text, Overlong::kAccepted).empty()) continue;
    if (auto written = answer_line(state, text); !written) return LoopError{written.take_error()};
  }
}

}  // namespace

Status answer_line(ServerState& state, std::string_view line) {
  auto request = parse_request(line);
  if (!request) return write_message(state.output, unreadable_answer(request.error()));
  Outcome outcome = handle_guarded(state, *request);
  const json::Object answer = answer_object(request->id, outcome);
  auto* reply = std::get_if<Reply>(&outcome);
  return write_message(
      state.output, answer,
      reply ? std::span<const std::uint8_t>(reply->payload) : std::span<const std::uint8_t>());
}

LoopEnd run_serve_loop(ServerState& state, int input_fd) {
  LineReader reader(input_fd);
  // Outside an operation only a line or an answer too large for memory can
  // throw; no frame has been started then, and the server ends with its
  // error line instead of an abort.
  try {
    return serve_lines(state, reader);
  } catch (const std::bad_alloc&) {
    return LoopError{std::string(kOutOfMemory)};
  } catch (const std::length_error&) {
    return LoopError{std::string(kOutOfMemory)};
  }
}

void serve_loop(ServerState& state) {
  const LoopEnd end = run_serve_loop(state, STDIN_FILENO);
  if (const auto* error = std::get_if<LoopError>(&end)) exit_with_error(error->message);
  exit_process(0);
}

}  // namespace kestrum::computer
