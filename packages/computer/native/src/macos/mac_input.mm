// Creating, tagging and posting one event.
#include "macos/mac_desktop.h"

#import <CoreFoundation/CoreFoundation.h>
#import <CoreGraphics/CoreGraphics.h>

#include <type_traits>
#include <variant>
#include <vector>

#include "macos/scoped_cf.h"

namespace kestrum::computer::macos {
namespace {

// The interface speaks in CoreGraphics numbers; the casts below rely on it.
static_assert(event_type::kLeftMouseDown == kCGEventLeftMouseDown);
static_assert(event_type::kLeftMouseUp == kCGEventLeftMouseUp);
static_assert(event_type::kRightMouseDown == kCGEventRightMouseDown);
static_assert(event_type::kRightMouseUp == kCGEventRightMouseUp);
static_assert(event_type::kMouseMoved == kCGEventMouseMoved);
static_assert(event_type::kLeftMouseDragged == kCGEventLeftMouseDragged);
static_assert(event_type::kOtherMouseDown == kCGEventOtherMouseDown);
static_assert(event_type::kOtherMouseUp == kCGEventOtherMouseUp);
static_assert(kCGMouseButtonLeft == 0 && kCGMouseButtonRight == 1 && kCGMouseButtonCenter == 2);
static_assert(kCGScrollEventUnitLine == 1);
static_assert(std::is_same_v<std::underlying_type_t<CGEventType>, std::uint32_t>);
static_assert(std::is_same_v<std::underlying_type_t<CGMouseButton>, std::uint32_t>);
static_assert(std::is_same_v<std::underlying_type_t<CGScrollEventUnit>, std::uint32_t>);
static_assert(std::is_same_v<CGKeyCode, std::uint16_t> &&
              std::is_same_v<CGEventFlags, std::uint64_t>);

using Event = ScopedCF<CGEventRef>;

Event make_event(const MouseEventParams& mouse) {
  Event event(CGEventCreateMouseEvent(nullptr, static_cast<CGEventType>(mouse.type),
                                      CGPoint{mouse.x, mouse.y},
                                      static_cast<CGMouseButton>(mouse.button)));
  if (event && mouse.click_state) {
    CGEventSetIntegerValueField(event.get(), kCGMouseEventClickState, *mouse.click_state);
  }
  return event;
}

void set_unicode_string(CGEventRef event, const std::u16string& text) {
  // UniChar and char16_t are distinct types; copying avoids reading one
  // through the other.
  const std::vector<UniChar> units(text.begin(), text.end());
  CGEventKeyboardSetUnicodeString(event, static_cast<UniCharCount>(units.size()), units.data());
}

Event make_event(const KeyEventParams& key) {
  Event event(CGEventCreateKeyboardEvent(nullptr, key.keycode, key.down));
  if (!event) return event;
  if (key.flags) CGEventSetFlags(event.get(), *key.flags);
  if (key.text) set_unicode_string(event.get(), *key.text);
  return event;
}

Event make_event(const ScrollEventParams& scroll) {
  return Event(CGEventCreateScrollWheelEvent2(nullptr, static_cast<CGScrollEventUnit>(scroll.units),
                                              scroll.wheel_count, scroll.wheel1, scroll.wheel2,
                                              scroll.wheel3));
}

}  // namespace

bool MacDesktop::post_event(const SyntheticEvent& event) {
  const Event made = std::visit([](const auto& each) { return make_event(each); }, event);
  if (!made) return false;
  // The tag goes on last, after every other field, on every event posted.
  CGEventSetIntegerValueField(made.get(), kCGEventSourceUserData, kEventTag);
  CGEventPost(kCGHIDEventTap, made.get());
  return true;
}

}  // namespace kestrum::computer::macos
