// CoreGraphics as tembra's macOS back-end sees it: a test fixture for type-checking that back-end
// on Linux, never part of the product. It mirrors only the subset tembra uses, written from Apple's
// public documentation (names, signatures, nullability); it is not Apple's header.
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef double CGFloat;
typedef struct CGColor* CGColorRef;

// Both follow the Get rule: the caller owns nothing they return.
size_t CGColorGetNumberOfComponents(CGColorRef _Nullable color);
const CGFloat* _Nullable CGColorGetComponents(CGColorRef _Nullable color);

#ifdef __cplusplus
}
#endif
