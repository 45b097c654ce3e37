#include "x11/tap_loop.h"

#include <string_view>

namespace kestrum::computer::x11 {
namespace {

// The raw event's type as the system's event type number.
std::uint32_t event_type_of(int evtype, std::uint32_t detail) {
  if (evtype == XI_RawMotion) return event_type::kMouseMoved;
  if (evtype == XI_RawKeyPress) return event_type::kKeyDown;
  switch (detail) {
    case Button1:
      return event_type::kLeftMouseDown;
    case Button3:
      return event_type::kRightMouseDown;
    case 4:
    case 5:
    case 6:
    case 7:
      return event_type::kScrollWheel;
    default:
      return event_type::kOtherMouseDown;
  }
}

OwnKind own_kind(int evtype) {
  if (evtype == XI_RawMotion) return OwnKind::kMotion;
  if (evtype == XI_RawKeyPress) return OwnKind::kKeyPress;
  return OwnKind::kButtonPress;
}

void select_raw_events(Display* display) {
  unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(bits, XI_RawMotion);
  XISetMask(bits, XI_RawButtonPress);
  XISetMask(bits, XI_RawKeyPress);
  XIEventMask masters{XIAllMasterDevices, sizeof bits, bits};
  unsigned char hierarchy_bits[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(hierarchy_bits, XI_HierarchyChanged);
  XIEventMask all{XIAllDevices, sizeof hierarchy_bits, hierarchy_bits};
  XIEventMask masks[] = {masters, all};
  XISelectEvents(display, DefaultRootWindow(display), masks, 2);
}

// The X server's clock now: the time of a property change of our own.
Time server_time(Display* display) {
  const Window root = DefaultRootWindow(display);
  const Atom stamp = XInternAtom(display, "_KESTRUM_TAP_STARTED", False);
  XSelectInput(display, root, PropertyChangeMask);
  XChangeProperty(display, root, stamp, XA_INTEGER, 32, PropModeAppend, nullptr, 0);
  XEvent event;
  XIfEvent(
      display, &event,
      [](Display*, XEvent* e, XPointer atom) {
        return e->type == PropertyNotify && e->xproperty.atom == *reinterpret_cast<Atom*>(atom)
                   ? True
                   : False;
      },
      reinterpret_cast<XPointer>(const_cast<Atom*>(&stamp)));
  XSelectInput(display, root, NoEventMask);
  return event.xproperty.time;
}

}  // namespace

std::unique_ptr<TapLoop> TapLoop::open(std::uint64_t mask, TapHandler& handler, OwnEvents& own) {
  DisplayPtr display = open_display();
  if (!display) return nullptr;
  int opcode = 0, event = 0, error = 0;
  if (!XQueryExtension(display.get(), "XInputExtension", &opcode, &event, &error)) return nullptr;
  int major = 2, minor = 2;
  if (XIQueryVersion(display.get(), &major, &minor) != Success) return nullptr;
  select_raw_events(display.get());
  std::unique_ptr<TapLoop> loop(new TapLoop(std::move(display), opcode, mask, handler, own));
  loop->find_devices();
  loop->started_ = server_time(loop->display_.get());
  return loop;
}

TapLoop::TapLoop(DisplayPtr display, int opcode, std::uint64_t mask, TapHandler& handler,
                 OwnEvents& own)
    : display_(std::move(display)), opcode_(opcode), mask_(mask), handler_(handler), own_(own) {
  Window root = None, child = None;
  int x = 0, y = 0;
  unsigned int buttons = 0;
  XQueryPointer(display_.get(), DefaultRootWindow(display_.get()), &root, &child, &last_x_,
                &last_y_, &x, &y, &buttons);
}

bool has_relative_motion(const XIDeviceInfo& device) {
  for (int i = 0; i < device.num_classes; ++i) {
    const XIAnyClassInfo* info = device.classes[i];
    if (info->type != XIValuatorClass) continue;
    const auto* valuator = reinterpret_cast<const XIValuatorClassInfo*>(info);
    if (valuator->number <= 1 && valuator->mode == XIModeRelative) return true;
  }
  return false;
}

// The devices the XTest extension posts through (their names end so, for
// every master pair, including ones made later), and the pointers that
// report motion as deltas.
void TapLoop::find_devices() {
  xtest_devices_.clear();
  relative_devices_.clear();
  int count = 0;
  XIDeviceInfo* raw = XIQueryDevice(display_.get(), XIAllDevices, &count);
  for (int i = 0; i < count; ++i) {
    const std::string_view name = raw[i].name;
    if (name.ends_with(" XTEST pointer") || name.ends_with(" XTEST keyboard")) {
      xtest_devices_.insert(raw[i].deviceid);
    } else if (has_relative_motion(raw[i])) {
      relative_devices_.insert(raw[i].deviceid);
    }
  }
  if (raw) XIFreeDeviceInfo(raw);
}

std::optional<OwnEvents::Posted> TapLoop::own_event(int evtype, int source, std::uint32_t detail) {
  if (!xtest_devices_.contains(source)) return std::nullopt;
  return own_.claim(own_kind(evtype), evtype == XI_RawMotion ? 0 : detail);
}

// A motion's size: a mouse's raw values are its deltas; the server's own
// motions went where they were posted to; for anything else (another
// program's XTest motion, whose raw values may be positions or deltas, or
// an absolute device) where the pointer went since the last motion.
void TapLoop::measure(const XIRawEvent& raw, const std::optional<OwnEvents::Posted>& own,
                      std::int64_t& dx, std::int64_t& dy) {
  if (relative_devices_.contains(raw.sourceid)) {
    const double* value = raw.raw_values;
    double delta[2] = {0, 0};
    for (int axis = 0; axis < 2 && axis < raw.valuators.mask_len * 8; ++axis) {
      if (XIMaskIsSet(raw.valuators.mask, axis)) delta[axis] = *value++;
    }
    dx = static_cast<std::int64_t>(delta[0]);
    dy = static_cast<std::int64_t>(delta[1]);
    last_x_ += static_cast<int>(dx);
    last_y_ += static_cast<int>(dy);
    return;
  }
  int x = last_x_, y = last_y_;
  if (own) {
    x = own->x;
    y = own->y;
  } else {
    Window root = None, child = None;
    int window_x = 0, window_y = 0;
    unsigned int buttons = 0;
    XQueryPointer(display_.get(), DefaultRootWindow(display_.get()), &root, &child, &x, &y,
                  &window_x, &window_y, &buttons);
  }
  dx = x - last_x_;
  dy = y - last_y_;
  last_x_ = x;
  last_y_ = y;
}

void TapLoop::deliver(const XEvent& event) {
  const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
  // The clock is 32 bits of milliseconds: compared as a difference, it may
  // wrap around.
  if (static_cast<std::int32_t>(static_cast<std::uint32_t>(raw->time - started_)) < 0) return;
  const auto detail = static_cast<std::uint32_t>(raw->detail);
  const std::uint32_t type = event_type_of(raw->evtype, detail);
  const auto own = own_event(raw->evtype, raw->sourceid, detail);
  std::int64_t dx = 0, dy = 0;
  if (raw->evtype == XI_RawMotion) measure(*raw, own, dx, dy);
  if (((mask_ >> type) & 1) == 0) return;
  handler_.on_event(type, PlainTapEvent(own ? kEventTag : 0, dx, dy));
}

void TapLoop::run() {
  for (;;) {
    XEvent event;
    XNextEvent(display_.get(), &event);
    XGenericEventCookie* cookie = &event.xcookie;
    if (cookie->type != GenericEvent || cookie->extension != opcode_) continue;
    if (!XGetEventData(display_.get(), cookie)) continue;
    if (cookie->evtype == XI_HierarchyChanged) {
      find_devices();
    } else {
      deliver(event);
    }
    XFreeEventData(display_.get(), cookie);
  }
}

}  // namespace kestrum::computer::x11
