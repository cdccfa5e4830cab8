// Framework objects to values and values into framework objects, for the system store.
#import <CoreGraphics/CoreGraphics.h>

#include <memory>
#include <span>
#include <type_traits>
#include <vector>

#include "access/colour_space.h"
#include "access/framework_series.h"
#include "access/macos/framework_values.h"

#if !__has_feature(objc_arc)
#error "Framework values rely on automatic reference counting: compile them with -fobjc-arc."
#endif

namespace tembra {
namespace {

// No NSString stands for text that is not UTF-8; callers take that as "no such thing".
NSString* _Nullable nsString(const std::string& text) {
  return [[NSString alloc] initWithBytes:text.data()
                                  length:text.size()
                                encoding:NSUTF8StringEncoding];
}

std::optional<std::string> optionalUtf8(NSString* _Nullable text) {
  if (text == nil)
    return std::nullopt;
  return utf8(text);
}

std::optional<Instant> optionalInstant(NSDate* _Nullable date) {
  if (NSDate* present = date)
    return instant(present);
  return std::nullopt;
}

struct ColorRelease {
  void operator()(CGColorRef color) const { CGColorRelease(color); }
};

struct ColorSpaceRelease {
  void operator()(CGColorSpaceRef space) const { CGColorSpaceRelease(space); }
};

static_assert(std::is_same_v<CGFloat, double>, "components are read as doubles");

// The calendar's colour in sRGB, whatever colour space it was given in (Display P3, extended sRGB,
// CMYK, grey), whose components would otherwise be read as if they were sRGB's. The colour belongs
// to the calendar (the Get rule): it is read, never released; its converted copy is this
// function's own (the Create rule).
std::optional<std::vector<double>> colorComponents(CGColorRef _Nullable color) {
  if (color == nullptr)
    return std::nullopt;
  const std::unique_ptr<CGColorSpace, ColorSpaceRelease> srgb(
      CGColorSpaceCreateWithName(kCGColorSpaceSRGB));
  const std::unique_ptr<CGColor, ColorRelease> converted(
      srgb ? CGColorCreateCopyByMatchingToColorSpace(srgb.get(), kCGRenderingIntentDefault, color,
                                                     nullptr)
           : nullptr);
  const CGFloat* components = converted ? CGColorGetComponents(converted.get()) : nullptr;
  if (components == nullptr)
    return srgbComponents(std::nullopt);
  return srgbComponents(
      std::span<const double>(components, CGColorGetNumberOfComponents(converted.get())));
}

Alarm alarmValue(EKAlarm* alarm) {
  if (NSDate* date = alarm.absoluteDate)
    return Alarm::withAbsoluteDate(instant(date));
  return Alarm::withRelativeOffset(alarm.relativeOffset);
}

EKAlarm* ekAlarm(const Alarm& alarm) {
  if (alarm.absoluteDate)
    return [EKAlarm alarmWithAbsoluteDate:nsDate(*alarm.absoluteDate)];
  return [EKAlarm alarmWithRelativeOffset:alarm.relativeOffset];
}

std::vector<Alarm> alarmValues(NSArray<EKAlarm*>* _Nullable alarms) {
  std::vector<Alarm> values;
  for (EKAlarm* alarm in alarms)
    values.push_back(alarmValue(alarm));
  return values;
}

// A list of numbers as a rule takes it: nil for a part the rule does not have.
NSArray<NSNumber*>* _Nullable nsNumbers(const std::vector<int>& values) {
  if (values.empty())
    return nil;
  NSMutableArray<NSNumber*>* numbers = [NSMutableArray arrayWithCapacity:values.size()];
  for (const int value : values)
    [numbers addObject:[NSNumber numberWithInteger:value]];
  return numbers;
}

std::vector<int> numberValues(NSArray<NSNumber*>* _Nullable numbers) {
  std::vector<int> values;
  for (NSNumber* number in numbers)
    values.push_back(static_cast<int>(number.integerValue));
  return values;
}

EKRecurrenceRule* ekRule(const FrameworkRule& rule) {
  NSMutableArray<EKRecurrenceDayOfWeek*>* days = nil;
  if (!rule.daysOfTheWeek.empty()) {
    days = [NSMutableArray arrayWithCapacity:rule.daysOfTheWeek.size()];
    for (const FrameworkWeekday& day : rule.daysOfTheWeek) {
      [days addObject:[EKRecurrenceDayOfWeek dayOfWeek:static_cast<EKWeekday>(day.dayOfTheWeek)
                                            weekNumber:day.weekNumber]];
    }
  }
  EKRecurrenceEnd* end = nil;
  if (rule.occurrenceCount)
    end = [EKRecurrenceEnd
        recurrenceEndWithOccurrenceCount:static_cast<NSUInteger>(*rule.occurrenceCount)];
  else if (rule.endDate)
    end = [EKRecurrenceEnd recurrenceEndWithEndDate:nsDate(*rule.endDate)];
  return [[EKRecurrenceRule alloc]
      initRecurrenceWithFrequency:static_cast<EKRecurrenceFrequency>(rule.frequency)
                         interval:rule.interval
                    daysOfTheWeek:days
                   daysOfTheMonth:nsNumbers(rule.daysOfTheMonth)
                  monthsOfTheYear:nsNumbers(rule.monthsOfTheYear)
                   weeksOfTheYear:nsNumbers(rule.weeksOfTheYear)
                    daysOfTheYear:nsNumbers(rule.daysOfTheYear)
                     setPositions:nsNumbers(rule.setPositions)
                              end:end];
}

FrameworkRule ruleFields(EKRecurrenceRule* rule) {
  FrameworkRule fields;
  fields.frequency = static_cast<FrameworkFrequency>(rule.frequency);
  fields.interval = static_cast<int>(rule.interval);
  for (EKRecurrenceDayOfWeek* day in rule.daysOfTheWeek) {
    fields.daysOfTheWeek.push_back(
        {static_cast<int>(day.dayOfTheWeek), static_cast<int>(day.weekNumber)});
  }
  fields.daysOfTheMonth = numberValues(rule.daysOfTheMonth);
  fields.monthsOfTheYear = numberValues(rule.monthsOfTheYear);
  fields.weeksOfTheYear = numberValues(rule.weeksOfTheYear);
  fields.daysOfTheYear = numberValues(rule.daysOfTheYear);
  fields.setPositions = numberValues(rule.setPositions);
  fields.firstDayOfTheWeek = static_cast<int>(rule.firstDayOfTheWeek);
  if (EKRecurrenceEnd* end = rule.recurrenceEnd) {
    if (NSDate* date = end.endDate)
      fields.endDate = instant(date);
    else
      fields.occurrenceCount = static_cast<long>(end.occurrenceCount);
  }
  return fields;
}

// The series' rule as RRULE text: its first, the one tembra shows; "" for a series without one,
// absent for an event that does not repeat.
std::optional<std::string> ruleText(EKEvent* event) {
  if (!event.hasRecurrenceRules)
    return std::nullopt;
  NSArray<EKRecurrenceRule*>* rules = event.recurrenceRules;
  if (rules == nil || rules.count == 0)
    return std::string();
  return frameworkRuleText(ruleFields([rules objectAtIndex:0]), event.allDay);
}

NSString* _Nullable nsText(const std::optional<std::string>& text) {
  return text ? nsString(*text) : nil;
}

// Gives the event the value's rule when it differs from the series' own: a series given several
// rules elsewhere keeps them all while a request leaves its rule as it reads. "" removes the rules.
std::optional<StoreError> writeRule(const Event& value, EKEvent* event) {
  if (!value.recurrenceRule || ruleText(event) == value.recurrenceRule)
    return std::nullopt;
  if (value.recurrenceRule->empty()) {
    event.recurrenceRules = nil;
    return std::nullopt;
  }
  std::string problem;
  const std::optional<FrameworkRule> rule = frameworkRule(*value.recurrenceRule, problem);
  // The commands ask ruleProblem first; a rule that still cannot be kept changes nothing.
  if (!rule)
    return StoreError{problem};
  NSMutableArray<EKRecurrenceRule*>* rules = [NSMutableArray arrayWithCapacity:1];
  [rules addObject:ekRule(*rule)];
  event.recurrenceRules = rules;
  return std::nullopt;
}

}  // namespace

std::string utf8(NSString* _Nullable text) {
  if (text == nil)
    return {};
  NSData* data = [text dataUsingEncoding:NSUTF8StringEncoding];
  // Only a lone surrogate has no UTF-8 form; losing it beats losing the whole text.
  if (data == nil)
    data = [text dataUsingEncoding:NSUTF8StringEncoding allowLossyConversion:YES];
  if (data == nil || data.length == 0)
    return {};
  return std::string(static_cast<const char*>(data.bytes), data.length);
}

Instant instant(NSDate* date) {
  return Instant{date.timeIntervalSince1970};
}

NSDate* nsDate(Instant at) {
  return [NSDate dateWithTimeIntervalSince1970:at.seconds];
}

EKSpan ekSpan(Span span) {
  return span == Span::thisEvent ? EKSpanThisEvent : EKSpanFutureEvents;
}

StoreError storeError(NSError* _Nullable error) {
  return StoreError{error != nil ? utf8(error.localizedDescription) : std::string()};
}

Calendar calendarValue(EKCalendar* calendar) {
  Calendar value;
  value.calendarIdentifier = utf8(calendar.calendarIdentifier);
  value.title = optionalUtf8(calendar.title);
  if (EKSource* source = calendar.source)
    value.source = Source{utf8(source.title)};
  value.color = colorComponents(calendar.CGColor);
  value.allowsContentModifications = calendar.allowsContentModifications;
  return value;
}

CalendarRef CalendarValues::of(EKCalendar* calendar) {
  std::string identifier = utf8(calendar.calendarIdentifier);
  auto found = values_.find(identifier);
  if (found == values_.end()) {
    found = values_.emplace(std::move(identifier), CalendarRef(calendarValue(calendar))).first;
  }
  return found->second;
}

NativeHandle eventHandle(EKEvent* event) {
  return NativeHandle((__bridge_retained void*)event,
                      [](void* object) { (void)(__bridge_transfer id)object; });
}

EKEvent* _Nullable eventOfHandle(const NativeHandle& handle) {
  return (__bridge EKEvent*)handle.get();
}

Event eventValue(EKEvent* event, CalendarValues& calendars, Keep keep) {
  Event value;
  value.eventIdentifier = optionalUtf8(event.eventIdentifier);
  if (EKCalendar* calendar = event.calendar)
    value.calendar = calendars.of(calendar);
  value.title = optionalUtf8(event.title);
  value.notes = optionalUtf8(event.notes);
  value.location = optionalUtf8(event.location);
  value.startDate = optionalInstant(event.startDate);
  value.endDate = optionalInstant(event.endDate);
  value.isAllDay = event.allDay;
  value.alarms = alarmValues(event.alarms);
  value.lastModifiedDate = optionalInstant(event.lastModifiedDate);
  value.calendarItemExternalIdentifier = optionalUtf8(event.calendarItemExternalIdentifier);
  value.hasRecurrenceRules = event.hasRecurrenceRules;
  value.isDetached = event.isDetached;
  if (event.hasRecurrenceRules)
    value.occurrenceDate = optionalInstant(event.occurrenceDate);
  value.recurrenceRule = ruleText(event);
  if (keep == Keep::object)
    value.native = eventHandle(event);
  return value;
}

bool holdsEvents(EKCalendar* calendar) {
  return (calendar.allowedEntityTypes & EKEntityMaskEvent) != 0;
}

EKCalendar* _Nullable ekCalendar(EKEventStore* store, const std::string& identifier) {
  NSString* text = nsString(identifier);
  if (text == nil)
    return nil;
  EKCalendar* calendar = [store calendarWithIdentifier:text];
  if (calendar == nil || !holdsEvents(calendar))
    return nil;
  return calendar;
}

EKEvent* _Nullable ekEvent(EKEventStore* store, const std::string& identifier) {
  if (NSString* text = nsString(identifier))
    return [store eventWithIdentifier:text];
  return nil;
}

std::optional<StoreError> write(EKEventStore* store, const Event& value, EKEvent* event) {
  if (value.calendar) {
    EKCalendar* current = event.calendar;
    if (current == nil || utf8(current.calendarIdentifier) != value.calendar->calendarIdentifier) {
      if (EKCalendar* calendar = ekCalendar(store, value.calendar->calendarIdentifier))
        event.calendar = calendar;
    }
  }
  if (optionalUtf8(event.title) != value.title)
    event.title = nsText(value.title);
  if (optionalUtf8(event.notes) != value.notes)
    event.notes = nsText(value.notes);
  if (optionalUtf8(event.location) != value.location)
    event.location = nsText(value.location);
  if (value.startDate && optionalInstant(event.startDate) != value.startDate)
    event.startDate = nsDate(*value.startDate);
  if (value.endDate && optionalInstant(event.endDate) != value.endDate)
    event.endDate = nsDate(*value.endDate);
  if (static_cast<bool>(event.allDay) != value.isAllDay)
    event.allDay = value.isAllDay ? YES : NO;
  if (alarmValues(event.alarms) != value.alarms) {
    NSArray<EKAlarm*>* previous = [event.alarms copy];
    for (EKAlarm* alarm in previous)
      [event removeAlarm:alarm];
    for (const Alarm& alarm : value.alarms)
      [event addAlarm:ekAlarm(alarm)];
  }
  return writeRule(value, event);
}

}  // namespace tembra
