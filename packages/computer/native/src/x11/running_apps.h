// Applications on X: one per client process. Decides everything from the
// window facts and the desktop entries it is given; reads nothing itself.
#pragma once

#include <cstdint>
#include <vector>

#include "desktop/desktop.h"
#include "x11/desktop_entry.h"
#include "x11/windows.h"

namespace kestrum::computer::x11 {

// The activation policy given to applications whose first window is a dock
// or desktop window; the portable lists skip every policy but 0.
inline constexpr std::int64_t kSystemPolicy = 2;

// One record per process that owns a client window with a pid, in the
// order of each process's first window. The identifier is that window's
// WM_CLASS class (absent when it has none); the name and bundle file name
// come from the desktop entry matching the identifier (the name is the
// identifier when none matches). A process whose first window is a dock
// or desktop window is not regular.
std::vector<RunningApp> running_apps(const std::vector<ClientWindow>& windows,
                                     const std::vector<DesktopEntry>& entries);

}  // namespace kestrum::computer::x11
