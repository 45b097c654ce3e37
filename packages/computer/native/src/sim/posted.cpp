#include "sim/posted.h"

#include <fcntl.h>
#include <unistd.h>

#include "base/io.h"
#include "base/system_error.h"
#include "base/unique_fd.h"
#include "base/utf8.h"
#include "json/writer.h"
#include "sim/scene.h"

namespace kestrum::computer::sim {
namespace {

std::string utf8_from_utf16(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    append_utf8(out, c);
  }
  return out;
}

struct Fields {
  json::Object& out;

  void operator()(const MouseEventParams& e) const {
    out["x"] = e.x;
    out["y"] = e.y;
    out["button"] = e.button;
    if (e.click_state) out["clickState"] = *e.click_state;
  }
  void operator()(const KeyEventParams& e) const {
    out["keycode"] = e.keycode;
    if (e.flags) out["flags"] = *e.flags;
    if (e.text) out["text"] = utf8_from_utf16(*e.text);
  }
  void operator()(const ScrollEventParams& e) const {
    out["units"] = e.units;
    out["wheelCount"] = e.wheel_count;
    out["wheel1"] = e.wheel1;
    out["wheel2"] = e.wheel2;
    out["wheel3"] = e.wheel3;
  }
};

struct TypeOf {
  std::uint32_t operator()(const MouseEventParams& e) const { return e.type; }
  std::uint32_t operator()(const KeyEventParams& e) const {
    return e.down ? event_type::kKeyDown : event_type::kKeyUp;
  }
  std::uint32_t operator()(const ScrollEventParams&) const { return event_type::kScrollWheel; }
};

}  // namespace

std::uint32_t posted_type(const SyntheticEvent& event) { return std::visit(TypeOf{}, event); }

std::string posted_line(const SyntheticEvent& event) {
  json::Object line;
  line["type"] = posted_type(event);
  std::visit(Fields{line}, event);
  line["tag"] = kEventTag;
  return json::to_json(line) + "\n";
}

void append_line(const std::string& path, std::string_view line) {
  const UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (!file) scene_fault("cannot write " + path + ": " + last_system_error_text());
  if (!write_all(file.get(), line))
    scene_fault("cannot write " + path + ": " + last_system_error_text());
}

}  // namespace kestrum::computer::sim
