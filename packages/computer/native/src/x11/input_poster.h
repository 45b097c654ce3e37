// Posts the server's events with XTest on the serve loop's connection, and
// notes each one in the record the tap claims them against.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "desktop/desktop.h"
#include "x11/own_events.h"
#include "x11/xlib.h"

namespace kestrum::computer::x11 {

// Scroll clicks posted for one wheel amount at most: a line is a click, and
// an amount of two billion lines would otherwise hold the serve loop.
inline constexpr std::uint32_t kMostScrollClicks = 1000;

class InputPoster {
 public:
  InputPoster(Display* display, OwnEvents& own);
  // Gives every borrowed keycode back.
  ~InputPoster();
  InputPoster(const InputPoster&) = delete;
  InputPoster& operator=(const InputPoster&) = delete;

  // False when the event cannot be made on this keyboard (no keycode and no
  // spare one to borrow); then nothing of it was posted.
  bool post(const SyntheticEvent& event);

 private:
  bool post_mouse(const MouseEventParams& mouse);
  bool post_scroll(const ScrollEventParams& scroll);
  bool post_key(const KeyEventParams& key);
  bool type_text(const std::u16string& text);
  bool type_keysym(KeySym keysym);
  void press(KeyCode code, bool down);
  void note_press(OwnKind kind, std::uint32_t detail);
  void click(unsigned int button, std::uint32_t times);
  std::optional<KeyCode> borrow_spare(KeySym keysym);
  void restore_spares(bool all);

  using Clock = std::chrono::steady_clock;
  struct Borrowed {
    KeySym keysym;
    Clock::time_point used;
  };

  Display* display_;
  OwnEvents& own_;
  KeyCode shift_;
  std::vector<KeyCode> spare_;            // keycodes without any keysym
  std::map<KeyCode, Borrowed> borrowed_;  // spare keycodes lent to a keysym
};

}  // namespace kestrum::computer::x11
