// The calendar framework's objects as the store interface's values, and values written back into
// them: framework objects become values here and nowhere else. Objective-C++ only.
#pragma once

#import <EventKit/EventKit.h>
#import <Foundation/Foundation.h>

#include <optional>
#include <string>
#include <unordered_map>

#include "access/calendar_store.h"

// Pointers are never nil unless marked _Nullable.
NS_ASSUME_NONNULL_BEGIN

namespace tembra {

// The text as UTF-8; nil is "". Only a lone surrogate has no UTF-8 form, and only it is lost.
std::string utf8(NSString* _Nullable text);

// NSDate counts from 2001 and the interface from 1970; Foundation's own conversion is the one the
// records are defined by, so both directions go through it.
Instant instant(NSDate* date);

NSDate* nsDate(Instant at);

EKSpan ekSpan(Span span);

StoreError storeError(NSError* _Nullable error);

// The calendar as the store reports it, its colour in sRGB.
Calendar calendarValue(EKCalendar* calendar);

// The calendars of one list as values: the events of a list share the few calendars they belong to.
class CalendarValues {
 public:
  CalendarRef of(EKCalendar* calendar);

 private:
  std::unordered_map<std::string, CalendarRef> values_;
};

// The handle owns one strong reference to the framework's object and lets it go with its last
// copy.
NativeHandle eventHandle(EKEvent* event);

EKEvent* _Nullable eventOfHandle(const NativeHandle& handle);

// Whether a value keeps the framework's object behind it: a value that may be saved or removed
// must; one that is only printed need not, and a long window would otherwise hold every object it
// read.
enum class Keep { object, valuesOnly };

Event eventValue(EKEvent* event, CalendarValues& calendars, Keep keep);

// A calendar that cannot hold events (a reminders list) is no event calendar: the framework finds
// it by its identifier all the same.
bool holdsEvents(EKCalendar* calendar);

// The event calendar with the identifier; none for any other calendar.
EKCalendar* _Nullable ekCalendar(EKEventStore* store, const std::string& identifier);

EKEvent* _Nullable ekEvent(EKEventStore* store, const std::string& identifier);

// Writes the fields that differ from the object's own. The framework records what it was told
// to change, and a date that was not changed must not move by a conversion's rounding.
std::optional<StoreError> write(EKEventStore* store, const Event& value, EKEvent* event);

}  // namespace tembra

NS_ASSUME_NONNULL_END
