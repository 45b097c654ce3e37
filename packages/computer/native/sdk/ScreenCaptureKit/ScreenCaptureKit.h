// Declarations of the ScreenCaptureKit classes and members the macOS desktop
// uses, written from Apple's public documentation for the syntax check
// (scripts/check-macos). The screenshot call needs macOS 14.
#pragma once

#include <stddef.h>
#include <sys/types.h>

#import <CoreGraphics/CoreGraphics.h>
#import <Foundation/Foundation.h>

@class SCWindow;

@interface SCDisplay : NSObject
@property(readonly) CGDirectDisplayID displayID;
@end

@interface SCRunningApplication : NSObject
@property(nonnull, readonly) NSString* bundleIdentifier;
@property(readonly) pid_t processID;
@end

@interface SCShareableContent : NSObject
+ (void)getShareableContentWithCompletionHandler:
    (void (^_Nonnull)(SCShareableContent* _Nullable shareableContent,
                      NSError* _Nullable error))completionHandler;
@property(nonnull, readonly) NSArray<SCDisplay*>* displays;
@property(nonnull, readonly) NSArray<SCRunningApplication*>* applications;
@end

@interface SCContentFilter : NSObject
- (instancetype _Nonnull)initWithDisplay:(SCDisplay* _Nonnull)display
                   includingApplications:(NSArray<SCRunningApplication*>* _Nonnull)applications
                        exceptingWindows:(NSArray<SCWindow*>* _Nonnull)exceptingWindows;
@end

@interface SCStreamConfiguration : NSObject
@property(nonatomic, assign) size_t width;
@property(nonatomic, assign) size_t height;
@property(nonatomic, assign) BOOL showsCursor;
@end

@interface SCScreenshotManager : NSObject
+ (void)captureImageWithFilter:(SCContentFilter* _Nonnull)contentFilter
                 configuration:(SCStreamConfiguration* _Nonnull)config
             completionHandler:(void (^_Nullable)(CGImageRef _Nullable sampleBuffer,
                                                  NSError* _Nullable error))completionHandler;
@end
