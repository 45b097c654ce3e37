// Declarations of the CoreGraphics calls the macOS desktop makes, written
// from Apple's public documentation for the syntax check (scripts/check-macos).
// The enumerations are declared with their fixed underlying types, as the
// SDK does, so a plain integer passed where one is expected fails here too.
#pragma once

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include <CoreFoundation/CoreFoundation.h>

typedef double CGFloat;  // 64-bit platforms only
struct CGPoint {
  CGFloat x;
  CGFloat y;
};
typedef struct CGPoint CGPoint;
struct CGSize {
  CGFloat width;
  CGFloat height;
};
typedef struct CGSize CGSize;
struct CGRect {
  CGPoint origin;
  CGSize size;
};
typedef struct CGRect CGRect;

typedef uint32_t CGDirectDisplayID;
typedef struct CGDisplayMode* CGDisplayModeRef;
typedef struct CGImage* CGImageRef;
typedef struct CGDataProvider* CGDataProviderRef;

typedef struct __CGEvent* CGEventRef;
typedef struct __CGEventSource* CGEventSourceRef;
typedef struct __CGEventTapProxy* CGEventTapProxy;
typedef uint16_t CGKeyCode;
typedef uint64_t CGEventFlags;
// The modifier bits of CGEventFlags; the type stays a plain 64-bit integer
// so that masks combine with | as they do with the system's headers.
enum : CGEventFlags {
  kCGEventFlagMaskShift = 0x00020000,
  kCGEventFlagMaskControl = 0x00040000,
  kCGEventFlagMaskAlternate = 0x00080000,
  kCGEventFlagMaskCommand = 0x00100000,
};
typedef uint64_t CGEventMask;

enum CGEventType : uint32_t {
  kCGEventLeftMouseDown = 1,
  kCGEventLeftMouseUp = 2,
  kCGEventRightMouseDown = 3,
  kCGEventRightMouseUp = 4,
  kCGEventMouseMoved = 5,
  kCGEventLeftMouseDragged = 6,
  kCGEventRightMouseDragged = 7,
  kCGEventKeyDown = 10,
  kCGEventKeyUp = 11,
  kCGEventScrollWheel = 22,
  kCGEventOtherMouseDown = 25,
  kCGEventOtherMouseUp = 26,
  kCGEventOtherMouseDragged = 27,
  kCGEventTapDisabledByTimeout = 0xFFFFFFFE,
  kCGEventTapDisabledByUserInput = 0xFFFFFFFF,
};
typedef enum CGEventType CGEventType;

enum CGEventField : uint32_t {
  kCGMouseEventClickState = 1,
  kCGMouseEventDeltaX = 4,
  kCGMouseEventDeltaY = 5,
  kCGEventSourceUserData = 42,
};
typedef enum CGEventField CGEventField;

enum CGMouseButton : uint32_t {
  kCGMouseButtonLeft = 0,
  kCGMouseButtonRight = 1,
  kCGMouseButtonCenter = 2,
};
typedef enum CGMouseButton CGMouseButton;

enum CGScrollEventUnit : uint32_t {
  kCGScrollEventUnitLine = 1,
};
typedef enum CGScrollEventUnit CGScrollEventUnit;

enum CGEventTapLocation : uint32_t {
  kCGHIDEventTap = 0,
  kCGSessionEventTap = 1,
};
typedef enum CGEventTapLocation CGEventTapLocation;

enum CGEventTapPlacement : uint32_t {
  kCGHeadInsertEventTap = 0,
};
typedef enum CGEventTapPlacement CGEventTapPlacement;

enum CGEventTapOptions : uint32_t {
  kCGEventTapOptionListenOnly = 1,
};
typedef enum CGEventTapOptions CGEventTapOptions;

typedef CGEventRef _Nullable (*CGEventTapCallBack)(CGEventTapProxy _Nonnull proxy, CGEventType type,
                                                   CGEventRef _Nonnull event,
                                                   void* _Nullable userInfo);

#ifdef __cplusplus
extern "C" {
#endif

bool CGPreflightScreenCaptureAccess(void);
bool CGRequestScreenCaptureAccess(void);

CGDirectDisplayID CGMainDisplayID(void);
CGRect CGDisplayBounds(CGDirectDisplayID display);
CGDisplayModeRef _Nullable CGDisplayCopyDisplayMode(CGDirectDisplayID display);
size_t CGDisplayModeGetPixelWidth(CGDisplayModeRef _Nullable mode);

CGEventRef _Nullable CGEventCreateMouseEvent(CGEventSourceRef _Nullable source,
                                             CGEventType mouseType, CGPoint mouseCursorPosition,
                                             CGMouseButton mouseButton);
CGEventRef _Nullable CGEventCreateKeyboardEvent(CGEventSourceRef _Nullable source,
                                                CGKeyCode virtualKey, bool keyDown);
CGEventRef _Nullable CGEventCreateScrollWheelEvent2(CGEventSourceRef _Nullable source,
                                                    CGScrollEventUnit units, uint32_t wheelCount,
                                                    int32_t wheel1, int32_t wheel2, int32_t wheel3);
void CGEventSetFlags(CGEventRef _Nullable event, CGEventFlags flags);
void CGEventKeyboardSetUnicodeString(CGEventRef _Nullable event, UniCharCount stringLength,
                                     const UniChar* _Nullable unicodeString);
int64_t CGEventGetIntegerValueField(CGEventRef _Nullable event, CGEventField field);
void CGEventSetIntegerValueField(CGEventRef _Nullable event, CGEventField field, int64_t value);
void CGEventPost(CGEventTapLocation tap, CGEventRef _Nullable event);

CFMachPortRef _Nullable CGEventTapCreate(CGEventTapLocation tap, CGEventTapPlacement place,
                                         CGEventTapOptions options, CGEventMask eventsOfInterest,
                                         CGEventTapCallBack _Nonnull callback,
                                         void* _Nullable userInfo);
void CGEventTapEnable(CFMachPortRef _Nonnull tap, bool enable);

size_t CGImageGetWidth(CGImageRef _Nullable image);
size_t CGImageGetHeight(CGImageRef _Nullable image);
size_t CGImageGetBytesPerRow(CGImageRef _Nullable image);
size_t CGImageGetBitsPerPixel(CGImageRef _Nullable image);
CGDataProviderRef _Nullable CGImageGetDataProvider(CGImageRef _Nullable image);
CFDataRef _Nullable CGDataProviderCopyData(CGDataProviderRef _Nullable provider);

#ifdef __cplusplus
}
#endif
