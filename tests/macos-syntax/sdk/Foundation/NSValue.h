// Declarations, written from Apple's public documentation, of the parts of NSValue.h (where
// NSNumber lives) that the helper's Objective-C++ uses.
#ifndef TALVORIN_SDK_NSVALUE_H
#define TALVORIN_SDK_NSVALUE_H

#include <Foundation/NSObjCRuntime.h>

NS_ASSUME_NONNULL_BEGIN

@interface NSValue : NSObject
@end

@interface NSNumber : NSValue
+ (NSNumber*)numberWithUnsignedInt:(unsigned int)value;
@end

NS_ASSUME_NONNULL_END

#endif
