// Declarations, written from Apple's public documentation, of the parts of objc/objc.h that the
// helper's Objective-C++ uses. BOOL is the arm64 definition.
#ifndef _OBJC_OBJC_H_
#define _OBJC_OBJC_H_

typedef bool BOOL;
#define YES true
#define NO false

#ifndef nil
#define nil nullptr
#endif

#endif
