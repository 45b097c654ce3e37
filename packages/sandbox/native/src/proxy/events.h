// The event channel: one compact JSON line per host asked for, and per web
// address a sandboxed program asked to open, on a descriptor the outer
// product handed over.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "base/unique_fd.h"

namespace kestrum::sandbox {

class EventChannel {
 public:
  explicit EventChannel(UniqueFd fd) : fd_(std::move(fd)) {}

  // Writes one line whole under the lock, so lines of different connections
  // never interleave. Write errors are dropped: the event is lost, the
  // request goes on, and later events are tried again.
  void write_line(std::string_view line);

 private:
  UniqueFd fd_;
  std::mutex lock_;
};

// {"allowed":…,"host":…,"type":"network"} and its line feed.
std::string network_event(bool allowed, std::string_view host);
// {"type":"openUrl","url":…} and its line feed.
std::string open_url_event(std::string_view url);

}  // namespace kestrum::sandbox
