// The calendar store as the commands see it: value types and the one store interface.
#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace tembra {

// A point on the UTC time line, in seconds since 1970-01-01T00:00:00Z; may hold fractions of
// a millisecond.
struct Instant {
  double seconds = 0;
  friend auto operator<=>(const Instant&, const Instant&) = default;
};

inline Instant operator+(Instant instant, double seconds) {
  return Instant{instant.seconds + seconds};
}

// A back-end's own object behind a value, kept for back-ends whose objects carry more than the
// value shows: the system store keeps its event object, so that a save changes the very object
// that was fetched. Empty for values that no back-end object stands behind, and for the events of a
// window (eventsMatching).
using NativeHandle = std::shared_ptr<void>;

// The only entity type the program asks for.
enum class EntityType { event = 0 };

// How far a save or removal reaches in a repeating event. Every occurrence of a series is the
// futureEvents span of its first occurrence.
enum class Span {
  thisEvent = 0,     // this occurrence only
  futureEvents = 1,  // this occurrence and those after it
};

// Why the store refused a write; the description is shown to the user as the store words it.
struct StoreError {
  std::string description;
  // The event is no longer there: another client removed or moved it since it was fetched.
  bool notFound = false;
};

// A store's answer to a lookup: what it found, which may be nothing (an empty list, an absent
// value), or why it could not answer at all (the calendar service failed, a folder could not be
// read). A failure is never an empty answer: the host would take it for "there is none".
template <typename T>
class Answer {
 public:
  Answer(T value) : answer_(std::move(value)) {}
  Answer(StoreError error) : answer_(std::move(error)) {}

  bool failed() const { return std::holds_alternative<StoreError>(answer_); }
  // Only when failed().
  const StoreError& error() const { return std::get<StoreError>(answer_); }
  // Only when not failed(); std::bad_variant_access otherwise.
  T& value() & { return std::get<T>(answer_); }
  const T& value() const& { return std::get<T>(answer_); }
  // Moved out of an answer about to go, so that `for (x : store.calendars(...).value())` is safe.
  T value() && { return std::get<T>(std::move(answer_)); }

  // The answer with `change` made to what it holds; a failure stays that failure.
  template <typename Change>
  auto then(Change&& change) && -> Answer<decltype(change(std::declval<T>()))> {
    if (failed())
      return error();
    return change(std::move(*this).value());
  }

 private:
  std::variant<T, StoreError> answer_;
};

// The account that holds calendars.
struct Source {
  std::string title;
};

struct Calendar {
  std::string calendarIdentifier;
  std::optional<std::string> title;
  std::optional<Source> source;
  // Colour components in their colour space's order, alpha last; absent when there is no colour.
  std::optional<std::vector<double>> color;
  bool allowsContentModifications = true;
};

// The calendar an event belongs to. Events share it rather than carry a copy each, as a list of
// thousands of events from a few calendars would; it converts from a calendar or an optional one.
class CalendarRef {
 public:
  CalendarRef() = default;
  CalendarRef(std::nullopt_t) {}
  CalendarRef(const Calendar& calendar) : calendar_(std::make_shared<const Calendar>(calendar)) {}
  CalendarRef(const std::optional<Calendar>& calendar)
      : calendar_(calendar ? std::make_shared<const Calendar>(*calendar) : nullptr) {}
  explicit CalendarRef(std::shared_ptr<const Calendar> calendar) : calendar_(std::move(calendar)) {}

  explicit operator bool() const { return calendar_ != nullptr; }
  bool has_value() const { return calendar_ != nullptr; }
  const Calendar& operator*() const { return *calendar_; }
  const Calendar* operator->() const { return calendar_.get(); }

 private:
  std::shared_ptr<const Calendar> calendar_;
};

struct Alarm {
  std::optional<Instant> absoluteDate;
  double relativeOffset = 0;  // seconds from the event's start; negative fires before it

  static Alarm withAbsoluteDate(Instant date) { return Alarm{date, 0}; }
  static Alarm withRelativeOffset(double seconds) { return Alarm{std::nullopt, seconds}; }
  friend bool operator==(const Alarm&, const Alarm&) = default;
};

