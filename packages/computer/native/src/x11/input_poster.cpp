#include "x11/input_poster.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <variant>

#include "x11/connection.h"
#include "x11/keysyms.h"

namespace kestrum::computer::x11 {
namespace {

// A borrowed keycode keeps its keysym this long after its last use before
// it is given back. Clients read the keyboard mapping when they handle a
// key, which may be after the server posted it; restoring at once would
// let them read the old mapping and type nothing.
constexpr std::chrono::milliseconds kBorrowGrace{300};

struct ButtonOf {
  std::uint32_t system_button;  // 0 left, 1 right, 2 middle
  unsigned int x_button;
};
constexpr ButtonOf kButtons[] = {{0, Button1}, {1, Button3}, {2, Button2}};

unsigned int x_button(std::uint32_t system_button) {
  for (const ButtonOf& entry : kButtons) {
    if (entry.system_button == system_button) return entry.x_button;
  }
  return Button1;
}

struct MouseKind {
  std::uint32_t type;
  bool motion;
  bool down;
};
constexpr MouseKind kMouseKinds[] = {
    {event_type::kMouseMoved, true, false},        {event_type::kLeftMouseDragged, true, false},
    {event_type::kRightMouseDragged, true, false}, {event_type::kOtherMouseDragged, true, false},
    {event_type::kLeftMouseDown, false, true},     {event_type::kRightMouseDown, false, true},
    {event_type::kOtherMouseDown, false, true},    {event_type::kLeftMouseUp, false, false},
    {event_type::kRightMouseUp, false, false},     {event_type::kOtherMouseUp, false, false},
};

int to_pixel(double coordinate) {
  if (!(coordinate > std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  if (!(coordinate < std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
  return static_cast<int>(std::lround(coordinate));
}

std::uint32_t magnitude(std::int32_t amount) {
  const auto value =
      amount < 0 ? 0u - static_cast<std::uint32_t>(amount) : static_cast<std::uint32_t>(amount);
  return std::min(value, kMostScrollClicks);
}

std::vector<KeyCode> spare_keycodes(Display* display) {
  int low = 0;
  int high = 0;
  XDisplayKeycodes(display, &low, &high);
  int per_code = 0;
  const XPtr<KeySym> map(
      XGetKeyboardMapping(display, static_cast<KeyCode>(low), high - low + 1, &per_code));
  std::vector<KeyCode> spare;
  if (!map) return spare;
  for (int code = low; code <= high; ++code) {
    const KeySym* syms = map.get() + (code - low) * per_code;
    if (std::all_of(syms, syms + per_code, [](KeySym sym) { return sym == NoSymbol; })) {
      spare.push_back(static_cast<KeyCode>(code));
    }
  }
  return spare;
}

}  // namespace

InputPoster::InputPoster(Display* display, OwnEvents& own)
    : display_(display),
      own_(own),
      shift_(XKeysymToKeycode(display, XK_Shift_L)),
      spare_(spare_keycodes(display)) {}

InputPoster::~InputPoster() {
  restore_spares(true);
  XFlush(display_);
}

bool InputPoster::post(const SyntheticEvent& event) {
  restore_spares(false);
  bool posted = false;
  if (const auto* mouse = std::get_if<MouseEventParams>(&event)) posted = post_mouse(*mouse);
  if (const auto* key = std::get_if<KeyEventParams>(&event)) posted = post_key(*key);
  if (const auto* scroll = std::get_if<ScrollEventParams>(&event)) posted = post_scroll(*scroll);
  XFlush(display_);
  return posted;
}

bool InputPoster::post_mouse(const MouseEventParams& mouse) {
  const auto kind = std::find_if(std::begin(kMouseKinds), std::end(kMouseKinds),
                                 [&](const MouseKind& k) { return k.type == mouse.type; });
  if (kind == std::end(kMouseKinds)) return false;
  if (kind->motion) {
    const int x = to_pixel(mouse.x);
    const int y = to_pixel(mouse.y);
    own_.note({OwnKind::kMotion, 0, x, y, OwnEvents::Clock::now()});
    XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
    return true;
  }
  // Button events land where the pointer is: every sequence moves it to the
  // button's point first.
  const unsigned int button = x_button(mouse.button);
  if (kind->down) note_press(OwnKind::kButtonPress, button);
  XTestFakeButtonEvent(display_, button, kind->down ? True : False, CurrentTime);
  return true;
}

void InputPoster::click(unsigned int button, std::uint32_t times) {
  for (std::uint32_t i = 0; i < times; ++i) {
    note_press(OwnKind::kButtonPress, button);
    XTestFakeButtonEvent(display_, button, True, CurrentTime);
    XTestFakeButtonEvent(display_, button, False, CurrentTime);
  }
}

// Wheel 1 positive scrolls up (button 4), wheel 2 positive scrolls left
// (button 6); one click per line.
bool InputPoster::post_scroll(const ScrollEventParams& scroll) {
  click(scroll.wheel1 > 0 ? 4 : 5, magnitude(scroll.wheel1));
  click(scroll.wheel2 > 0 ? 6 : 7, magnitude(scroll.wheel2));
  return true;
}

void InputPoster::note_press(OwnKind kind, std::uint32_t detail) {
  own_.note({kind, detail, 0, 0, OwnEvents::Clock::now()});
}

void InputPoster::press(KeyCode code, bool down) {
  if (down) note_press(OwnKind::kKeyPress, code);
  XTestFakeKeyEvent(display_, code, down ? True : False, CurrentTime);
}

// Modifiers go down before the key and up after it, each once: the portable
// sequence sends the flags on both the key's down and up events.
bool InputPoster::post_key(const KeyEventParams& key) {
  if (key.text) return !key.down || type_text(*key.text);
  const auto keysym = keysym_of_code(key.keycode);
  if (!keysym) return false;
  KeyCode code = XKeysymToKeycode(display_, *keysym);
  if (code == 0) {
    const auto spare = borrow_spare(*keysym);
    if (!spare) return false;
    code = *spare;
  }
  std::vector<KeyCode> modifiers;
  for (KeySym sym : modifier_keysyms(key.flags.value_or(0))) {
    if (const KeyCode m = XKeysymToKeycode(display_, sym); m != 0) modifiers.push_back(m);
  }
  if (key.down) {
    for (KeyCode m : modifiers) press(m, true);
    press(code, true);
  } else {
    press(code, false);
    for (auto m = modifiers.rbegin(); m != modifiers.rend(); ++m) press(*m, false);
  }
  return true;
}

bool InputPoster::type_text(const std::u16string& text) {
  for (char32_t character : scalars_of_utf16(text)) {
    if (!type_keysym(keysym_of_character(character))) return false;
  }
  return true;
}

// A keysym the keymap has at the first level is typed plainly, at the
// second with Shift; any other is typed on a borrowed spare keycode.
bool InputPoster::type_keysym(KeySym keysym) {
  const KeyCode code = XKeysymToKeycode(display_, keysym);
  const bool plain = code != 0 && XkbKeycodeToKeysym(display_, code, 0, 0) == keysym;
  const bool shifted = code != 0 && !plain && XkbKeycodeToKeysym(display_, code, 0, 1) == keysym;
  if (plain || (shifted && shift_ != 0)) {
    if (shifted) press(shift_, true);
    press(code, true);
    press(code, false);
    if (shifted) press(shift_, false);
    return true;
  }
  const auto spare = borrow_spare(keysym);
  if (!spare) return false;
  press(*spare, true);
  press(*spare, false);
  return true;
}

std::optional<KeyCode> InputPoster::borrow_spare(KeySym keysym) {
  const auto now = Clock::now();
  for (auto& [code, borrowed] : borrowed_) {
    if (borrowed.keysym == keysym) {
      borrowed.used = now;
      return code;
    }
  }
  const auto is_free = [&](KeyCode code) { return !borrowed_.contains(code); };
  auto free = std::find_if(spare_.begin(), spare_.end(), is_free);
  if (free == spare_.end()) {
    // More distinct characters within the grace than spare keycodes: the
    // oldest loans end early.
    restore_spares(true);
    free = std::find_if(spare_.begin(), spare_.end(), is_free);
  }
  if (free == spare_.end()) return std::nullopt;
  // Both levels, so that a held Shift changes nothing.
  KeySym syms[] = {keysym, keysym};
  XChangeKeyboardMapping(display_, *free, 2, syms, 1);
  borrowed_[*free] = {keysym, now};
  return *free;
}

void InputPoster::restore_spares(bool all) {
  const auto now = Clock::now();
  for (auto at = borrowed_.begin(); at != borrowed_.end();) {
    if (!all && now - at->second.used < kBorrowGrace) {
      ++at;
      continue;
    }
    KeySym none[] = {NoSymbol, NoSymbol};
    XChangeKeyboardMapping(display_, at->first, 2, none, 1);
    at = borrowed_.erase(at);
  }
}

}  // namespace kestrum::computer::x11
