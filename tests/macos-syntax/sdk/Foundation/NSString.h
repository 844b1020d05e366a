// Declarations, written from Apple's public documentation, of the parts of NSString.h that the
// helper's Objective-C++ uses.
#ifndef TALVORIN_SDK_NSSTRING_H
#define TALVORIN_SDK_NSSTRING_H

#include <Foundation/NSObjCRuntime.h>

NS_ASSUME_NONNULL_BEGIN

@interface NSString : NSObject
+ (nullable instancetype)stringWithUTF8String:(const char*)nullTerminatedCString;
@property(nullable, readonly) const char* UTF8String NS_RETURNS_INNER_POINTER;
@end

NS_ASSUME_NONNULL_END

#endif