// Which fields of an event a request set.
struct EventChanges {
  bool calendar = false;
  bool title = false;
  bool notes = false;
  bool location = false;
  bool startDate = false;
  bool endDate = false;
  bool allDay = false;
  bool alarms = false;
  bool recurrenceRule = false;
};

// One event, or one occurrence of a repeating event. Changes made here last only once the store
// has saved the event.
struct Event {
  std::optional<std::string> eventIdentifier;  // absent until the event is saved
  CalendarRef calendar;
  std::optional<std::string> title;
  std::optional<std::string> notes;
  std::optional<std::string> location;
  std::optional<Instant> startDate;  // a stored event always has both dates
  std::optional<Instant> endDate;
  bool isAllDay = false;
  std::vector<Alarm> alarms;
  std::optional<Instant> lastModifiedDate;
  std::optional<std::string> calendarItemExternalIdentifier;
  bool hasRecurrenceRules = false;
  bool isDetached = false;  // an occurrence changed on its own, apart from its series
  // Where this occurrence stands in its series when the rule alone places it; absent for an event
  // that does not repeat and for a new event.
  std::optional<Instant> occurrenceDate;
  // The series' rule as RRULE value text ("FREQ=WEEKLY;BYDAY=MO,WE;COUNT=10"), "" for a series
  // that repeats only by its dates; absent for an event that does not repeat. Setting it makes a
  // single event a series from its start; setting "" makes a series the single event of its first
  // occurrence, without its changed occurrences.
  std::optional<std::string> recurrenceRule;
  NativeHandle native;
  // The fields set through the setters below, as the framework's event objects record them: a
  // store saves exactly those onto the event as it stands when it saves, so that requests that
  // change different fields of one event at once all keep their change. Absent while no setter
  // was called; such a value (a new event, one built field by field) is saved whole.
  std::optional<EventChanges> changes;

  void setCalendar(CalendarRef value) {
    calendar = std::move(value);
    changed().calendar = true;
  }
  void setTitle(std::optional<std::string> value) {
    title = std::move(value);
    changed().title = true;
  }
  void setNotes(std::optional<std::string> value) {
    notes = std::move(value);
    changed().notes = true;
  }
  void setLocation(std::optional<std::string> value) {
    location = std::move(value);
    changed().location = true;
  }
  void setStartDate(Instant value) {
    startDate = value;
    changed().startDate = true;
  }
  void setEndDate(Instant value) {
    endDate = value;
    changed().endDate = true;
  }
  void setAllDay(bool value) {
    isAllDay = value;
    changed().allDay = true;
  }
  void setAlarms(std::vector<Alarm> value) {
    alarms = std::move(value);
    changed().alarms = true;
  }
  void setRecurrenceRule(std::string value) {
    recurrenceRule = std::move(value);
    changed().recurrenceRule = true;
  }

 private:
  EventChanges& changed() {
    if (!changes)
      changes.emplace();
    return *changes;
  }
};

// An event whose end lies before its start gets an end an hour after it: either date of an event
// may be changed alone.
inline constexpr double kRepairedDurationSeconds = 3600;

// `stored`, the event as the store now holds it, with the fields `changed` set taken from it
// (every field of a value saved whole); then an end left before the start is repaired.
Event withChangesOf(const Event& changed, Event stored);

// How far a change to every occurrence of a series moves each one: as far as it moves the
// occurrence the request named (`named`, as stored).
struct OccurrenceShift {
  double start = 0;  // seconds
  double end = 0;

  // `own`, another occurrence as stored, with the fields `changed` set and its dates moved as far.
  Event onto(const Event& changed, const Event& own) const;
};
OccurrenceShift occurrenceShift(const Event& changed, const Event& named);

// The events of a window with what occurrences share held once: the occurrences of a repeating
// event differ only in their dates, so a year of a weekly series is one event and fifty dates.
struct EventWindow {
  // One occurrence as the window lists it: its own dates, and the event that holds the rest.
  struct Entry {
    std::optional<Instant> startDate;
    std::optional<Instant> endDate;
    std::optional<Instant> occurrenceDate;
    std::uint32_t event = 0;  // its index in `events`
    bool isDetached = false;
  };
  // Every field but the dates of an occurrence; their own dates are those of one of them.
  std::vector<Event> events;
  std::vector<Entry> occurrences;  // in the store's order

  // One event per occurrence, as eventsMatching gives them.
  static EventWindow of(std::vector<Event> events);
  std::vector<Event> expanded() const;
};

