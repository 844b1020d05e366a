// Declarations, written from Apple's public documentation, of the parts of
// NSRunningApplication.h that the helper's Objective-C++ uses.
#ifndef TALVORIN_SDK_NSRUNNINGAPPLICATION_H
#define TALVORIN_SDK_NSRUNNINGAPPLICATION_H

#include <sys/types.h>

#include <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

@interface NSRunningApplication : NSObject
+ (nullable instancetype)runningApplicationWithProcessIdentifier:(pid_t)pid;
@property(nullable, readonly, copy) NSString* bundleIdentifier;
@end

NS_ASSUME_NONNULL_END

#endif
