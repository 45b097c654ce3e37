// Text forms shared by the JSON writer and the reader's messages: floats in
// their shortest round-trip digits (one form for both), and strings quoted
// the way the messages show them.
#pragma once

#include <string>
#include <string_view>

namespace kestrum::json {

// A finite double as written in JSON: the shortest digits that read back as
// the same value, always with a decimal point or an exponent. With the value
// in [10^(k-1), 10^k): decimal notation when -5 < k <= 16 (1440.0, 0.00001),
// otherwise scientific with a bare exponent (1e16, 1.5e-7). -0.0 stays -0.0.
// Non-finite values are the caller's business (the writer emits null).
std::string format_float(double value);

// `text` in double quotes for messages: \" \\ \t \r \n \0 escaped, control
// and non-printable characters as \u{hex}, everything else as is. Invalid
// UTF-8 is shown as U+FFFD.
std::string debug_quote(std::string_view text);

}  // namespace kestrum::json
