// Declarations, written from Apple's public documentation, of the parts of NSUUID.h that the
// helper's Objective-C++ uses.
#ifndef TALVORIN_SDK_NSUUID_H
#define TALVORIN_SDK_NSUUID_H

#include <Foundation/NSObjCRuntime.h>

@class NSString;

NS_ASSUME_NONNULL_BEGIN

@interface NSUUID : NSObject
- (nullable instancetype)initWithUUIDString:(NSString*)string;
@end

NS_ASSUME_NONNULL_END

#endif
