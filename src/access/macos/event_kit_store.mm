// The system calendar store on macOS: the calendar framework's event store behind the store
// interface. Framework objects become the interface's values here and nowhere else.
#import <CoreGraphics/CoreGraphics.h>
#import <EventKit/EventKit.h>
#import <Foundation/Foundation.h>

#include <atomic>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "access/calendar_store.h"
#include "access/colour_space.h"
#include "access/event_pieces.h"
#include "access/framework_series.h"
#include "access/store_factory.h"

#if !__has_feature(objc_arc)
#error "The system store relies on automatic reference counting: compile it with -fobjc-arc."
#endif

namespace tembra {
namespace {

// The framework reads at most four years of events per query and quietly cuts a longer window
// short; longer windows are read in pieces of a little less, and only in the years windowPieces
// reads.
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

// Whether a value keeps the framework's object behind it: a value that may be saved or removed
// must; one that is only printed need not, and a long window would otherwise hold every object it
// read.
enum class Keep { object, valuesOnly };

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

NSString* _Nullable nsText(const std::optional<std::string>& text) {
  return text ? nsString(*text) : nil;
}

// A calendar that cannot hold events (a reminders list) is no event calendar: the framework finds
// it by its identifier all the same.
bool holdsEvents(EKCalendar* calendar) {
  return (calendar.allowedEntityTypes & EKEntityMaskEvent) != 0;
}

// The event calendar with the identifier; none for any other calendar.
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

// Writes the fields that differ from the object's own. The framework records what it was told
// to change, and a date that was not changed must not move by a conversion's rounding.
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

// What an exception the framework raised says: its reason, else its name.
std::string exceptionReason(NSException* exception) {
  if (NSString* reason = exception.reason)
    return utf8(reason);
  return utf8(exception.name);
}

// The framework's event store, reachable only through run(). A framework call may raise an
// Objective-C exception (on dates far outside what the framework handles, for one), which would
// end the run with no document; guarded() and run() turn it into the failure value the store
// interface promises. Unwinding is safe on both sides: in Objective-C++ ARC releases the references
// of the frames an exception leaves (-fobjc-arc-exceptions is the default there), and on 64-bit
// macOS an Objective-C exception unwinds C++ frames as a C++ exception does, destroying their
// values.
class FrameworkStore {
 public:
  // body() in an autorelease pool of its own; caught(reason) in its place when the framework raises
  // while body runs. For the framework's class methods, which need no store.
  template <class Body, class Caught>
  static auto guarded(Body&& body, Caught&& caught) -> decltype(body()) {
    @autoreleasepool {
      @try {
        return body();
      } @catch (NSException* exception) {
        return caught(exceptionReason(exception));
      } @catch (id) {
        return caught(std::string());
      }
    }
  }

  // body(store), guarded. The store is made by the first call that needs it, which comes after the
  // run's first read of the authorization status: a store made earlier, while another run's
  // question was still open, would keep the view without access it had then although the status
  // this run reads says granted. caught(reason) in body's place when the store cannot be made.
  template <class Body, class Caught>
  auto run(Body&& body, Caught&& caught) -> decltype(body(std::declval<EKEventStore*>())) {
    return guarded(
        [&]() -> decltype(body(std::declval<EKEventStore*>())) {
          if (store_ == nil)
            store_ = [[EKEventStore alloc] init];
          EKEventStore* store = store_;
          if (store == nil)
            return caught(std::string());
          return body(store);
        },
        caught);
  }

  // A lookup: what body(store) found, or why the store could not answer (the framework raised,
  // or no store could be made), never an empty answer in its place.
  template <class Body>
  auto lookup(Body&& body) -> Answer<decltype(body(std::declval<EKEventStore*>()))> {
    using Found = decltype(body(std::declval<EKEventStore*>()));
    return run([&](EKEventStore* store) -> Answer<Found> { return body(store); },
               [](const std::string& reason) -> Answer<Found> { return StoreError{reason}; });
  }

  // After a grant: the store that asked keeps the view without access it was made with. A new
  // store reads the calendars with the access just given; the old one is only reset where no new
  // one can be made. Nothing fetched from the old store exists yet.
  void renew() {
    const bool renewed = guarded(
        [&] {
          EKEventStore* fresh = [[EKEventStore alloc] init];
          if (fresh == nil)
            return false;
          store_ = fresh;
          return true;
        },
        [](const std::string&) { return false; });
    if (!renewed)
      run([](EKEventStore* store) { [store reset]; }, [](const std::string&) {});
  }

 private:
  EKEventStore* _Nullable store_ = nil;
};

// The completion of one permission request, run once: by the framework's answer, or by a failure
// raised while asking, whichever comes first.
class OneAnswer {
 public:
  explicit OneAnswer(AccessCompletion completion) : completion_(std::move(completion)) {}

  void operator()(bool granted, std::optional<StoreError> error) {
    if (!answered_.test_and_set())
      completion_(granted, std::move(error));
  }

