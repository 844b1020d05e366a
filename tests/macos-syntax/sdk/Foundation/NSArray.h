// Declarations, written from Apple's public documentation, of the parts of NSArray.h that the
// helper's Objective-C++ uses.
#ifndef TALVORIN_SDK_NSARRAY_H
#define TALVORIN_SDK_NSARRAY_H

#include <Foundation/NSObjCRuntime.h>

NS_ASSUME_NONNULL_BEGIN

@interface NSArray<__covariant ObjectType> : NSObject
@end

@interface NSMutableArray<ObjectType> : NSArray<ObjectType>
+ (instancetype)arrayWithCapacity:(NSUInteger)numItems;
- (void)addObject:(ObjectType)anObject;
@end

NS_ASSUME_NONNULL_END

#endif
