// Declarations, written from Apple's public documentation, of the parts of MacTypes.h that the
// helper's macOS sources use. LP64 sizes, as on every Mac the helper supports.
//
// On a Mac UInt64 and SInt64 are the very types of uint64_t and int64_t (long long). The check
// compiles against this host's C library, where those are long, so they are declared through
// <stdint.h>: what holds on the Mac, that they are the same types, then holds here too.
#ifndef __MACTYPES__
#define __MACTYPES__

#include <stdint.h>

typedef unsigned char UInt8;
typedef signed char SInt8;
typedef unsigned short UInt16;
typedef signed short SInt16;
typedef unsigned int UInt32;
typedef signed int SInt32;
typedef uint64_t UInt64;
typedef int64_t SInt64;
typedef float Float32;
typedef double Float64;

typedef SInt16 OSErr;
typedef SInt32 OSStatus;

typedef unsigned char Boolean;

enum { noErr = 0 };

#endif
