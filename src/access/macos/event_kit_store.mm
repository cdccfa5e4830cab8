// The system calendar store on macOS: the calendar framework's event store behind the store
// interface. Framework objects become the interface's values in framework_values.mm and nowhere
// else.
#import <EventKit/EventKit.h>
#import <Foundation/Foundation.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "access/authorization_state.h"
#include "access/calendar_store.h"
#include "access/event_pieces.h"
#include "access/framework_series.h"
#include "access/macos/framework_values.h"
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

class EventKitStore final : public CalendarStore {
 public:
  int authorizationStatus(EntityType) override {
    return FrameworkStore::guarded(
        [] {
          return static_cast<int>(
              [EKEventStore authorizationStatusForEntityType:EKEntityTypeEvent]);
        },
        [](const std::string&) { return kNoStateCode; });
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
