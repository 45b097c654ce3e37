#include "serve/capture.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

#include "image/conversion.h"
#include "image/downscale.h"
#include "serve/reply_fields.h"

namespace kestrum::computer {
namespace {

using Content = std::shared_ptr<const ShareableContent>;
using Duration = std::chrono::steady_clock::duration;

// A copy, so grants changed while the capture waits do not affect it.
std::set<std::string> copy_grants(ServerState& state) {
  const std::lock_guard<std::mutex> hold(state.control_lock);
  return state.control.granted;
}

template <class T>
Result<T> await(OneShotReply<T>& reply, Duration wait) {
  std::optional<Result<T>> answer = reply.wait_for(wait);
  if (!answer) return fail(std::string(kCaptureNoAnswer));
  return std::move(*answer);
}

// The handler holds one reference to the reply and this frame another, so
// neither side can leave the other with a dangling reply, however late or
// often the system calls.
Result<Content> fetch_content(Desktop& desktop, Duration wait) {
  auto reply = std::make_shared<OneShotReply<Content>>();
  desktop.get_shareable_content([reply](Content content, std::optional<std::string> error) {
    if (content) {
      reply->send(std::move(content));
    } else {
      reply->send(fail(error_text(std::move(error))));
    }
  });
  return await(*reply, wait);
}

CaptureDescription describe(const CapturedImage& image) {
  return {image.width(), image.height(), image.bytes_per_row(), image.bits_per_pixel(),
          image.copy_data()};
}

// The conversion runs inside the handler, on the system's thread, because
// the image is valid only there.
Result<PixelImage> take_screenshot(Desktop& desktop, const ShareableContent& content,
                                   const ScreenshotParams& shot, Duration wait) {
  auto reply = std::make_shared<OneShotReply<PixelImage>>();
  desktop.capture_image(content, shot,
                        [reply](const CapturedImage* image, std::optional<std::string> error) {
                          if (!image) {
                            reply->send(fail(error_text(std::move(error))));
                            return;
                          }
                          // An exception would end the process from the system's thread.
                          try {
                            reply->send(image_from_capture(describe(*image)));
                          } catch (const std::bad_alloc&) {
                            reply->send(fail(std::string(kImageTooLarge)));
                          }
                        });
  return await(*reply, wait);
}

// Everything between the content and the pixels: the main display, the
// applications to show, and the screenshot unless nothing qualifies.
Result<PixelImage> capture_pixels(ServerState& state, const ShareableContent& content,
                                  const std::set<std::string>& granted,
                                  const DisplayGeometry& geometry, std::uint32_t main_display,
                                  Duration wait) {
  const std::vector<std::uint32_t> displays = content.display_ids();
  const auto display = std::find(displays.begin(), displays.end(), main_display);
  if (display == displays.end()) return fail(std::string(kCaptureNoMainDisplay));
  ScreenshotParams shot;
  shot.display_index = static_cast<std::size_t>(display - displays.begin());
  shot.application_indexes = included_applications(content.applications(), granted, state.own);
  // No answer could carry it, so the system is not asked to make it.
  if (!fits_in_answer(geometry.pixel_width, geometry.pixel_height)) {
    return fail(std::string(kImageTooLarge));
  }
  // Nothing would be visible, so no screenshot is asked for at all.
  if (shot.application_indexes.empty()) {
    return black_image(geometry.pixel_width, geometry.pixel_height);
  }
  shot.width = geometry.pixel_width;
  shot.height = geometry.pixel_height;
  return take_screenshot(state.desktop, content, shot, wait);
}

Reply capture_reply(PixelImage image, const ScreenRect& screen) {
  Reply reply;
  reply.fields["width"] = image.width;
  reply.fields["height"] = image.height;
  reply.fields["screen"] = screen_object(screen);
  reply.payload = std::move(image.pixels);
  return reply;
}

}  // namespace

std::string error_text(std::optional<std::string> error) {
  if (error) return std::move(*error);
  return std::string(kCaptureNoReason);
}

std::vector<std::size_t> included_applications(const std::vector<ShareableApplication>& apps,
                                               const std::set<std::string>& granted,
                                               const OwnIdentity& own) {
  std::vector<std::size_t> included;
  for (std::size_t index = 0; index < apps.size(); ++index) {
    const ShareableApplication& app = apps[index];
    if (!granted.contains(app.bundle_identifier)) continue;
    if (own.app && *own.app == app.bundle_identifier) continue;
    if (own.pid && *own.pid == app.pid) continue;
    included.push_back(index);
  }
  return included;
}

Outcome capture_screen(ServerState& state, std::uint64_t max_side, Duration wait) {
  const std::set<std::string> granted = copy_grants(state);
  // The configured size and the reported rectangle are fixed here, whatever
  // the capture later returns.
  const ScreenRect screen = screen_rect(state.desktop);
  const DisplayGeometry geometry = display_geometry(state.desktop);
  const std::uint32_t main_display = state.desktop.main_display_id();
  Result<Content> content = fetch_content(state.desktop, wait);
  if (!content) return Failure{content.take_error()};
  Result<PixelImage> image =
      capture_pixels(state, **content, granted, geometry, main_display, wait);
  if (!image) return Failure{image.take_error()};
  return capture_reply(downscale(std::move(*image), max_side), screen);
}

}  // namespace kestrum::computer
