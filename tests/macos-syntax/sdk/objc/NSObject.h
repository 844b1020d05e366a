// Declarations, written from Apple's public documentation, of the root class and protocol that
// the helper's Objective-C++ uses.
#ifndef _OBJC_NSOBJECT_H_
#define _OBJC_NSOBJECT_H_

#if defined(__OBJC__)

#include <objc/objc.h>

@protocol NSObject
@end

__attribute__((objc_root_class))
@interface NSObject<NSObject>
+ (instancetype)alloc;
+ (instancetype)new;
- (instancetype)init;
@end

#endif

#endif
