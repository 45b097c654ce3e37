#include "x11/window_cache.h"

#include <algorithm>

namespace kestrum::computer::x11 {

std::vector<ClientWindow> WindowCache::clients(Display* display, const Atoms& atoms,
                                               ListOrder order) {
  const std::vector<Window>* windows = nullptr;
  std::vector<Window> fresh;
  if (const auto list = lists_.find(order); list != lists_.end()) {
    windows = &list->second;
  } else {
    bool managed = false;
    fresh = client_list(display, atoms, order, managed);
    // Without the manager's list nothing announces a change: it is read
    // afresh every time.
    windows = managed ? &lists_.emplace(order, std::move(fresh)).first->second : &fresh;
  }
  std::vector<ClientWindow> listed;
  for (Window window : *windows) {
    auto known = facts_.find(window);
    if (known == facts_.end()) known = facts_.emplace(window, facts(display, atoms, window)).first;
    listed.push_back(known->second);
  }
  forget_all_but(listed);
  return listed;
}

void WindowCache::forget_all_but(const std::vector<ClientWindow>& listed) {
  const auto is_listed = [&](Window window) {
    return std::any_of(listed.begin(), listed.end(),
                       [&](const ClientWindow& client) { return client.window == window; });
  };
  std::erase_if(facts_, [&](const auto& entry) { return !is_listed(entry.first); });
  std::erase_if(client_of_top_, [&](const auto& entry) { return !is_listed(entry.second); });
}

Window WindowCache::client_in(Display* display, const Atoms& atoms, Window top) {
  const std::vector<ClientWindow> listed = clients(display, atoms, ListOrder::kMapping);
  if (const auto known = client_of_top_.find(top); known != client_of_top_.end()) {
    return known->second;
  }
  for (const ClientWindow& client : listed) {
    const bool placed =
        std::any_of(client_of_top_.begin(), client_of_top_.end(),
                    [&](const auto& entry) { return entry.second == client.window; });
    if (placed) continue;
    if (const auto client_top = top_level_of(display, client.window)) {
      client_of_top_[*client_top] = client.window;
    }
  }
  if (const auto known = client_of_top_.find(top); known != client_of_top_.end()) {
    return known->second;
  }
  return client_of(display, atoms, top);
}

std::optional<std::int64_t> WindowCache::pid_of(Display* display, const Atoms& atoms,
                                                Window window) {
  if (const auto known = facts_.find(window); known != facts_.end()) return known->second.pid;
  return window_pid(display, atoms, window);
}

}  // namespace kestrum::computer::x11
