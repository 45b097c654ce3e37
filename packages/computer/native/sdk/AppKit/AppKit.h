// Declarations of the AppKit classes and members the macOS desktop uses,
// written from Apple's public documentation for the syntax check
// (scripts/check-macos).
#pragma once

#include <sys/types.h>

#import <Foundation/Foundation.h>

enum NSApplicationActivationPolicy : NSInteger {
  NSApplicationActivationPolicyRegular = 0,
};
typedef enum NSApplicationActivationPolicy NSApplicationActivationPolicy;

@interface NSRunningApplication : NSObject
+ (nullable instancetype)runningApplicationWithProcessIdentifier:(pid_t)pid;
@property(readonly) pid_t processIdentifier;
@property(nullable, readonly, copy) NSString* bundleIdentifier;
@property(nullable, readonly, copy) NSString* localizedName;
@property(nullable, readonly, copy) NSURL* bundleURL;
@property(readonly) NSApplicationActivationPolicy activationPolicy;
@end

@interface NSWorkspace : NSObject
@property(class, nonnull, readonly, strong) NSWorkspace* sharedWorkspace;
@property(nullable, readonly, strong) NSRunningApplication* frontmostApplication;
@property(nonnull, readonly, copy) NSArray<NSRunningApplication*>* runningApplications;
@end
