// Foundation as tembra's macOS sources see it (the system store and title matching): a test fixture
// for type-checking them on Linux, never part of the product. It mirrors only the subset tembra
// uses, written from Apple's public documentation (names, signatures, nullability, availability);
// it is not Apple's header.
#pragma once

#include <stddef.h>

#define NS_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define NS_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")

// Availability as the documentation states it; only the macOS platform is named.
#define TEMBRA_FIXTURE_MACOS(introduced_version) \
  __attribute__((availability(macos, introduced = introduced_version)))
#define TEMBRA_FIXTURE_MACOS_DEPRECATED(introduced_version, deprecated_version, successor) \
  __attribute__((availability(macos, introduced = introduced_version,                      \
                              deprecated = deprecated_version, replacement = successor)))

typedef long NSInteger;
typedef unsigned long NSUInteger;
typedef double NSTimeInterval;
#if defined(__arm64__) || defined(__aarch64__)
typedef bool BOOL;
#else
typedef signed char BOOL;
#endif
#ifdef __cplusplus
#define nil nullptr
#else
#define nil ((id)0)
#endif
#define YES ((BOOL)1)
#define NO ((BOOL)0)

NS_ASSUME_NONNULL_BEGIN

__attribute__((objc_root_class))
@interface NSObject
+ (instancetype)alloc;
+ (instancetype)new;
- (instancetype)init;
- (id)copy;
@end

typedef struct {
  unsigned long state;
  id __unsafe_unretained _Nullable* _Nullable itemsPtr;
  unsigned long* _Nullable mutationsPtr;
  unsigned long extra[5];
} NSFastEnumerationState;

@protocol NSFastEnumeration
- (NSUInteger)countByEnumeratingWithState:(NSFastEnumerationState*)state
                                  objects:(id __unsafe_unretained _Nullable[_Nonnull])buffer
                                    count:(NSUInteger)len;
@end

@interface NSData : NSObject
@property(readonly) const void* bytes;
@property(readonly) NSUInteger length;
@end

typedef NSUInteger NSStringEncoding;
enum : NSStringEncoding { NSUTF8StringEncoding = 4 };

@class NSCharacterSet;

@interface NSString : NSObject
- (nullable instancetype)initWithBytes:(const void*)bytes
                                length:(NSUInteger)len
                              encoding:(NSStringEncoding)encoding;
- (nullable NSData*)dataUsingEncoding:(NSStringEncoding)encoding;
- (nullable NSData*)dataUsingEncoding:(NSStringEncoding)encoding allowLossyConversion:(BOOL)lossy;
- (NSString*)stringByTrimmingCharactersInSet:(NSCharacterSet*)set;
- (BOOL)isEqualToString:(NSString*)aString;
@property(readonly, copy) NSString* lowercaseString;
@property(readonly, copy) NSString* precomposedStringWithCanonicalMapping;
@end

@interface NSCharacterSet : NSObject
@property(class, readonly, copy) NSCharacterSet* whitespaceCharacterSet;
@property(class, readonly, copy) NSCharacterSet* whitespaceAndNewlineCharacterSet;
@end

@interface NSMutableCharacterSet : NSCharacterSet
+ (NSMutableCharacterSet*)whitespaceAndNewlineCharacterSet;
- (void)formUnionWithCharacterSet:(NSCharacterSet*)otherSet;
@end

@interface NSArray<__covariant ObjectType> : NSObject <NSFastEnumeration>
@property(readonly) NSUInteger count;
- (ObjectType)objectAtIndex:(NSUInteger)index;
@end

@interface NSMutableArray<ObjectType> : NSArray <ObjectType>
+ (instancetype)arrayWithCapacity:(NSUInteger)numItems;
- (void)addObject:(ObjectType)anObject;
@end

@interface NSValue : NSObject
@end

@interface NSNumber : NSValue
+ (NSNumber*)numberWithInteger:(NSInteger)value;
@property(readonly) NSInteger integerValue;
@end

@interface NSDate : NSObject
+ (instancetype)dateWithTimeIntervalSince1970:(NSTimeInterval)secs;
@property(readonly) NSTimeInterval timeIntervalSince1970;
@end

@interface NSError : NSObject
@property(readonly, copy) NSString* localizedDescription;
@end

typedef NSString* NSExceptionName;

@interface NSException : NSObject
@property(readonly, copy) NSExceptionName name;
@property(nullable, readonly, copy) NSString* reason;
@end

@interface NSPredicate : NSObject
@end

typedef struct {
  NSInteger majorVersion;
  NSInteger minorVersion;
  NSInteger patchVersion;
} NSOperatingSystemVersion;

@interface NSProcessInfo : NSObject
@property(class, readonly, strong) NSProcessInfo* processInfo;
- (BOOL)isOperatingSystemAtLeastVersion:(NSOperatingSystemVersion)version
    TEMBRA_FIXTURE_MACOS(10.10);
@end

NS_ASSUME_NONNULL_END