 private:
  AccessCompletion completion_;
  std::atomic_flag answered_;
};

// Which question a request asks.
enum class Question { fullAccessWhereItExists, accessToEvents };

// A status the framework could not give: no code it defines, which status shows as "unknown" and
// the access check asks about, as for any code it does not know.
constexpr int kUnreadableStatus = -1;

class EventKitStore final : public CalendarStore {
 public:
  int authorizationStatus(EntityType) override {
    return FrameworkStore::guarded(
        [] {
          return static_cast<int>(
              [EKEventStore authorizationStatusForEntityType:EKEntityTypeEvent]);
        },
        [](const std::string&) { return kUnreadableStatus; });
  }

  void requestFullAccessToEvents(AccessCompletion completion) override {
    ask(Question::fullAccessWhereItExists, std::move(completion));
  }

  void requestAccess(EntityType, AccessCompletion completion) override {
    ask(Question::accessToEvents, std::move(completion));
  }

  // The store that asked was made before the user allowed access and keeps the empty view it had
  // then. The access code calls this on the main thread, after its wait and before any read.
  void accessGranted() override { framework_.renew(); }

  Answer<std::vector<Calendar>> calendars(EntityType) override {
    return framework_.lookup([](EKEventStore* store) {
      std::vector<Calendar> values;
      for (EKCalendar* calendar in [store calendarsForEntityType:EKEntityTypeEvent]) {
        if (holdsEvents(calendar))
          values.push_back(calendarValue(calendar));
      }
      return values;
    });
  }

  Answer<std::optional<Calendar>> defaultCalendarForNewEvents() override {
    return framework_.lookup([](EKEventStore* store) -> std::optional<Calendar> {
      if (EKCalendar* calendar = store.defaultCalendarForNewEvents)
        return calendarValue(calendar);
      return std::nullopt;
    });
  }

  Answer<std::optional<Calendar>> calendarWithIdentifier(const std::string& identifier) override {
    return framework_.lookup([&](EKEventStore* store) -> std::optional<Calendar> {
      if (EKCalendar* calendar = ekCalendar(store, identifier))
        return calendarValue(calendar);
      return std::nullopt;
    });
  }

  Answer<std::optional<Event>> eventWithIdentifier(const std::string& identifier) override {
    return framework_.lookup([&](EKEventStore* store) -> std::optional<Event> {
      if (EKEvent* event = ekEvent(store, identifier)) {
        CalendarValues calendars;
        return eventValue(event, calendars, Keep::object);
      }
      return std::nullopt;
    });
  }

  Answer<std::optional<Event>> occurrenceWithIdentifier(const std::string& identifier,
                                                        Instant occurrenceDate) override {
    return framework_.lookup([&](EKEventStore* store) -> std::optional<Event> {
      EKEvent* series = ekEvent(store, identifier);
      if (series == nil)
        return std::nullopt;
      CalendarValues calendars;
      // An event that does not repeat is its own occurrence at its start.
      if (!series.hasRecurrenceRules) {
        NSDate* start = series.startDate;
        if (start != nil && sameMillisecond(instant(start), occurrenceDate))
          return eventValue(series, calendars, Keep::object);
        return std::nullopt;
      }
      // The framework finds occurrences by where they lie now, not by their original start:
      // windows around that start are searched, nearest first.
      const Event seriesValue = eventValue(series, calendars, Keep::valuesOnly);
      NSMutableArray<EKCalendar*>* calendar = nil;
      if (EKCalendar* own = series.calendar) {
        calendar = [NSMutableArray arrayWithCapacity:1];
        [calendar addObject:own];
      }
      for (const auto& [from, to] : occurrenceSearchWindows(occurrenceDate)) {
        @autoreleasepool {
          NSPredicate* query = [store predicateForEventsWithStartDate:nsDate(from)
                                                              endDate:nsDate(to)
                                                            calendars:calendar];
          NSArray<EKEvent*>* found = [store eventsMatchingPredicate:query];
          std::vector<Event> values;
          for (EKEvent* event in found)
            values.push_back(eventValue(event, calendars, Keep::valuesOnly));
          if (const auto index = occurrenceAmong(values, seriesValue, occurrenceDate))
            return eventValue([found objectAtIndex:*index], calendars, Keep::object);
        }
      }
      return std::nullopt;
    });
  }

  // A window reads only the years windowPieces reads: an event outside them would be saved and
  // then never listed.
  bool canKeep(const Event& event) override { return readByWindows(event); }

  // Refuses what the framework's rule object cannot hold, before anything is saved.
  std::optional<std::string> ruleProblem(const std::string& rule) override {
    std::string problem;
    if (frameworkRule(rule, problem))
      return std::nullopt;
    return problem;
  }

