// The Foundation umbrella, reduced to the headers declared beside it.
#ifndef TALVORIN_SDK_FOUNDATION_H
#define TALVORIN_SDK_FOUNDATION_H

#include <CoreFoundation/CoreFoundation.h>

#if defined(__OBJC__)
#include <Foundation/NSArray.h>
#include <Foundation/NSObjCRuntime.h>
#include <Foundation/NSString.h>
#include <Foundation/NSUUID.h>
#include <Foundation/NSValue.h>
#endif

#endif
