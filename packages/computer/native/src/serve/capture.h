// "capture": one screenshot of the main display at its native pixel size,
// in which only the windows of granted applications show and the server's
// own application never does. Capture consults no ownership: a screenshot
// is taken whoever controls the computer.
//
// Runs on the serve loop's thread and blocks it for at most two waits, one
// per system call. The control lock is held only while the grants are
// copied, never during a wait.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/desktop.h"
#include "desktop/lookups.h"
#include "desktop/one_shot.h"
#include "serve/outcome.h"
#include "serve/state.h"

namespace kestrum::computer {

inline constexpr std::string_view kCaptureNoAnswer = "the screen capture did not answer";
inline constexpr std::string_view kCaptureNoReason = "the system gave no reason";
inline constexpr std::string_view kCaptureNoMainDisplay =
    "the main display is not available to capture";

// What a completion handler reports when it got no value: the error's
// description, or kCaptureNoReason when no error object came either.
std::string error_text(std::optional<std::string> error);

// Positions in `apps` of the applications a screenshot shows, in their
// order: granted by exact identifier, and neither the server's own
// application nor its own process.
std::vector<std::size_t> included_applications(const std::vector<ShareableApplication>& apps,
                                               const std::set<std::string>& granted,
                                               const OwnIdentity& own);

// A Reply with "width" and "height" of the image after downscale for
// `max_side`, "screen" in points, and the pixels as payload; or a Failure
// with kCaptureNoAnswer, kCaptureNoReason, kCaptureNoMainDisplay, a system
// error's description, a conversion text, or kImageTooLarge when the
// display's image could not be carried by an answer or held in memory. Each wait lasts `wait` from
// the return of the call that was given the handler; only tests shorten it.
Outcome capture_screen(ServerState& state, std::uint64_t max_side,
                       std::chrono::steady_clock::duration wait = kReplyWait);

}  // namespace kestrum::computer
