// Native values to the desktop interface's types, at the edge and nowhere
// else. Objective-C++ only; call inside an autorelease pool.
#pragma once

#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>

#include <cstdint>
#include <optional>
#include <string>

#include "desktop/desktop.h"

namespace kestrum::computer::macos {

// The text as UTF-8; nullopt for nil or when the system gives no bytes.
std::optional<std::string> utf8_text(NSString* text);

// The error's localizedDescription; nullopt when no error object came.
std::optional<std::string> error_text(NSError* error);

// The application as the system reports it, untouched.
RunningApp running_app_record(NSRunningApplication* app);

// pid_t to the interface's width and back; nullopt when `pid` is outside
// what a process identifier can hold (no process has it).
inline std::int64_t pid_value(pid_t pid) { return pid; }
std::optional<pid_t> pid_from(std::int64_t pid);

}  // namespace kestrum::computer::macos
