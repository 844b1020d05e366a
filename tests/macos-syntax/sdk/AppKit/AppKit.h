// The AppKit umbrella, reduced to the headers declared beside it.
#ifndef TALVORIN_SDK_APPKIT_H
#define TALVORIN_SDK_APPKIT_H

#include <Foundation/Foundation.h>

#if defined(__OBJC__)
#include <AppKit/NSRunningApplication.h>
#endif

#endif
