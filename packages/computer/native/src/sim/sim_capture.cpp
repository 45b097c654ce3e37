// The simulated capture services. Completion handlers run on threads of
// their own, as the system's do.
#include <algorithm>
#include <set>
#include <thread>

#include "desktop/listed_content.h"
#include "desktop/lookups.h"
#include "image/pixel_image.h"
#include "sim/sim_desktop.h"

namespace kestrum::computer::sim {
namespace {

constexpr std::string_view kAnswers = "ok";
constexpr std::string_view kSilent = "silent";
constexpr std::string_view kNothing = "nothing";

class SimImage final : public CapturedImage {
 public:
  SimImage(std::uint64_t width, std::uint64_t height, std::uint64_t bits, std::uint64_t row,
           std::vector<std::uint8_t> data)
      : width_(width), height_(height), bits_(bits), row_(row), data_(std::move(data)) {}
  std::uint64_t width() const override { return width_; }
  std::uint64_t height() const override { return height_; }
  std::uint64_t bytes_per_row() const override { return row_; }
  std::uint64_t bits_per_pixel() const override { return bits_; }
  std::optional<std::vector<std::uint8_t>> copy_data() const override { return data_; }

 private:
  std::uint64_t width_, height_, bits_, row_;
  std::vector<std::uint8_t> data_;
};

// Calls `answer` on a new thread, or never for a "silent" mode. Any mode but
// "ok" answers without a value.
template <class Value>
void answer_later(const std::string& mode,
                  std::function<void(Value, std::optional<std::string>)> handler,
                  std::function<Value()> make) {
  if (mode == kSilent) return;
  std::optional<std::string> error;
  if (mode != kAnswers && mode != kNothing) error = mode;
  const bool with_value = mode == kAnswers;
  std::thread([handler = std::move(handler), make = std::move(make), error, with_value] {
    handler(with_value ? make() : Value{}, error);
  }).detach();
}

std::uint64_t pixel_edge(double points, double scale, std::uint64_t limit) {
  return std::min(saturating_round(points * scale), limit);
}

// The included applications' windows drawn back to front over black, with
// alpha 0 everywhere.
std::vector<std::uint8_t> draw(const Scene& scene, const std::set<std::int64_t>& pids,
                               const ScreenshotParams& shot, double scale) {
  const std::uint64_t row = shot.width * 4 + scene.capture.row_padding;
  // Only images an answer can carry are asked for, so only a scene's absurd
  // row padding can pass this.
  std::uint64_t size = 0;
  if (__builtin_mul_overflow(row, shot.height, &size) || size > kMaxImageBytes)
    scene_fault("the capture's rows are too large to draw");
  std::vector<std::uint8_t> pixels(size, 0);
  for (auto window = scene.windows.rbegin(); window != scene.windows.rend(); ++window) {
    if (!pids.contains(window->pid)) continue;
    const std::uint64_t left = pixel_edge(window->x - scene.display.x, scale, shot.width);
    const std::uint64_t right =
        pixel_edge(window->x + window->width - scene.display.x, scale, shot.width);
    const std::uint64_t top = pixel_edge(window->y - scene.display.y, scale, shot.height);
    const std::uint64_t bottom =
        pixel_edge(window->y + window->height - scene.display.y, scale, shot.height);
    for (std::uint64_t y = top; y < bottom; ++y) {
      for (std::uint64_t x = left; x < right; ++x) {
        std::copy(window->color.begin(), window->color.end(),
                  pixels.begin() + static_cast<std::ptrdiff_t>(y * row + x * 4));
      }
    }
  }
  const auto cut = std::min<std::uint64_t>(pixels.size(), scene.capture.short_by);
  pixels.erase(pixels.end() - static_cast<std::ptrdiff_t>(cut), pixels.end());
  return pixels;
}

}  // namespace

void SimDesktop::get_shareable_content(ContentHandler handler) {
  const Scene s = scene();
  std::function<std::shared_ptr<const ShareableContent>()> make = [s] {
    std::vector<ShareableApplication> apps;
    for (const SceneApp& app : s.apps) apps.push_back({app.id.value_or(""), app.pid});
    const auto displays = s.capture.displays.value_or(std::vector<std::uint32_t>{s.display.id});
    return std::make_shared<const ListedContent>(displays, std::move(apps));
  };
  answer_later(s.capture.content, std::move(handler), std::move(make));
}

void SimDesktop::capture_image(const ShareableContent& content, const ScreenshotParams& shot,
                               ImageHandler handler) {
  const Scene s = scene();
  const auto apps = content.applications();
  std::set<std::int64_t> pids;
  for (std::size_t index : shot.application_indexes) {
    if (index < apps.size()) pids.insert(apps[index].pid);
  }
  const double scale = display_geometry(*this).scale;
  auto image = std::make_shared<SimImage>(shot.width, shot.height, s.capture.bits_per_pixel,
                                          shot.width * 4 + s.capture.row_padding,
                                          draw(s, pids, shot, scale));
  std::function<void(std::shared_ptr<SimImage>, std::optional<std::string>)> deliver =
      [handler = std::move(handler)](std::shared_ptr<SimImage> held,
                                     std::optional<std::string> error) {
        handler(held.get(), std::move(error));
      };
  answer_later(s.capture.image, std::move(deliver),
               std::function<std::shared_ptr<SimImage>()>([image] { return image; }));
}

void NoDesktop::get_shareable_content(ContentHandler handler) {
  handler(nullptr, "there is no desktop");
}

void NoDesktop::capture_image(const ShareableContent&, const ScreenshotParams&,
                              ImageHandler handler) {
  handler(nullptr, "there is no desktop");
}

}  // namespace kestrum::computer::sim