// Events in the order the stores answer a window in: by start, then end, then identifier, each
// tie kept in the order it came.
void sortInWindowOrder(std::vector<Event>& events);
// The occurrences of a window in that order.
void sortInWindowOrder(EventWindow& window);

using AccessCompletion = std::function<void(bool granted, std::optional<StoreError> error)>;

// A window over the events of some calendars (all of them when the list is absent).
struct EventPredicate {
  Instant startDate;
  Instant endDate;
  std::optional<std::vector<Calendar>> calendars;
};

// The operations the commands use. A back-end never ends the process: refusals come back as
// StoreError values, and anything it cannot find is simply absent. A failure raised inside a
// framework the back-end calls, or an error of the files or the service behind it, becomes a
// refused write or, for a lookup, a failed Answer: never "nothing found".
class CalendarStore {
 public:
  virtual ~CalendarStore() = default;

  // The status code of the authorization state for events (statusCode of an AuthorizationState;
  // other codes are possible, and one the store cannot read is kNoStateCode). Asks the user
  // nothing.
  virtual int authorizationStatus(EntityType type) = 0;
  // Ask for full access to events. The completion runs once, on a thread other than the caller's,
  // possibly after the caller has stopped waiting.
  virtual void requestFullAccessToEvents(AccessCompletion completion) = 0;
  // The same question as asked before full access existed.
  virtual void requestAccess(EntityType type, AccessCompletion completion) = 0;
  // Called on the thread that asked, once a request of this run was answered "granted" and before
  // anything is read: a store whose view was made before the grant brings it up to date here (the
  // system's store otherwise keeps the empty view it had without access). Not called when access
  // was already granted, nor after a refusal or an answer that came too late.
  virtual void accessGranted() = 0;

  // Every calendar of the type, writable or not, in the store's order.
  virtual Answer<std::vector<Calendar>> calendars(EntityType type) = 0;
  virtual Answer<std::optional<Calendar>> defaultCalendarForNewEvents() = 0;
  virtual Answer<std::optional<Calendar>> calendarWithIdentifier(const std::string& identifier) = 0;
  // The event, or for a repeating event its first occurrence.
  virtual Answer<std::optional<Event>> eventWithIdentifier(const std::string& identifier) = 0;
  // One occurrence of the event by its original start (its occurrenceDate): none when the series
  // has no occurrence that starts there, changed or not. An event that does not repeat is its own
  // occurrence at its start.
  virtual Answer<std::optional<Event>> occurrenceWithIdentifier(const std::string& identifier,
                                                                Instant occurrenceDate) = 0;

  EventPredicate predicateForEvents(Instant start, Instant end,
                                    std::optional<std::vector<Calendar>> calendars) const {
    return EventPredicate{start, end, std::move(calendars)};
  }
  // Every event and every occurrence that overlaps the window, in the store's order. The events
  // are for reading: they carry no native handle, so a long window keeps no back-end object alive;
  // to change one, fetch it with eventWithIdentifier.
  virtual Answer<std::vector<Event>> eventsMatching(const EventPredicate& predicate) = 0;
  // The same events and order, each shared part once. A store that holds its events that way
  // says so here; by default each event stands alone.
  virtual Answer<EventWindow> eventWindow(const EventPredicate& predicate) {
    return eventsMatching(predicate).then(EventWindow::of);
  }

  // A new, unsaved event bound to this store.
  virtual Event newEvent() = 0;
  // Whether the store can keep the event's dates and alarms as they stand, so that it reads back
  // as it is saved; the commands refuse input it cannot keep before they save. A store whose
  // dates reach as far as any input does need not say.
  virtual bool canKeep(const Event&) { return true; }
  // Why the store cannot keep a recurrence rule (RRULE value text, already known to be one), in
  // words for the user; none when it can. "" (no rule) is always kept.
  virtual std::optional<std::string> ruleProblem(const std::string&) { return std::nullopt; }
  // On success the event carries its identifier, calendar and modification time as stored.
  [[nodiscard]] virtual std::optional<StoreError> saveEvent(Event& event, Span span) = 0;
  [[nodiscard]] virtual std::optional<StoreError> removeEvent(const Event& event, Span span) = 0;
};

}  // namespace tembra
