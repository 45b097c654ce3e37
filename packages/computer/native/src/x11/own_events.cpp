#include "x11/own_events.h"

#include <algorithm>

namespace kestrum::computer::x11 {

std::deque<OwnEvents::Posted>& OwnEvents::record_of(OwnKind kind) {
  switch (kind) {
    case OwnKind::kMotion:
    case OwnKind::kButtonPress:
      return pointer_;
    case OwnKind::kKeyPress:
      return keyboard_;
  }
  return pointer_;
}

void OwnEvents::note(const Posted& posted) {
  const std::lock_guard<std::mutex> hold(lock_);
  record_of(posted.kind).push_back(posted);
}

std::optional<OwnEvents::Posted> OwnEvents::claim(OwnKind kind, std::uint32_t detail,
                                                  Clock::time_point now) {
  const std::lock_guard<std::mutex> hold(lock_);
  std::deque<Posted>& posted = record_of(kind);
  while (!posted.empty() && now - posted.front().at > kLifetime) posted.pop_front();
  const auto match = std::find_if(posted.begin(), posted.end(), [&](const Posted& entry) {
    return entry.kind == kind && entry.detail == detail;
  });
  if (match == posted.end()) return std::nullopt;
  const Posted claimed = *match;
  posted.erase(posted.begin(), match + 1);
  return claimed;
}

std::size_t OwnEvents::pending() const {
  const std::lock_guard<std::mutex> hold(lock_);
  return pointer_.size() + keyboard_.size();
}

}  // namespace kestrum::computer::x11
