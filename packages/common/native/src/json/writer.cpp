#include "json/writer.h"

#include <cmath>

#include "json/text.h"

namespace kestrum::json {
namespace {

// The short escapes; every other byte below 0x20 gets the \u00xx form.
char short_escape(unsigned char byte) {
  switch (byte) {
    case '"':
      return '"';
    case '\\':
      return '\\';
    case '\b':
      return 'b';
    case '\t':
      return 't';
    case '\n':
      return 'n';
    case '\f':
      return 'f';
    case '\r':
      return 'r';
    default:
      return 0;
  }
}

void write_float(std::string& out, double value) {
  out += std::isfinite(value) ? format_float(value) : "null";
}

struct Write {
  std::string& out;

  void operator()(std::nullptr_t) const { out += "null"; }
  void operator()(bool value) const { out += value ? "true" : "false"; }
  void operator()(std::int64_t value) const { out += std::to_string(value); }
  void operator()(std::uint64_t value) const { out += std::to_string(value); }
  void operator()(double value) const { write_float(out, value); }
  void operator()(const std::string& value) const { write_string(out, value); }

  void operator()(const Array& array) const {
    out += '[';
    for (std::size_t i = 0; i < array.size(); ++i) {
      if (i > 0) out += ',';
      write_json(out, array[i]);
    }
    out += ']';
  }

  void operator()(const Object& object) const {
    out += '{';
    bool first = true;
    for (const auto& [key, value] : object) {
      if (!first) out += ',';
      first = false;
      write_string(out, key);
      out += ':';
      write_json(out, value);
    }
    out += '}';
  }
};

}  // namespace

void write_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (const char escape = short_escape(byte)) {
      out += '\\';
      out += escape;
    } else if (byte < 0x20) {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  out += '"';
}

void write_json(std::string& out, const Value& value) { std::visit(Write{out}, value.data()); }

std::string to_json(const Value& value) {
  std::string out;
  write_json(out, value);
  return out;
}

}  // namespace kestrum::json
