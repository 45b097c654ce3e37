// Declarations of the accessibility calls the macOS desktop makes, written
// from Apple's public documentation for the syntax check (scripts/check-macos).
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <stdint.h>
#include <sys/types.h>

typedef const struct __AXUIElement* AXUIElementRef;

enum AXError : int32_t {
  kAXErrorSuccess = 0,
};
typedef enum AXError AXError;

#ifdef __cplusplus
extern "C" {
#endif

extern CFStringRef _Nonnull kAXTrustedCheckOptionPrompt;

Boolean AXIsProcessTrusted(void);
Boolean AXIsProcessTrustedWithOptions(CFDictionaryRef _Nullable options);

AXUIElementRef _Nonnull AXUIElementCreateSystemWide(void);
AXError AXUIElementCopyElementAtPosition(AXUIElementRef _Nonnull application, float x, float y,
                                         AXUIElementRef _Nullable* _Nonnull element);
AXError AXUIElementGetPid(AXUIElementRef _Nonnull element, pid_t* _Nonnull pid);

#ifdef __cplusplus
}
#endif
