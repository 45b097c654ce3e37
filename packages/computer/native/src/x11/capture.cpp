#include "x11/capture.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstring>

#include "x11/windows.h"

namespace kestrum::computer::x11 {
namespace {

Rect intersect(const Rect& a, const Rect& b) {
  const int left = std::max(a.x, b.x);
  const int top = std::max(a.y, b.y);
  const int right = std::min(a.x + a.width, b.x + b.width);
  const int bottom = std::min(a.y + a.height, b.y + b.height);
  return {left, top, std::max(0, right - left), std::max(0, bottom - top)};
}

// Only the common layout is copied: 32 bits per pixel, least significant
// byte first, red in the third byte. It is what depth 24 and 32 visuals
// give on every little-endian server. An image of a pixmap carries no
// masks, so they are the window's visual's.
bool is_bgrx(const XImage& image, const Visual& visual) {
  return image.bits_per_pixel == 32 && image.byte_order == LSBFirst &&
         visual.red_mask == 0xFF0000 && visual.green_mask == 0xFF00 && visual.blue_mask == 0xFF;
}

void blit(const XImage& image, const Rect& part, const Rect& area, Canvas& canvas) {
  const std::size_t row_bytes = static_cast<std::size_t>(part.width) * 4;
  for (int row = 0; row < part.height; ++row) {
    const auto* from = reinterpret_cast<const std::uint8_t*>(image.data) +
                       static_cast<std::size_t>(row) * image.bytes_per_line;
    const std::size_t to = (static_cast<std::size_t>(part.y - area.y + row) * canvas.width +
                            static_cast<std::size_t>(part.x - area.x)) *
                           4;
    std::memcpy(canvas.pixels.data() + to, from, row_bytes);
  }
}

}  // namespace

std::unique_ptr<ShmSegment> ShmSegment::attach(Display* display, std::size_t size) {
  std::unique_ptr<ShmSegment> segment(new ShmSegment(display, size));
  XShmSegmentInfo& info = segment->info_;
  info.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
  if (info.shmid < 0) return nullptr;
  void* address = shmat(info.shmid, nullptr, 0);
  // Marked for removal at once: it goes when both sides have detached, even
  // if this process dies.
  shmctl(info.shmid, IPC_RMID, nullptr);
  if (address == reinterpret_cast<void*>(-1)) return nullptr;
  info.shmaddr = static_cast<char*>(address);
  info.readOnly = False;
  if (!XShmAttach(display, &info)) return nullptr;
  XSync(display, False);
  segment->attached_ = true;
  return segment;
}

ShmSegment::~ShmSegment() {
  if (attached_) {
    XShmDetach(display_, &info_);
    XSync(display_, False);
  }
  if (info_.shmaddr) shmdt(info_.shmaddr);
}

void Capturer::XImageDeleter::operator()(XImage* image) const {
  // A shared-memory image points into the segment, which is not its own.
  if (image->obdata) image->data = nullptr;
  XDestroyImage(image);
}

Capturer::Capturer(Display* display) : display_(display) {
  int event = 0, error = 0;
  composite_ = XCompositeQueryExtension(display, &event, &error) != 0;
  shm_ = XShmQueryExtension(display) != 0;
  if (composite_) {
    XCompositeRedirectSubwindows(display, DefaultRootWindow(display), CompositeRedirectAutomatic);
  }
}

Capturer::ImagePtr Capturer::read(Drawable drawable, const XWindowAttributes& attributes,
                                  const Rect& part) {
  const std::size_t bytes = static_cast<std::size_t>(part.width) * part.height * 4;
  if (shm_ && (!segment_ || segment_->size() < bytes)) {
    segment_.reset();
    segment_ = ShmSegment::attach(display_, std::max<std::size_t>(bytes, 1 << 22));
    shm_ = segment_ != nullptr;  // a server that cannot attach never will
  }
  const auto width = static_cast<unsigned int>(part.width);
  const auto height = static_cast<unsigned int>(part.height);
  if (shm_) {
    ImagePtr image(XShmCreateImage(display_, attributes.visual,
                                   static_cast<unsigned int>(attributes.depth), ZPixmap,
                                   segment_->info().shmaddr, &segment_->info(), width, height));
    if (image && XShmGetImage(display_, drawable, image.get(), part.x, part.y, AllPlanes)) {
      return image;
    }
    return nullptr;
  }
  return ImagePtr(XGetImage(display_, drawable, part.x, part.y, width, height, AllPlanes, ZPixmap));
}

// The window's part within `area`, read from the pixmap of its top-level
// ancestor (the window manager's frame, or the window itself).
void Capturer::draw(Window window, const Rect& area, Canvas& canvas) {
  const auto top = top_level_of(display_, window);
  const auto inner = placement(display_, window);
  const auto outer = top ? placement(display_, *top) : std::nullopt;
  if (!inner || !outer || !inner->viewable) return;
  const Rect part = intersect(inner->rect, area);
  if (part.width == 0 || part.height == 0) return;
  XWindowAttributes attributes{};
  if (!XGetWindowAttributes(display_, *top, &attributes)) return;
  const Pixmap pixmap = XCompositeNameWindowPixmap(display_, *top);
  // The pixmap holds the window's border too.
  const Rect in_pixmap{part.x - outer->rect.x + attributes.border_width,
                       part.y - outer->rect.y + attributes.border_width, part.width, part.height};
  const ImagePtr image = read(pixmap, attributes, in_pixmap);
  XFreePixmap(display_, pixmap);
  if (image && is_bgrx(*image, *attributes.visual)) blit(*image, part, area, canvas);
}

Result<Canvas> Capturer::capture(const std::vector<Window>& windows, const Rect& area) {
  if (!composite_) return fail(std::string(kNoComposite));
  Canvas canvas;
  canvas.width = static_cast<std::uint64_t>(std::max(0, area.width));
  canvas.height = static_cast<std::uint64_t>(std::max(0, area.height));
  canvas.pixels.assign(canvas.width * canvas.height * 4, 0);
  for (Window window : windows) draw(window, area, canvas);
  return canvas;
}

}  // namespace kestrum::computer::x11
