// Declarations of the Foundation classes and members the macOS desktop uses,
// written from Apple's public documentation for the syntax check
// (scripts/check-macos). Ownership attributes matter here: ARC reads them.
#pragma once

typedef long NSInteger;
typedef unsigned long NSUInteger;
typedef signed char BOOL;  // x86-64; arm64 uses bool, and nothing here depends on which
#define YES ((BOOL)1)
#define nil nullptr  // Objective-C++ only

__attribute__((objc_root_class))
@interface NSObject
+ (instancetype _Nonnull)alloc;
+ (instancetype _Nonnull)new;
@end

@interface NSString : NSObject
@property(nullable, readonly) const char* UTF8String __attribute__((objc_returns_inner_pointer));
@end

@interface NSArray<__covariant ObjectType> : NSObject
@property(readonly) NSUInteger count;
- (ObjectType _Nonnull)objectAtIndex:(NSUInteger)index;
- (instancetype _Nonnull)initWithObjects:(const ObjectType _Nonnull[_Nullable])objects
                                   count:(NSUInteger)cnt;
@end

@interface NSURL : NSObject
@property(nullable, readonly, copy) NSString* lastPathComponent;
@end

@interface NSError : NSObject
@property(nonnull, readonly, copy) NSString* localizedDescription;
@end
