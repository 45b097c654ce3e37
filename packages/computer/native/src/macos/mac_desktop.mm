// Permissions, the main display, applications, the element under a point
// and secure keyboard entry.
#include "macos/mac_desktop.h"

#import <AppKit/AppKit.h>
#import <ApplicationServices/ApplicationServices.h>
#import <Carbon/Carbon.h>
#import <CoreFoundation/CoreFoundation.h>
#import <CoreGraphics/CoreGraphics.h>
#import <Foundation/Foundation.h>

#include <string_view>

#include "macos/scoped_cf.h"
#include "macos/translate.h"

namespace kestrum::computer::macos {
namespace {

constexpr std::string_view kOpenProgram = "/usr/bin/open";

static_assert(NSApplicationActivationPolicyRegular == 0,
              "the interface calls activation policy 0 the regular one");

}  // namespace

bool MacDesktop::accessibility_trusted() { return AXIsProcessTrusted() != 0; }

bool MacDesktop::screen_capture_allowed() { return CGPreflightScreenCaptureAccess(); }

void MacDesktop::prompt_accessibility() {
  const void* keys[] = {kAXTrustedCheckOptionPrompt};
  const void* values[] = {kCFBooleanTrue};
  const ScopedCF<CFDictionaryRef> options(CFDictionaryCreate(kCFAllocatorDefault, keys, values, 1,
                                                             &kCFTypeDictionaryKeyCallBacks,
                                                             &kCFTypeDictionaryValueCallBacks));
  // Without the dictionary the call could only ask, not prompt.
  if (!options) return;
  (void)AXIsProcessTrustedWithOptions(options.get());
}

void MacDesktop::prompt_screen_capture() { (void)CGRequestScreenCaptureAccess(); }

std::uint32_t MacDesktop::main_display_id() { return CGMainDisplayID(); }

DisplayBounds MacDesktop::display_bounds(std::uint32_t display) {
  const CGRect bounds = CGDisplayBounds(display);
  return {bounds.origin.x, bounds.origin.y, bounds.size.width, bounds.size.height};
}

std::uint64_t MacDesktop::display_mode_pixel_width(std::uint32_t display) {
  const ScopedCF<CGDisplayModeRef> mode(CGDisplayCopyDisplayMode(display));
  if (!mode) return 0;
  return CGDisplayModeGetPixelWidth(mode.get());
}

std::optional<RunningApp> MacDesktop::frontmost_application() {
  @autoreleasepool {
    NSRunningApplication* app = NSWorkspace.sharedWorkspace.frontmostApplication;
    if (!app) return std::nullopt;
    return running_app_record(app);
  }
}

std::vector<RunningApp> MacDesktop::running_applications() {
  @autoreleasepool {
    NSArray<NSRunningApplication*>* apps = NSWorkspace.sharedWorkspace.runningApplications;
    std::vector<RunningApp> records;
    records.reserve(apps.count);
    for (NSUInteger index = 0; index < apps.count; ++index) {
      records.push_back(running_app_record([apps objectAtIndex:index]));
    }
    return records;
  }
}

std::optional<RunningApp> MacDesktop::running_application(std::int64_t pid) {
  const std::optional<pid_t> native = pid_from(pid);
  if (!native) return std::nullopt;
  @autoreleasepool {
    NSRunningApplication* app =
        [NSRunningApplication runningApplicationWithProcessIdentifier:*native];
    if (!app) return std::nullopt;
    return running_app_record(app);
  }
}

ElementAtPoint MacDesktop::process_at_point(float x, float y) {
  ScopedCF<AXUIElementRef> system_wide(AXUIElementCreateSystemWide());
  if (!system_wide) return NoAccessibilityService{};
  ScopedCF<AXUIElementRef> element;
  const AXError found =
      AXUIElementCopyElementAtPosition(system_wide.get(), x, y, element.receive());
  system_wide.reset();
  if (found != kAXErrorSuccess || !element) return NoElement{};
  pid_t pid = 0;
  const AXError read = AXUIElementGetPid(element.get(), &pid);
  element.reset();
  if (read != kAXErrorSuccess) return NoElement{};
  return ElementProcess{pid_value(pid)};
}

bool MacDesktop::secure_event_input_enabled() { return IsSecureEventInputEnabled() != 0; }

std::string MacDesktop::open_program() { return std::string(kOpenProgram); }

}  // namespace kestrum::computer::macos

namespace kestrum::computer {

std::unique_ptr<Desktop> make_platform_desktop() { return std::make_unique<macos::MacDesktop>(); }

}  // namespace kestrum::computer
