// Declarations of the CoreFoundation calls the macOS desktop makes, written
// from Apple's public documentation for the syntax check (scripts/check-macos).
// Real builds use the SDK; keep every signature as documented, and add only
// what the shell calls.
#pragma once

#include <stdint.h>

typedef unsigned char Boolean;
typedef unsigned char UInt8;
typedef unsigned short UInt16;
typedef UInt16 UniChar;
typedef unsigned long UniCharCount;
typedef signed long CFIndex;

typedef const void* CFTypeRef;
typedef const struct __CFAllocator* CFAllocatorRef;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFBoolean* CFBooleanRef;
typedef const struct __CFData* CFDataRef;
typedef const struct __CFDictionary* CFDictionaryRef;
typedef struct __CFMachPort* CFMachPortRef;
typedef struct __CFRunLoop* CFRunLoopRef;
typedef struct __CFRunLoopSource* CFRunLoopSourceRef;
typedef CFStringRef CFRunLoopMode;

// Only passed by address; the shell never looks inside.
typedef struct CFDictionaryKeyCallBacks CFDictionaryKeyCallBacks;
typedef struct CFDictionaryValueCallBacks CFDictionaryValueCallBacks;

#ifdef __cplusplus
extern "C" {
#endif

extern const CFAllocatorRef kCFAllocatorDefault;
extern const CFBooleanRef kCFBooleanTrue;
extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;
extern const CFRunLoopMode kCFRunLoopCommonModes;

CFTypeRef CFRetain(CFTypeRef cf);
void CFRelease(CFTypeRef cf);

CFDictionaryRef _Nullable CFDictionaryCreate(
    CFAllocatorRef _Nullable allocator, const void* _Nullable* _Nullable keys,
    const void* _Nullable* _Nullable values, CFIndex numValues,
    const CFDictionaryKeyCallBacks* _Nullable keyCallBacks,
    const CFDictionaryValueCallBacks* _Nullable valueCallBacks);

CFIndex CFDataGetLength(CFDataRef _Nonnull theData);
const UInt8* _Nullable CFDataGetBytePtr(CFDataRef _Nonnull theData);

CFRunLoopRef _Nullable CFRunLoopGetCurrent(void);
void CFRunLoopAddSource(CFRunLoopRef _Nonnull rl, CFRunLoopSourceRef _Nonnull source,
                        CFRunLoopMode _Nonnull mode);
void CFRunLoopRun(void);
CFRunLoopSourceRef _Nullable CFMachPortCreateRunLoopSource(CFAllocatorRef _Nullable allocator,
                                                           CFMachPortRef _Nonnull port,
                                                           CFIndex order);

#ifdef __cplusplus
}
#endif
