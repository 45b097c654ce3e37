// The two ScreenCaptureKit calls and the image they deliver. Completion
// handlers run on the system's threads, possibly more than once or never;
// each call hands the translated values straight to the interface's
// handler, which the block holds by copy.
#include "macos/mac_desktop.h"

#import <CoreFoundation/CoreFoundation.h>
#import <CoreGraphics/CoreGraphics.h>
#import <Foundation/Foundation.h>
#import <ScreenCaptureKit/ScreenCaptureKit.h>

#include <limits>
#include <string_view>
#include <utility>

#include "macos/scoped_cf.h"
#include "macos/translate.h"

namespace kestrum::computer::macos {
namespace {

// Pixel sizes and byte counts cross as size_t; on the 64-bit targets both
// ways are lossless.
static_assert(std::numeric_limits<std::size_t>::max() == std::numeric_limits<std::uint64_t>::max());

// The interface promises these never happen; the texts name the broken
// promise instead of leaving the capture unanswered.
constexpr std::string_view kForeignContent = "the capture content did not come from this desktop";
constexpr std::string_view kNotListed =
    "the capture names a display or application the content does not list";

class ScContent final : public ShareableContent {
 public:
  explicit ScContent(SCShareableContent* content) : content_(content) {}
  SCShareableContent* content() const { return content_; }

  std::vector<std::uint32_t> display_ids() const override {
    @autoreleasepool {
      NSArray<SCDisplay*>* displays = content_.displays;
      std::vector<std::uint32_t> ids;
      ids.reserve(displays.count);
      for (NSUInteger index = 0; index < displays.count; ++index) {
        ids.push_back([displays objectAtIndex:index].displayID);
      }
      return ids;
    }
  }

  std::vector<ShareableApplication> applications() const override {
    @autoreleasepool {
      NSArray<SCRunningApplication*>* apps = content_.applications;
      std::vector<ShareableApplication> listed;
      listed.reserve(apps.count);
      for (NSUInteger index = 0; index < apps.count; ++index) {
        SCRunningApplication* app = [apps objectAtIndex:index];
        listed.push_back(
            {utf8_text(app.bundleIdentifier).value_or(std::string()), pid_value(app.processID)});
      }
      return listed;
    }
  }

 private:
  SCShareableContent* content_;  // strong: the content lives as long as this
};

// The captured image, borrowed for the completion handler's duration; its
// owner is the handler's caller.
class CgImage final : public CapturedImage {
 public:
  explicit CgImage(CGImageRef image) : image_(image) {}
  std::uint64_t width() const override { return CGImageGetWidth(image_); }
  std::uint64_t height() const override { return CGImageGetHeight(image_); }
  std::uint64_t bytes_per_row() const override { return CGImageGetBytesPerRow(image_); }
  std::uint64_t bits_per_pixel() const override { return CGImageGetBitsPerPixel(image_); }

  std::optional<std::vector<std::uint8_t>> copy_data() const override {
    const auto provider = ScopedCF<CGDataProviderRef>::retain(CGImageGetDataProvider(image_));
    if (!provider) return std::nullopt;
    const ScopedCF<CFDataRef> data(CGDataProviderCopyData(provider.get()));
    if (!data) return std::nullopt;
    const UInt8* bytes = CFDataGetBytePtr(data.get());
    const CFIndex length = CFDataGetLength(data.get());
    if (!bytes || length <= 0) return std::vector<std::uint8_t>();
    return std::vector<std::uint8_t>(bytes, bytes + length);
  }

 private:
  CGImageRef image_;
};

// noexcept: nothing may unwind into the system's completion queue.
void deliver_content(const ContentHandler& handler, SCShareableContent* content,
                     NSError* error) noexcept {
  @autoreleasepool {
    std::shared_ptr<const ShareableContent> held;
    if (content) held = std::make_shared<const ScContent>(content);
    handler(std::move(held), error_text(error));
  }
}

void deliver_image(const ImageHandler& handler, CGImageRef image, NSError* error) noexcept {
  @autoreleasepool {
    if (!image) {
      handler(nullptr, error_text(error));
      return;
    }
    const CgImage view(image);
    handler(&view, error_text(error));
  }
}

// The listed applications of `content`, in the order given; nil when an
// index is outside the list.
NSArray<SCRunningApplication*>* included_applications(SCShareableContent* content,
                                                      const std::vector<std::size_t>& indexes) {
  NSArray<SCRunningApplication*>* listed = content.applications;
  std::vector<SCRunningApplication*> included;
  included.reserve(indexes.size());
  for (const std::size_t index : indexes) {
    if (index >= listed.count) return nil;
    included.push_back([listed objectAtIndex:index]);
  }
  return [[NSArray alloc] initWithObjects:included.data() count:included.size()];
}

// The filter of one display with the listed applications and no excepted
// windows; nil when the screenshot names something the content does not list.
SCContentFilter* make_filter(SCShareableContent* content, const ScreenshotParams& shot) {
  NSArray<SCDisplay*>* displays = content.displays;
  if (shot.display_index >= displays.count) return nil;
  NSArray<SCRunningApplication*>* applications =
      included_applications(content, shot.application_indexes);
  if (!applications) return nil;
  return [[SCContentFilter alloc] initWithDisplay:[displays objectAtIndex:shot.display_index]
                            includingApplications:applications
                                 exceptingWindows:[NSArray<SCWindow*> new]];
}

SCStreamConfiguration* make_configuration(const ScreenshotParams& shot) {
  SCStreamConfiguration* configuration = [SCStreamConfiguration new];
  configuration.width = shot.width;
  configuration.height = shot.height;
  configuration.showsCursor = YES;
  return configuration;
}

}  // namespace

void MacDesktop::get_shareable_content(ContentHandler handler) {
  @autoreleasepool {
    [SCShareableContent
        getShareableContentWithCompletionHandler:^(SCShareableContent* content, NSError* error) {
          deliver_content(handler, content, error);
        }];
  }
}

void MacDesktop::capture_image(const ShareableContent& content, const ScreenshotParams& shot,
                               ImageHandler handler) {
  @autoreleasepool {
    const auto* delivered = dynamic_cast<const ScContent*>(&content);
    if (!delivered) {
      handler(nullptr, std::string(kForeignContent));
      return;
    }
    SCContentFilter* filter = make_filter(delivered->content(), shot);
    if (!filter) {
      handler(nullptr, std::string(kNotListed));
      return;
    }
    [SCScreenshotManager captureImageWithFilter:filter
                                  configuration:make_configuration(shot)
                              completionHandler:^(CGImageRef image, NSError* error) {
                                deliver_image(handler, image, error);
                              }];
  }
}

}  // namespace kestrum::computer::macos
