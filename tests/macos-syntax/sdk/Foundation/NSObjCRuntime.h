// Declarations, written from Apple's public documentation, of the parts of NSObjCRuntime.h that
// the helper's Objective-C++ uses.
#ifndef TALVORIN_SDK_NSOBJCRUNTIME_H
#define TALVORIN_SDK_NSOBJCRUNTIME_H

#include <CoreFoundation/CFBase.h>
#include <objc/NSObject.h>
#include <objc/objc.h>

typedef long NSInteger;
typedef unsigned long NSUInteger;

#define NS_ENUM(_type, _name) CF_ENUM(_type, _name)
#define NS_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define NS_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")
#define NS_RETURNS_INNER_POINTER __attribute__((objc_returns_inner_pointer))

#endif
