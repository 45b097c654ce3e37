// Key combinations from outside: parse_keys must answer every text with a
// combination or one of its two messages, and a parsed combination must
// either have a key code or fail with the one no-key-code message.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "desktop/keys.h"

using namespace kestrum::computer;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto parsed = parse_keys(text);
  if (!parsed) {
    const std::string& message = parsed.error();
    if (!message.ends_with("\" is not a modifier") && !message.ends_with("\" is not a key"))
      std::abort();
    return 0;
  }
  auto code = key_code(parsed->key);
  if (!code && code.error() != kNoKeyCode) std::abort();
  const std::uint64_t mask = modifier_mask(parsed->modifiers);
  if ((mask == 0) != (parsed->modifiers == Modifiers{})) std::abort();
  return 0;
}
