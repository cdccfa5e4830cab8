// The system calendar store on macOS: the calendar framework's event store behind the store
// interface. Framework objects become the interface's values here and nowhere else.
#import <CoreGraphics/CoreGraphics.h>
#import <EventKit/EventKit.h>
#import <Foundation/Foundation.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "access/calendar_store.h"
#include "access/event_pieces.h"
#include "access/store_factory.h"

#if !__has_feature(objc_arc)
#error "The system store relies on automatic reference counting: compile it with -fobjc-arc."
#endif

namespace tembra {
namespace {

// The framework reads at most four years of events per query and quietly cuts a longer window
// short; longer windows are read in pieces of a little less.
constexpr double kLongestQuery = 4 * 365 * 86400.0;

// No NSString stands for text that is not UTF-8; callers take that as "no such thing".
NSString* _Nullable nsString(const std::string& text) {
  return [[NSString alloc] initWithBytes:text.data()
                                  length:text.size()
                                encoding:NSUTF8StringEncoding];
}

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

std::optional<std::string> optionalUtf8(NSString* _Nullable text) {
  if (text == nil)
    return std::nullopt;
  return utf8(text);
}

// NSDate counts from 2001 and the interface from 1970; Foundation's own conversion is the one the
// records are defined by, so both directions go through it.
Instant instant(NSDate* date) {
  return Instant{date.timeIntervalSince1970};
}

std::optional<Instant> optionalInstant(NSDate* _Nullable date) {
  if (date == nil)
    return std::nullopt;
  return instant(date);
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

// The calendar's colour belongs to the calendar (the Get rule): it is read, never released.
std::optional<std::vector<double>> colorComponents(CGColorRef _Nullable color) {
  if (color == nullptr)
    return std::nullopt;
  const std::size_t count = CGColorGetNumberOfComponents(color);
  const CGFloat* components = CGColorGetComponents(color);
  if (components == nullptr)
    return std::vector<double>{};
  return std::vector<double>(components, components + count);
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

// The events of one list share the few calendars they belong to.
class CalendarValues {
 public:
  CalendarRef of(EKCalendar* calendar) {
    std::string identifier = utf8(calendar.calendarIdentifier);
    auto found = values_.find(identifier);
    if (found == values_.end()) {
      found = values_.emplace(std::move(identifier), CalendarRef(calendarValue(calendar))).first;
    }
    return found->second;
  }

 private:
  std::unordered_map<std::string, CalendarRef> values_;
};

// The handle owns one strong reference to the framework's object and lets it go with its last
// copy.
NativeHandle eventHandle(EKEvent* event) {
  return NativeHandle((__bridge_retained void*)event,
                      [](void* object) { (void)(__bridge_transfer id)object; });
}

EKEvent* _Nullable eventOfHandle(const NativeHandle& handle) {
  return (__bridge EKEvent*)handle.get();
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

Event eventValue(EKEvent* event, CalendarValues& calendars) {
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
  value.native = eventHandle(event);
  return value;
}

NSString* _Nullable nsText(const std::optional<std::string>& text) {
  return text ? nsString(*text) : nil;
}

class EventKitStore final : public CalendarStore {
 public:
  EventKitStore() : store_([[EKEventStore alloc] init]) {}

  int authorizationStatus(EntityType) override {
    return static_cast<int>([EKEventStore authorizationStatusForEntityType:EKEntityTypeEvent]);
  }

  void requestFullAccessToEvents(AccessCompletion completion) override {
    @autoreleasepool {
      EKEventStoreRequestAccessCompletionHandler handler = answerHandler(std::move(completion));
      if (@available(macOS 14.0, *)) {
        [store_ requestFullAccessToEventsWithCompletion:handler];
      } else {
        [store_ requestAccessToEntityType:EKEntityTypeEvent completion:handler];
      }
    }
  }

  void requestAccess(EntityType, AccessCompletion completion) override {
    @autoreleasepool {
      [store_ requestAccessToEntityType:EKEntityTypeEvent
                             completion:answerHandler(std::move(completion))];
    }
  }

  // The store was made before the user allowed access and keeps the empty view it had then; a
  // reset makes it read the calendars anew. The access code calls this on the main thread, after
  // its wait and before any read, so no object the reset would invalidate exists yet.
  void accessGranted() override {
    @autoreleasepool {
      [store_ reset];
    }
  }

  std::vector<Calendar> calendars(EntityType) override {
    @autoreleasepool {
      std::vector<Calendar> values;
      for (EKCalendar* calendar in [store_ calendarsForEntityType:EKEntityTypeEvent])
        values.push_back(calendarValue(calendar));
      return values;
    }
  }

  std::optional<Calendar> defaultCalendarForNewEvents() override {
    @autoreleasepool {
      if (EKCalendar* calendar = store_.defaultCalendarForNewEvents)
        return calendarValue(calendar);
      return std::nullopt;
    }
  }

  std::optional<Calendar> calendarWithIdentifier(const std::string& identifier) override {
    @autoreleasepool {
      if (EKCalendar* calendar = ekCalendar(identifier))
        return calendarValue(calendar);
      return std::nullopt;
    }
  }

  std::optional<Event> eventWithIdentifier(const std::string& identifier) override {
    @autoreleasepool {
      if (EKEvent* event = ekEvent(identifier)) {
        CalendarValues calendars;
        return eventValue(event, calendars);
      }
      return std::nullopt;
    }
  }

  std::vector<Event> eventsMatching(const EventPredicate& predicate) override {
    @autoreleasepool {
      NSMutableArray<EKCalendar*>* calendars = nil;
      if (predicate.calendars) {
        calendars = [NSMutableArray arrayWithCapacity:predicate.calendars->size()];
        for (const Calendar& calendar : *predicate.calendars) {
          if (EKCalendar* found = ekCalendar(calendar.calendarIdentifier))
            [calendars addObject:found];
        }
        // An empty list would mean every calendar to the framework.
        if (calendars.count == 0)
          return {};
      }

      CalendarValues calendarValues;
      return eventsInPieces(
          predicate.startDate, predicate.endDate, kLongestQuery, [&](Instant from, Instant to) {
            NSPredicate* query = [store_ predicateForEventsWithStartDate:nsDate(from)
                                                                 endDate:nsDate(to)
                                                               calendars:calendars];
            std::vector<Event> events;
            for (EKEvent* event in [store_ eventsMatchingPredicate:query])
              events.push_back(eventValue(event, calendarValues));
            return events;
          });
    }
  }

  Event newEvent() override {
    @autoreleasepool {
      Event value;
      value.native = eventHandle([EKEvent eventWithEventStore:store_]);
      return value;
    }
  }

  std::optional<StoreError> saveEvent(Event& value, Span span) override {
    @autoreleasepool {
      EKEvent* event = eventOfHandle(value.native);
      if (event == nil)
        event = [EKEvent eventWithEventStore:store_];
      write(value, event);
      NSError* error = nil;
      if (![store_ saveEvent:event span:ekSpan(span) error:&error])
        return storeError(error);
      CalendarValues calendars;
      value = eventValue(event, calendars);
      return std::nullopt;
    }
  }

  std::optional<StoreError> removeEvent(const Event& value, Span span) override {
    @autoreleasepool {
      EKEvent* event = eventOfHandle(value.native);
      if (event == nil && value.eventIdentifier)
        event = ekEvent(*value.eventIdentifier);
      // Nothing in the store stands behind the value: there is nothing left to remove.
      if (event == nil)
        return std::nullopt;
      NSError* error = nil;
      if (![store_ removeEvent:event span:ekSpan(span) error:&error])
        return storeError(error);
      return std::nullopt;
    }
  }

 private:
  // The completion may run after the caller stopped waiting; the block holds its own copy of it,
  // and with it the caller's share of whatever the completion reaches.
  static EKEventStoreRequestAccessCompletionHandler answerHandler(AccessCompletion completion) {
    return ^(BOOL granted, NSError* _Nullable error) {
      std::optional<StoreError> failure;
      if (error != nil)
        failure = storeError(error);
      completion(granted != NO, std::move(failure));
    };
  }

  EKCalendar* _Nullable ekCalendar(const std::string& identifier) {
    if (NSString* text = nsString(identifier))
      return [store_ calendarWithIdentifier:text];
    return nil;
  }

  EKEvent* _Nullable ekEvent(const std::string& identifier) {
    if (NSString* text = nsString(identifier))
      return [store_ eventWithIdentifier:text];
    return nil;
  }

  // Writes the fields that differ from the object's own. The framework records what it was told
  // to change, and a date that was not changed must not move by a conversion's rounding.
  void write(const Event& value, EKEvent* event) {
    if (value.calendar) {
      EKCalendar* current = event.calendar;
      if (current == nil ||
          utf8(current.calendarIdentifier) != value.calendar->calendarIdentifier) {
        if (EKCalendar* calendar = ekCalendar(value.calendar->calendarIdentifier))
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
  }

  EKEventStore* store_;
};

}  // namespace

std::unique_ptr<CalendarStore> createSystemStore() {
  return std::make_unique<EventKitStore>();
}

}  // namespace tembra
