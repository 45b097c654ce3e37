#include "sim/tap_channel.h"

#include <fcntl.h>

#include <thread>
#include <variant>

#include "base/unique_fd.h"
#include "base/utf8.h"
#include "desktop/line_reader.h"

namespace kestrum::computer::sim {
namespace {

bool is_disabled_notice(std::uint32_t type) {
  return type == event_type::kTapDisabledByTimeout || type == event_type::kTapDisabledByUserInput;
}

// Plain reads, not a stream: a C++ library may fill a stream's whole buffer
// before handing out a line (libc++ does), and the person's events would
// then wait for later ones.
void read_input(const std::string& path, TapChannel& channel) {
  // Opening a FIFO waits here, off the run loop, until a writer comes.
  const UniqueFd input(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!input) scene_fault("cannot read the input " + path);
  LineReader reader(input.get());
  for (;;) {
    NextLine next = reader.next();
    if (const auto* error = std::get_if<ReadError>(&next)) {
      scene_fault("cannot read the input " + path + ": " + error->text);
    }
    if (std::holds_alternative<EndOfInput>(next)) return;
    std::string& text = std::get<Line>(next).text;
    strip_line_end(text);
    if (trim_unicode_white_space(text, Overlong::kAccepted).empty()) continue;
    auto event = parse_person_event(text);
    if (!event) scene_fault("input " + path + ": " + event.error());
    channel.push(*event);
  }
}

}  // namespace

void TapChannel::create_tap(TapHandler& handler, std::uint64_t mask) {
  const std::lock_guard<std::mutex> hold(lock_);
  handler_ = &handler;
  mask_ = mask;
}

void TapChannel::attach() {
  const std::lock_guard<std::mutex> hold(lock_);
  attached_ = true;
  arrived_.notify_all();
}

void TapChannel::enable() {
  const std::lock_guard<std::mutex> hold(lock_);
  enabled_ = true;
}

void TapChannel::push(const PersonEvent& event) {
  const std::lock_guard<std::mutex> hold(lock_);
  queue_.push_back(event);
  arrived_.notify_all();
}

bool TapChannel::admit(const PersonEvent& event) {
  if (!handler_) return false;
  if (is_disabled_notice(event.type)) {
    enabled_ = false;
    return true;
  }
  const bool wanted = event.type < 64 && ((mask_ >> event.type) & 1) != 0;
  return enabled_ && wanted;
}

void TapChannel::run() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    arrived_.wait(hold, [&] { return attached_ && !queue_.empty(); });
    const PersonEvent event = queue_.front();
    queue_.pop_front();
    if (!admit(event)) continue;
    TapHandler* handler = handler_;
    // The handler may re-enable the tap, which takes this lock.
    hold.unlock();
    handler->on_event(event.type, PlainTapEvent(event.tag, event.dx, event.dy));
    hold.lock();
  }
}

void start_input_reader(const std::string& path, TapChannel& channel) {
  std::thread([path, &channel] { read_input(path, channel); }).detach();
}

}  // namespace kestrum::computer::sim