  Answer<std::vector<Event>> eventsMatching(const EventPredicate& predicate) override {
    return framework_.lookup([&](EKEventStore* store) -> std::vector<Event> {
      NSMutableArray<EKCalendar*>* calendars = nil;
      if (predicate.calendars) {
        calendars = [NSMutableArray arrayWithCapacity:predicate.calendars->size()];
        for (const Calendar& calendar : *predicate.calendars) {
          if (EKCalendar* found = ekCalendar(store, calendar.calendarIdentifier))
            [calendars addObject:found];
        }
        // An empty list would mean every calendar to the framework.
        if (calendars.count == 0)
          return std::vector<Event>();
      }

      CalendarValues calendarValues;
      CalendarValues* values = &calendarValues;
      return eventsInPieces(windowPieces(predicate.startDate, predicate.endDate, kLongestQuery),
                            [&](Instant from, Instant to) {
                              // Event by event: what the framework makes for one event goes with
                              // it, and only values stay, however many events a piece holds.
                              @autoreleasepool {
                                NSPredicate* query =
                                    [store predicateForEventsWithStartDate:nsDate(from)
                                                                   endDate:nsDate(to)
                                                                 calendars:calendars];
                                std::vector<Event> events;
                                std::vector<Event>* found = &events;
                                EKEventSearchCallback each = ^(EKEvent* event, BOOL*) {
                                  @autoreleasepool {
                                    found->push_back(eventValue(event, *values, Keep::valuesOnly));
                                  }
                                };
                                [store enumerateEventsMatchingPredicate:query usingBlock:each];
                                return events;
                              }
                            });
    });
  }

  Event newEvent() override {
    return framework_.run(
        [](EKEventStore* store) {
          Event value;
          value.native = eventHandle([EKEvent eventWithEventStore:store]);
          return value;
        },
        // saveEvent makes the framework's object itself for a value that has none.
        [](const std::string&) { return Event{}; });
  }

  std::optional<StoreError> saveEvent(Event& value, Span span) override {
    return framework_.run(
        [&](EKEventStore* store) -> std::optional<StoreError> {
          EKEvent* event = eventOfHandle(value.native);
          std::optional<StoreError> refused;
          if (event == nil) {
            event = [EKEvent eventWithEventStore:store];
            refused = write(store, value, event);
          } else {
            // Only the fields the request set reach the framework's object, which records them
            // as its changes; the end is repaired on the object as it stands.
            CalendarValues current;
            refused = write(
                store, withChangesOf(value, eventValue(event, current, Keep::valuesOnly)), event);
          }
          if (refused)
            return refused;
          // A rule belongs to the whole series, whatever else the request reaches.
          const bool setsRule =
              value.changes ? value.changes->recurrenceRule : value.recurrenceRule.has_value();
          NSError* error = nil;
          if (![store saveEvent:event
                           span:setsRule ? EKSpanFutureEvents : ekSpan(span)
                          error:&error]) {
            return storeError(error);
          }
          CalendarValues calendars;
          value = eventValue(event, calendars, Keep::object);
          return std::nullopt;
        },
        [](const std::string& reason) -> std::optional<StoreError> { return StoreError{reason}; });
  }

  std::optional<StoreError> removeEvent(const Event& value, Span span) override {
    return framework_.run(
        [&](EKEventStore* store) -> std::optional<StoreError> {
          EKEvent* event = eventOfHandle(value.native);
          if (event == nil && value.eventIdentifier)
            event = ekEvent(store, *value.eventIdentifier);
          // Nothing in the store stands behind the value: it is already gone.
          if (event == nil)
            return StoreError{std::string(), true};
          NSError* error = nil;
          if (![store removeEvent:event span:ekSpan(span) error:&error])
            return storeError(error);
          return std::nullopt;
        },
        [](const std::string& reason) -> std::optional<StoreError> { return StoreError{reason}; });
  }

 private:
  // The completion may run after the caller stopped waiting; the block holds its own share of the
  // answer, and with it the caller's share of whatever the completion reaches.
  void ask(Question question, AccessCompletion completion) {
    auto answer = std::make_shared<OneAnswer>(std::move(completion));
    framework_.run(
        [&](EKEventStore* store) {
          EKEventStoreRequestAccessCompletionHandler handler =
              ^(BOOL granted, NSError* _Nullable error) {
                std::optional<StoreError> failure;
                if (error != nil)
                  failure = storeError(error);
                (*answer)(granted != NO, std::move(failure));
              };
          if (question == Question::fullAccessWhereItExists) {
            if (@available(macOS 14.0, *)) {
              [store requestFullAccessToEventsWithCompletion:handler];
              return;
            }
          }
          [store requestAccessToEntityType:EKEntityTypeEvent completion:handler];
        },
        [&](const std::string& reason) {
          // Answered on a thread of its own, as the framework answers.
          std::thread([answer, reason] { (*answer)(false, StoreError{reason}); }).detach();
        });
  }

  FrameworkStore framework_;
};

}  // namespace

std::optional<std::string> systemStoreProblem() {
  return std::nullopt;  // the system's store is always where the system keeps it
}

std::unique_ptr<CalendarStore> createSystemStore() {
  return std::make_unique<EventKitStore>();
}

}  // namespace tembra
