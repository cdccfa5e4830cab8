// EventKit as tembra's macOS back-end sees it: a test fixture for type-checking that back-end on
// Linux, never part of the product. It mirrors only the subset tembra uses, written from Apple's
// public documentation (names, signatures, nullability, availability); it is not Apple's header.
// Swift's `T!` in the documentation is null_unspecified here, `T?` nullable, `T` non-null.
#pragma once

#import <CoreGraphics/CoreGraphics.h>
#import <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

enum EKEntityType : NSUInteger {
  EKEntityTypeEvent = 0,
  EKEntityTypeReminder = 1,
};

enum EKEntityMask : NSUInteger {
  EKEntityMaskEvent = 1 << EKEntityTypeEvent,
  EKEntityMaskReminder = 1 << EKEntityTypeReminder,
};

enum EKSpan : NSInteger {
  EKSpanThisEvent = 0,
  EKSpanFutureEvents = 1,
};

enum EKAuthorizationStatus : NSInteger {
  EKAuthorizationStatusNotDetermined = 0,
  EKAuthorizationStatusRestricted = 1,
  EKAuthorizationStatusDenied = 2,
  EKAuthorizationStatusFullAccess TEMBRA_FIXTURE_MACOS(14.0) = 3,
  EKAuthorizationStatusWriteOnly TEMBRA_FIXTURE_MACOS(14.0) = 4,
  EKAuthorizationStatusAuthorized TEMBRA_FIXTURE_MACOS_DEPRECATED(
      10.9, 14.0, "EKAuthorizationStatusFullAccess") = 3,
};

enum EKRecurrenceFrequency : NSInteger {
  EKRecurrenceFrequencyDaily = 0,
  EKRecurrenceFrequencyWeekly = 1,
  EKRecurrenceFrequencyMonthly = 2,
  EKRecurrenceFrequencyYearly = 3,
};

enum EKWeekday : NSInteger {
  EKWeekdaySunday = 1,
  EKWeekdayMonday = 2,
  EKWeekdayTuesday = 3,
  EKWeekdayWednesday = 4,
  EKWeekdayThursday = 5,
  EKWeekdayFriday = 6,
  EKWeekdaySaturday = 7,
};

typedef void (^EKEventStoreRequestAccessCompletionHandler)(BOOL granted, NSError* _Nullable error);

@class EKEvent;
@class EKEventStore;

typedef void (^EKEventSearchCallback)(EKEvent* event, BOOL* stop);

@interface EKObject : NSObject
@end

@interface EKSource : EKObject
@property(nonatomic, readonly) NSString* title;
@end

@interface EKCalendar : EKObject
@property(nonatomic, readonly) NSString* calendarIdentifier;
@property(nonatomic, copy) NSString* title;
@property(nonatomic, strong, null_unspecified) EKSource* source;
@property(nonatomic, null_unspecified) CGColorRef CGColor TEMBRA_FIXTURE_MACOS(10.15);
@property(nonatomic, readonly) BOOL allowsContentModifications;
@property(nonatomic, readonly) EKEntityMask allowedEntityTypes TEMBRA_FIXTURE_MACOS(10.8);
@end

@interface EKAlarm : EKObject
+ (EKAlarm*)alarmWithAbsoluteDate:(NSDate*)date;
+ (EKAlarm*)alarmWithRelativeOffset:(NSTimeInterval)offset;
@property(nonatomic) NSTimeInterval relativeOffset;
@property(nonatomic, copy, nullable) NSDate* absoluteDate;
@end

@interface EKRecurrenceDayOfWeek : NSObject
+ (instancetype)dayOfWeek:(EKWeekday)dayOfTheWeek weekNumber:(NSInteger)weekNumber;
@property(nonatomic, readonly) EKWeekday dayOfTheWeek;
@property(nonatomic, readonly) NSInteger weekNumber;
@end

@interface EKRecurrenceEnd : NSObject
+ (instancetype)recurrenceEndWithEndDate:(NSDate*)endDate;
+ (instancetype)recurrenceEndWithOccurrenceCount:(NSUInteger)occurrenceCount;
@property(nonatomic, readonly, nullable) NSDate* endDate;
@property(nonatomic, readonly) NSUInteger occurrenceCount;
@end

