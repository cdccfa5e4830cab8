// Dispatch as tembra's macOS back-end sees it: a test fixture for type-checking that back-end on
// Linux, never part of the product. It mirrors only the subset tembra uses, written from Apple's
// public documentation and libdispatch's published headers (names, signatures, nullability); it is
// not Apple's header. In Objective-C a dispatch object is an object that ARC retains and releases.
#pragma once

#import <Foundation/Foundation.h>

#include <stdint.h>

NS_ASSUME_NONNULL_BEGIN

typedef uint64_t dispatch_time_t;
#define DISPATCH_TIME_NOW (0ull)
#define NSEC_PER_MSEC 1000000ull

@protocol OS_dispatch_object
@end
@protocol OS_dispatch_semaphore <OS_dispatch_object>
@end
typedef NSObject<OS_dispatch_semaphore>* dispatch_semaphore_t;

#ifdef __cplusplus
extern "C" {
#endif

dispatch_time_t dispatch_time(dispatch_time_t when, int64_t delta);

// Returns a new semaphore, owned by the caller.
__attribute__((ns_returns_retained)) dispatch_semaphore_t dispatch_semaphore_create(intptr_t value);
// Zero when signalled, non-zero when the timeout passed first.
intptr_t dispatch_semaphore_wait(dispatch_semaphore_t dsema, dispatch_time_t timeout);
intptr_t dispatch_semaphore_signal(dispatch_semaphore_t dsema);

#ifdef __cplusplus
}
#endif

NS_ASSUME_NONNULL_END
