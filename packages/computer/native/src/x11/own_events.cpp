#include "x11/own_events.h"

#include <algorithm>

namespace kestrum::computer::x11 {

void OwnEvents::note(const Posted& posted) {
  const std::lock_guard<std::mutex> hold(lock_);
  posted_.push_back(posted);
}

std::optional<OwnEvents::Posted> OwnEvents::claim(OwnKind kind, std::uint32_t detail,
                                                  Clock::time_point now) {
  const std::lock_guard<std::mutex> hold(lock_);
  while (!posted_.empty() && now - posted_.front().at > kLifetime) posted_.pop_front();
  const auto match = std::find_if(posted_.begin(), posted_.end(), [&](const Posted& posted) {
    return posted.kind == kind && posted.detail == detail;
  });
  if (match == posted_.end()) return std::nullopt;
  const Posted claimed = *match;
  posted_.erase(posted_.begin(), match + 1);
  return claimed;
}

std::size_t OwnEvents::pending() const {
  const std::lock_guard<std::mutex> hold(lock_);
  return posted_.size();
}

}  // namespace kestrum::computer::x11
