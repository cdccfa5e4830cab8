// CoreGraphics as tembra's macOS back-end sees it: a test fixture for type-checking that back-end
// on Linux, never part of the product. It mirrors only the subset tembra uses, written from Apple's
// public documentation (names, signatures, nullability); it is not Apple's header.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// From CoreFoundation, which CoreGraphics includes.
typedef const struct __CFString* CFStringRef;
typedef const struct __CFDictionary* CFDictionaryRef;

typedef double CGFloat;
typedef struct CGColor* CGColorRef;
typedef struct CGColorSpace* CGColorSpaceRef;

enum CGColorRenderingIntent : int32_t {
  kCGRenderingIntentDefault = 0,
  kCGRenderingIntentAbsoluteColorimetric = 1,
  kCGRenderingIntentRelativeColorimetric = 2,
  kCGRenderingIntentPerceptual = 3,
  kCGRenderingIntentSaturation = 4,
};

extern const CFStringRef kCGColorSpaceSRGB;

// Both follow the Get rule: the caller owns nothing they return.
size_t CGColorGetNumberOfComponents(CGColorRef _Nullable color);
const CGFloat* _Nullable CGColorGetComponents(CGColorRef _Nullable color);

// Both follow the Create rule: the caller releases what they return.
CGColorSpaceRef _Nullable CGColorSpaceCreateWithName(CFStringRef _Nullable name);
CGColorRef _Nullable CGColorCreateCopyByMatchingToColorSpace(CGColorSpaceRef _Nullable space,
                                                             enum CGColorRenderingIntent intent,
                                                             CGColorRef _Nullable color,
                                                             CFDictionaryRef _Nullable options);

// Each does nothing with NULL.
void CGColorRelease(CGColorRef _Nullable color);
void CGColorSpaceRelease(CGColorSpaceRef _Nullable space);

#ifdef __cplusplus
}
#endif
