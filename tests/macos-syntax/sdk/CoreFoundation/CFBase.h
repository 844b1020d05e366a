// Declarations, written from Apple's public documentation, of the parts of CoreFoundation's
// CFBase.h and CFAvailability.h that the helper's macOS sources use.
#ifndef __COREFOUNDATION_CFBASE__
#define __COREFOUNDATION_CFBASE__

#include <MacTypes.h>

#if defined(__cplusplus)
#define CF_EXTERN_C_BEGIN extern "C" {
#define CF_EXTERN_C_END }
#else
#define CF_EXTERN_C_BEGIN
#define CF_EXTERN_C_END
#endif

#define CF_EXPORT extern
#define CF_RETURNS_RETAINED __attribute__((cf_returns_retained))
#define CF_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define CF_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")

// CF_ENUM(T) opens an anonymous enumeration with the fixed underlying type T; the typed form
// CF_ENUM(T, Name) also names it. Both as the SDK spells them for C++11 and later.
#define __CF_ENUM_GET_MACRO(_1, _2, NAME, ...) NAME
#define __CF_NAMED_ENUM(_type, _name) \
  enum _name : _type _name;           \
  enum _name : _type
#define __CF_ANON_ENUM(_type) enum : _type
#define CF_ENUM(...) \
  __CF_ENUM_GET_MACRO(__VA_ARGS__, __CF_NAMED_ENUM, __CF_ANON_ENUM, )(__VA_ARGS__)
#define CF_OPTIONS(_type, _name) \
  _type _name;                   \
  enum : _type

#if defined(__OBJC__)
#define CF_BRIDGED_TYPE(T) __attribute__((objc_bridge(T)))
#else
#define CF_BRIDGED_TYPE(T)
#endif

CF_EXTERN_C_BEGIN
CF_ASSUME_NONNULL_BEGIN

typedef long CFIndex;
typedef const void* CFTypeRef;

typedef const struct CF_BRIDGED_TYPE(NSString) __CFString* CFStringRef;

typedef const struct __CFAllocator* CFAllocatorRef;
CF_EXPORT const CFAllocatorRef _Nullable kCFAllocatorDefault;

CF_EXPORT void CFRelease(CFTypeRef cf);

CF_ASSUME_NONNULL_END
CF_EXTERN_C_END

#endif
