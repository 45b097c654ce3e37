// The listen-only event tap and the main thread's run loop.
#include "macos/mac_desktop.h"

#import <CoreFoundation/CoreFoundation.h>
#import <CoreGraphics/CoreGraphics.h>

#include "macos/scoped_cf.h"

namespace kestrum::computer::macos {
namespace {

// The tap hands the system's type numbers on unchanged; the interface's
// names for them must be the system's.
static_assert(event_type::kRightMouseDragged == kCGEventRightMouseDragged);
static_assert(event_type::kKeyDown == kCGEventKeyDown);
static_assert(event_type::kKeyUp == kCGEventKeyUp);
static_assert(event_type::kScrollWheel == kCGEventScrollWheel);
static_assert(event_type::kOtherMouseDragged == kCGEventOtherMouseDragged);
static_assert(event_type::kTapDisabledByTimeout == kCGEventTapDisabledByTimeout);
static_assert(event_type::kTapDisabledByUserInput == kCGEventTapDisabledByUserInput);
static_assert(static_cast<std::uint32_t>(EventField::kMouseDeltaX) == kCGMouseEventDeltaX);
static_assert(static_cast<std::uint32_t>(EventField::kMouseDeltaY) == kCGMouseEventDeltaY);
static_assert(static_cast<std::uint32_t>(EventField::kSourceUserData) == kCGEventSourceUserData);

// The event as the callback sees it, borrowed for the callback's duration.
class CgTapEvent final : public TapEvent {
 public:
  explicit CgTapEvent(CGEventRef event) : event_(event) {}
  std::int64_t integer_field(EventField field) const override {
    // The disabled notices may come without an event.
    if (!event_) return 0;
    return CGEventGetIntegerValueField(event_, static_cast<CGEventField>(field));
  }

 private:
  CGEventRef event_;
};

// noexcept: nothing may unwind into CoreGraphics.
CGEventRef on_tap_event(CGEventTapProxy, CGEventType type, CGEventRef event,
                        void* user_info) noexcept {
  const CgTapEvent view(event);
  static_cast<TapHandler*>(user_info)->on_event(static_cast<std::uint32_t>(type), view);
  return event;
}

class CfRunLoopSource final : public RunLoopSource {
 public:
  explicit CfRunLoopSource(ScopedCF<CFRunLoopSourceRef> source) : source_(std::move(source)) {}
  CFRunLoopSourceRef get() const { return source_.get(); }

 private:
  ScopedCF<CFRunLoopSourceRef> source_;
};

class CgEventTap final : public EventTap {
 public:
  explicit CgEventTap(ScopedCF<CFMachPortRef> port) : port_(std::move(port)) {}

  std::unique_ptr<RunLoopSource> create_run_loop_source() override {
    ScopedCF<CFRunLoopSourceRef> source(
        CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port_.get(), 0));
    if (!source) return nullptr;
    return std::make_unique<CfRunLoopSource>(std::move(source));
  }

  void enable() override { CGEventTapEnable(port_.get(), true); }

 private:
  ScopedCF<CFMachPortRef> port_;
};

class CfRunLoop final : public RunLoop {
 public:
  explicit CfRunLoop(ScopedCF<CFRunLoopRef> loop) : loop_(std::move(loop)) {}

  void add_source(RunLoopSource& source) override {
    // Only sources this desktop made can be added; the run loop keeps its
    // own reference to the source.
    auto* native = dynamic_cast<CfRunLoopSource*>(&source);
    if (!native) return;
    CFRunLoopAddSource(loop_.get(), native->get(), kCFRunLoopCommonModes);
  }

 private:
  ScopedCF<CFRunLoopRef> loop_;
};

}  // namespace

std::unique_ptr<EventTap> MacDesktop::create_event_tap(std::uint64_t mask, TapHandler& handler) {
  ScopedCF<CFMachPortRef> port(CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap,
                                                kCGEventTapOptionListenOnly, mask, &on_tap_event,
                                                &handler));
  if (!port) return nullptr;
  return std::make_unique<CgEventTap>(std::move(port));
}

std::unique_ptr<RunLoop> MacDesktop::current_run_loop() {
  auto loop = ScopedCF<CFRunLoopRef>::retain(CFRunLoopGetCurrent());
  if (!loop) return nullptr;
  return std::make_unique<CfRunLoop>(std::move(loop));
}

void MacDesktop::run_current_run_loop() { CFRunLoopRun(); }

}  // namespace kestrum::computer::macos
