// Declarations, written from Apple's public documentation, of the parts of libdispatch that the
// helper's macOS sources use.
//
// As in the SDK, dispatch objects are Objective-C objects (retained and released by ARC) in
// Objective-C code, and reference-counted C++ structures with dispatch_retain/dispatch_release
// in C++ code.
#ifndef __DISPATCH_PUBLIC__
#define __DISPATCH_PUBLIC__

#include <stddef.h>
#include <stdint.h>

#if defined(__cplusplus)
#define DISPATCH_EXTERN_C_BEGIN extern "C" {
#define DISPATCH_EXTERN_C_END }
#else
#define DISPATCH_EXTERN_C_BEGIN
#define DISPATCH_EXTERN_C_END
#endif

#define DISPATCH_NORETURN __attribute__((__noreturn__))

#if defined(__OBJC__)

#include <objc/NSObject.h>

@protocol OS_dispatch_object <NSObject>
@end
@protocol OS_dispatch_queue <OS_dispatch_object>
@end
@protocol OS_dispatch_queue_attr <OS_dispatch_object>
@end
typedef NSObject<OS_dispatch_object>* dispatch_object_t;
typedef NSObject<OS_dispatch_queue>* dispatch_queue_t;
typedef NSObject<OS_dispatch_queue_attr>* dispatch_queue_attr_t;

#if __has_feature(objc_arc)
#define DISPATCH_UNAVAILABLE_UNDER_ARC __attribute__((unavailable("not available in ARC mode")))
#else
#define DISPATCH_UNAVAILABLE_UNDER_ARC
#endif

#elif defined(__cplusplus)

typedef struct dispatch_object_s {
 private:
  dispatch_object_s();
  ~dispatch_object_s();
  dispatch_object_s(const dispatch_object_s&);
  void operator=(const dispatch_object_s&);
} * dispatch_object_t;
typedef struct dispatch_queue_s : public dispatch_object_s{} * dispatch_queue_t;
typedef struct dispatch_queue_attr_s : public dispatch_object_s{} * dispatch_queue_attr_t;

#define DISPATCH_UNAVAILABLE_UNDER_ARC

#else
#error "the helper's macOS sources are C++ or Objective-C++"
#endif

DISPATCH_EXTERN_C_BEGIN

typedef void (^dispatch_block_t)(void);
typedef uint64_t dispatch_time_t;

#define DISPATCH_TIME_NOW (0ull)
#define NSEC_PER_SEC 1000000000ull
#define DISPATCH_QUEUE_SERIAL NULL

dispatch_time_t dispatch_time(dispatch_time_t when, int64_t delta);

dispatch_queue_t dispatch_queue_create(const char* _Nullable label,
                                       dispatch_queue_attr_t _Nullable attr);
void dispatch_async(dispatch_queue_t _Nonnull queue, dispatch_block_t _Nonnull block);
void dispatch_after(dispatch_time_t when, dispatch_queue_t _Nonnull queue,
                    dispatch_block_t _Nonnull block);
DISPATCH_NORETURN void dispatch_main(void);

DISPATCH_UNAVAILABLE_UNDER_ARC void dispatch_release(dispatch_object_t _Nonnull object);

DISPATCH_EXTERN_C_END

#endif
