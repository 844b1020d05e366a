// Declarations, written from Apple's public documentation, of the parts of CFArray.h that the
// helper's macOS sources use.
#ifndef __COREFOUNDATION_CFARRAY__
#define __COREFOUNDATION_CFARRAY__

#include <CoreFoundation/CFBase.h>

CF_EXTERN_C_BEGIN
CF_ASSUME_NONNULL_BEGIN

typedef const void* _Nonnull (*CFArrayRetainCallBack)(CFAllocatorRef _Nullable allocator,
                                                      const void* value);
typedef void (*CFArrayReleaseCallBack)(CFAllocatorRef _Nullable allocator, const void* value);
typedef CFStringRef _Nonnull (*CFArrayCopyDescriptionCallBack)(const void* value);
typedef Boolean (*CFArrayEqualCallBack)(const void* value1, const void* value2);

typedef struct {
  CFIndex version;
  CFArrayRetainCallBack _Nullable retain;
  CFArrayReleaseCallBack _Nullable release;
  CFArrayCopyDescriptionCallBack _Nullable copyDescription;
  CFArrayEqualCallBack _Nullable equal;
} CFArrayCallBacks;

CF_EXPORT const CFArrayCallBacks kCFTypeArrayCallBacks;

typedef const struct CF_BRIDGED_TYPE(NSArray) __CFArray* CFArrayRef;

CF_EXPORT CFArrayRef _Nullable CFArrayCreate(CFAllocatorRef _Nullable allocator,
                                             const void* _Nullable* _Nullable values,
                                             CFIndex numValues,
                                             const CFArrayCallBacks* _Nullable callBacks);

CF_ASSUME_NONNULL_END
CF_EXTERN_C_END

#endif
