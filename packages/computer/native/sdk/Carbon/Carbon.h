// Declaration of the one Carbon call the macOS desktop makes, written from
// Apple's public documentation for the syntax check (scripts/check-macos).
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#ifdef __cplusplus
extern "C" {
#endif

Boolean IsSecureEventInputEnabled(void);

#ifdef __cplusplus
}
#endif