@interface EKRecurrenceRule : EKObject
- (instancetype)initRecurrenceWithFrequency:(EKRecurrenceFrequency)type
                                   interval:(NSInteger)interval
                              daysOfTheWeek:(nullable NSArray<EKRecurrenceDayOfWeek*>*)days
                             daysOfTheMonth:(nullable NSArray<NSNumber*>*)monthDays
                            monthsOfTheYear:(nullable NSArray<NSNumber*>*)months
                             weeksOfTheYear:(nullable NSArray<NSNumber*>*)weeksOfTheYear
                              daysOfTheYear:(nullable NSArray<NSNumber*>*)daysOfTheYear
                               setPositions:(nullable NSArray<NSNumber*>*)setPositions
                                        end:(nullable EKRecurrenceEnd*)end;
@property(nonatomic, copy, nullable) EKRecurrenceEnd* recurrenceEnd;
@property(nonatomic, readonly) EKRecurrenceFrequency frequency;
@property(nonatomic, readonly) NSInteger interval;
@property(nonatomic, readonly) NSInteger firstDayOfTheWeek;
@property(nonatomic, readonly, nullable) NSArray<EKRecurrenceDayOfWeek*>* daysOfTheWeek;
@property(nonatomic, readonly, nullable) NSArray<NSNumber*>* daysOfTheMonth;
@property(nonatomic, readonly, nullable) NSArray<NSNumber*>* daysOfTheYear;
@property(nonatomic, readonly, nullable) NSArray<NSNumber*>* weeksOfTheYear;
@property(nonatomic, readonly, nullable) NSArray<NSNumber*>* monthsOfTheYear;
@property(nonatomic, readonly, nullable) NSArray<NSNumber*>* setPositions;
@end

@interface EKCalendarItem : EKObject
@property(nonatomic, strong, null_unspecified) EKCalendar* calendar;
@property(nonatomic, copy, null_unspecified) NSString* title;
@property(nonatomic, copy, nullable) NSString* location;
@property(nonatomic, copy, nullable) NSString* notes;
@property(nonatomic, readonly, nullable) NSDate* lastModifiedDate;
@property(nonatomic, readonly, null_unspecified) NSString* calendarItemExternalIdentifier;
@property(nonatomic, readonly) BOOL hasRecurrenceRules;
@property(nonatomic, copy, nullable) NSArray<EKAlarm*>* alarms;
@property(nonatomic, copy, nullable) NSArray<EKRecurrenceRule*>* recurrenceRules;
- (void)addAlarm:(EKAlarm*)alarm;
- (void)removeAlarm:(EKAlarm*)alarm;
@end

@interface EKEvent : EKCalendarItem
+ (EKEvent*)eventWithEventStore:(EKEventStore*)eventStore;
@property(nonatomic, readonly, null_unspecified) NSString* eventIdentifier;
@property(nonatomic, getter=isAllDay) BOOL allDay;
@property(nonatomic, copy, null_unspecified) NSDate* startDate;
@property(nonatomic, copy, null_unspecified) NSDate* endDate;
@property(nonatomic, readonly, null_unspecified) NSDate* occurrenceDate;
@property(nonatomic, readonly) BOOL isDetached;
@end

@interface EKEventStore : NSObject
+ (EKAuthorizationStatus)authorizationStatusForEntityType:(EKEntityType)entityType;
- (void)requestFullAccessToEventsWithCompletion:
    (EKEventStoreRequestAccessCompletionHandler)completion TEMBRA_FIXTURE_MACOS(14.0);
- (void)requestAccessToEntityType:(EKEntityType)entityType
                       completion:(EKEventStoreRequestAccessCompletionHandler)completion
    TEMBRA_FIXTURE_MACOS_DEPRECATED(10.9, 14.0, "requestFullAccessToEventsWithCompletion:");
- (NSArray<EKCalendar*>*)calendarsForEntityType:(EKEntityType)entityType;
@property(nonatomic, readonly, nullable) EKCalendar* defaultCalendarForNewEvents;
- (nullable EKCalendar*)calendarWithIdentifier:(NSString*)identifier;
- (nullable EKEvent*)eventWithIdentifier:(NSString*)identifier;
- (NSPredicate*)predicateForEventsWithStartDate:(NSDate*)startDate
                                        endDate:(NSDate*)endDate
                                      calendars:(nullable NSArray<EKCalendar*>*)calendars;
- (NSArray<EKEvent*>*)eventsMatchingPredicate:(NSPredicate*)predicate;
- (void)enumerateEventsMatchingPredicate:(NSPredicate*)predicate
                              usingBlock:(EKEventSearchCallback)block TEMBRA_FIXTURE_MACOS(10.8);
- (BOOL)saveEvent:(EKEvent*)event span:(EKSpan)span error:(NSError**)error;
- (BOOL)removeEvent:(EKEvent*)event span:(EKSpan)span error:(NSError**)error;
- (void)reset;
@end

NS_ASSUME_NONNULL_END
