// Screenshots of chosen windows: each window's own contents, read from the
// pixmap the Composite extension keeps for it, drawn back to front over
// black. A window of another application lying over a chosen one hides
// nothing and shows nothing. Pixels move through MIT-SHM where the server
// offers it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "x11/connection.h"
#include "x11/xlib.h"

namespace kestrum::computer::x11 {

inline constexpr std::string_view kNoComposite =
    "the X server has no Composite extension to capture windows with";

// An image of the display: 4 bytes per pixel (blue, green, red, unused),
// rows top to bottom without padding.
struct Canvas {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  std::vector<std::uint8_t> pixels;
};

// A shared memory segment attached to this process and the X server; both
// are detached and the segment removed when it ends.
class ShmSegment {
 public:
  static std::unique_ptr<ShmSegment> attach(Display* display, std::size_t size);
  ~ShmSegment();
  ShmSegment(const ShmSegment&) = delete;
  ShmSegment& operator=(const ShmSegment&) = delete;
  XShmSegmentInfo& info() { return info_; }
  std::size_t size() const { return size_; }

 private:
  ShmSegment(Display* display, std::size_t size) : display_(display), size_(size) {}
  Display* display_;
  std::size_t size_;
  XShmSegmentInfo info_{};
  bool attached_ = false;
};

class Capturer {
 public:
  // Redirects the root's children, so that every top-level window keeps its
  // contents in a pixmap of its own for as long as this connection lives.
  explicit Capturer(Display* display);

  // The windows (client windows, bottom to top) over black, cut to `area`
  // in root coordinates.
  Result<Canvas> capture(const std::vector<Window>& windows, const Rect& area);

 private:
  void draw(Window window, const Rect& area, Canvas& canvas);
  struct XImageDeleter {
    void operator()(XImage* image) const;
  };
  using ImagePtr = std::unique_ptr<XImage, XImageDeleter>;
  ImagePtr read(Drawable drawable, const XWindowAttributes& attributes, const Rect& part);

  Display* display_;
  bool composite_ = false;
  bool shm_ = false;
  std::unique_ptr<ShmSegment> segment_;  // reused while large enough
};

}  // namespace kestrum::computer::x11
