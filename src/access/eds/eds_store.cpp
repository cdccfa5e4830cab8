// The EDS store's answers to the store interface, through libecal and libedataserver.
#include "access/eds/eds_store.h"

#include <libecal/libecal.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <map>
#include <set>
#include <thread>

#include "access/authorization_state.h"
#include "access/calendar_text.h"
#include "access/eds/budget.h"
#include "access/eds/calendar_reads.h"
#include "access/eds/calendar_registry.h"
#include "access/eds/calendar_writes.h"
#include "access/eds/glib_handles.h"
#include "access/eds/identifiers.h"
#include "access/eds/series.h"
#include "access/eds/store_messages.h"
#include "access/eds/times.h"
#include "records/utf8.h"

namespace tembra::eds {
namespace {

Instant currentSecond() {
  return Instant{static_cast<double>(std::time(nullptr))};
}

std::string newUid() {
  const Text uid(g_uuid_string_random());
  return uid.get();
}

// The occurrence an event stands for: its place in a repeating series, else the one event.
std::optional<Occurrence> occurrenceOf(const Series& series, const Event& event) {
  if (series.repeats() && event.occurrenceDate)
    return series.occurrenceAt(*event.occurrenceDate);
  return series.first();
}

// The series changed for every occurrence from `named` on: its rule when the change set names
// one, then the fields the change set names, each occurrence's dates moved as far as `named`'s.
// `landed` becomes the original start of the occurrence `named` became (none when the series no
// longer repeats). None when EDS would not keep the change.
std::optional<Components> changedWhole(const Series& series, const Event& event,
                                       const Occurrence& named, Instant now,
                                       std::optional<Instant>& landed) {
  std::optional<Series> ruled;
  std::optional<Occurrence> at = named;
  if (event.changes && event.changes->recurrenceRule) {
    auto components = series.withRule(event.recurrenceRule.value_or(""), now);
    ruled = components ? Series::of(std::move(*components), series.zones()) : std::nullopt;
    if (!ruled)
      return std::nullopt;
    at = ruled->repeats() ? ruled->occurrenceAt(named.originalStart) : std::nullopt;
    if (!at)
      at = ruled->first();
    if (!at)
      return std::nullopt;
  }
  const Series& changing = ruled ? *ruled : series;
  landed.reset();
  if (changing.repeats())
    landed = at->originalStart + occurrenceShift(event, changing.eventAt(*at)).start;
  return changing.changedWhole(event, *at, now);
}

class EdsStore final : public CalendarStore {
 public:
  EdsStore() : local_(localZone()), budget_(kRunBudget) {}

  // Granted when the registry answers on the session bus; `status` asks no more than that.
  int authorizationStatus(EntityType) override {
    return statusCode(calendars_.reachable() ? AuthorizationState::fullAccess
                                             : AuthorizationState::restricted);
  }

  // EDS asks the user nothing: the answer is what the status already says.
  void requestFullAccessToEvents(AccessCompletion completion) override {
    answer(std::move(completion));
  }
  void requestAccess(EntityType, AccessCompletion completion) override {
    answer(std::move(completion));
  }
  void accessGranted() override {}

  Answer<std::vector<Calendar>> calendars(EntityType) override {
    return answer([&] { return calendars_.all(); });
  }

  Answer<std::optional<Calendar>> defaultCalendarForNewEvents() override {
    return answer([&] { return calendars_.defaultCalendar(); });
  }

  Answer<std::optional<Calendar>> calendarWithIdentifier(const std::string& identifier) override {
    return answer([&] { return calendars_.at(identifier); });
  }

  Answer<std::optional<Event>> eventWithIdentifier(const std::string& identifier) override {
    return answer([&]() -> std::optional<Event> {
      const auto key = parseEventIdentifier(identifier);
      const auto calendar = key ? calendars_.at(key->calendar) : std::nullopt;
      const auto series = calendar ? seriesOf(key->calendar, key->uid) : std::nullopt;
      const auto first = series ? series->first() : std::nullopt;
      if (!first)
        return std::nullopt;
      return eventFrom(*series, *first, *calendar);
    });
  }

  Answer<std::optional<Event>> occurrenceWithIdentifier(const std::string& identifier,
                                                        Instant occurrenceDate) override {
    return answer([&]() -> std::optional<Event> {
      const auto key = parseEventIdentifier(identifier);
      const auto calendar = key ? calendars_.at(key->calendar) : std::nullopt;
      const auto series = calendar ? seriesOf(key->calendar, key->uid) : std::nullopt;
      if (!series)
        return std::nullopt;
      // iCalendar holds whole seconds.
      const Instant at{std::round(occurrenceDate.seconds)};
      const auto occurrence = series->repeats() ? series->occurrenceAt(at) : series->first();
      if (!occurrence || (!series->repeats() && occurrence->start != at))
        return std::nullopt;
      return eventFrom(*series, *occurrence, *calendar);
    });
  }

  Answer<std::vector<Event>> eventsMatching(const EventPredicate& predicate) override {
    return eventWindow(predicate).then([](EventWindow window) { return window.expanded(); });
  }

  Answer<EventWindow> eventWindow(const EventPredicate& predicate) override {
    return answer([&] { return windowOf(predicate); });
  }

  bool canKeep(const Event& event) override { return canHold(event); }

  std::optional<std::string> ruleProblem(const std::string& rule) override {
    return eds::ruleProblem(rule);
  }

  Event newEvent() override { return Event{}; }

  std::optional<StoreError> saveEvent(Event& event, Span span) override {
    readFailure_.reset();
    return unlessUnread(saveNow(event, span));
  }

  std::optional<StoreError> removeEvent(const Event& event, Span span) override {
    readFailure_.reset();
    return unlessUnread(removeNow(event, span));
  }

 private:
  std::optional<StoreError> saveNow(Event& event, Span span) {
    if (!event.calendar)
      return StoreError{kNoSuchCalendar};
    const std::string target = event.calendar->calendarIdentifier;
    if (!calendars_.has(target))
      return StoreError{kNoSuchCalendar};
    ECalClient* targetClient = calendars_.client(target);
    if (!targetClient)
      return calendars_.unopened(target);
    const Instant now = currentSecond();

    if (!event.eventIdentifier) {
      const std::string uid = newUid();
      const Ref<ICalComponent> component = newComponent(uid, event, zonesOf(targetClient), now);
      // A repeating event, from its start.
      if (event.recurrenceRule && !event.recurrenceRule->empty() &&
          !setRule(component.get(), *event.recurrenceRule, zonesOf(targetClient))) {
        return StoreError{kUnkeptChange};
      }
      if (auto error = writesTo(targetClient).create(component.get()))
        return StoreError{*error};
      readBack(event, target, uid, std::nullopt, now);
      return std::nullopt;
    }

    const auto key = parseEventIdentifier(*event.eventIdentifier);
    ECalClient* sourceClient =
        key && calendars_.has(key->calendar) ? calendars_.client(key->calendar) : nullptr;
    const auto series = sourceClient ? seriesOf(key->calendar, key->uid) : std::nullopt;
    const auto occurrence = series ? occurrenceOf(*series, event) : std::nullopt;
    if (!occurrence)
      return kGone;
    const bool ruleChanged = event.changes && event.changes->recurrenceRule;
    if (series->repeats() && (span == Span::futureEvents || ruleChanged)) {
      return saveReaching(event, *key, *series, *occurrence, span == Span::futureEvents,
                          targetClient, now);
    }
    std::optional<Event> stored = series->eventAt(*occurrence);
    // The fields the request set, onto the event as the calendar holds it now, read again just
    // before the modify: EDS has no compare-and-swap, so only a change another client makes
    // between these two calls can still be lost.
    Event changed = withChangesOf(event, *stored);
    changed.eventIdentifier = event.eventIdentifier;
    changed.calendar = event.calendar;
    event = std::move(changed);
    Draft draft = series->draftFor(*occurrence);
    if (draft.newInstance)
      stored->startDate.reset();  // a new instance's dates are still the master's: write them
    // A single event given a rule becomes a series from its start.
    std::optional<std::string> rule;
    if (ruleChanged && event.recurrenceRule && !event.recurrenceRule->empty())
      rule = event.recurrenceRule;

    if (target == key->calendar) {
      // One occurrence of a series becomes (or stays) a detached instance of it.
      writeEvent(draft.component.get(), event, stored, series->zones(), now);
      if (rule && !setRule(draft.component.get(), *rule, series->zones()))
        return StoreError{kUnkeptChange};
      if (auto error =
              writesTo(sourceClient)
                  .modify(draft.component.get(), rule ? E_CAL_OBJ_MOD_ALL : E_CAL_OBJ_MOD_THIS)) {
        return StoreError{*error};
      }
      const auto original =
          series->repeats() ? std::optional<Instant>(occurrence->originalStart) : std::nullopt;
      readBack(event, target, key->uid, original, now);
      return std::nullopt;
    }
    return move(event, *key, *series, *occurrence, std::move(draft), *stored, rule, targetClient,
                now);
  }

  std::optional<StoreError> removeNow(const Event& event, Span span) {
    const auto key =
        event.eventIdentifier ? parseEventIdentifier(*event.eventIdentifier) : std::nullopt;
    if (!key)
      return kGone;
    if (!calendars_.has(key->calendar))
      return kGone;  // with its calendar: nothing left to remove
    ECalClient* calendarClient = calendars_.client(key->calendar);
    if (!calendarClient)
      return calendars_.unopened(key->calendar);
    const auto series = seriesOf(key->calendar, key->uid);
    if (!series)
      return kGone;
    if (!series->repeats()) {
      if (auto error = writesTo(calendarClient).remove(key->uid, std::nullopt))
        return StoreError{*error};
      return std::nullopt;
    }
    const auto occurrence = occurrenceOf(*series, event);
    if (!occurrence)
      return kGone;
    if (span == Span::thisEvent) {
      if (auto error = removeOccurrence(calendarClient, *key, *series, *occurrence))
        return StoreError{*error};
      return std::nullopt;
    }
    // It and those after it: from the first, the whole series. EDS's own removal of this and the
    // future occurrences leaves the master out of the file back-end's file (docs/eds.md), so the
    // series is ended by a change to every occurrence instead.
    const auto firstOne = series->first();
    std::optional<std::string> error;
    if (!firstOne || firstOne->originalStart == occurrence->originalStart) {
      error = writesTo(calendarClient).remove(key->uid, std::nullopt);
    } else {
      error = writesTo(calendarClient)
                  .writeSeries(*series,
                               series->endedBefore(occurrence->originalStart, currentSecond()));
      const auto rest = error ? std::nullopt : seriesOf(key->calendar, key->uid);
      if (rest && !rest->first())
        error = writesTo(calendarClient).remove(key->uid, std::nullopt);
    }
    if (error)
      return StoreError{*error};
    return std::nullopt;
  }

  // Moves an event to another calendar: it is created there first and then removed from its old
  // calendar, and should the removal fail, the new copy is removed again, so that a failure leaves
  // the event in one calendar. One occurrence of a series becomes an event of its own there; a
  // single event keeps its UID unless the other calendar holds that UID already.
  std::optional<StoreError> move(Event& event, const EventKey& key, const Series& series,
                                 const Occurrence& occurrence, Draft draft, const Event& stored,
                                 const std::optional<std::string>& rule, ECalClient* targetClient,
                                 Instant now) {
    const std::string target = event.calendar->calendarIdentifier;
    ICalComponent* component = draft.component.get();
    std::string uid = key.uid;
    if (series.repeats()) {
      uid = newUid();
      removeAll(component, I_CAL_RECURRENCEID_PROPERTY);
    } else if (!components(targetClient, uid).empty()) {
      uid = newUid();
    }
    i_cal_component_set_uid(component, uid.c_str());
    writesTo(targetClient).addZones(series.zones(), component);
    writeEvent(component, event, stored, series.zones(), now);
    if (rule && !setRule(component, *rule, series.zones()))
      return StoreError{kUnkeptChange};
    if (auto error = writesTo(targetClient).create(component))
      return StoreError{*error};
    ECalClient* sourceClient = calendars_.client(key.calendar);
    const std::optional<std::string> removal =
        series.repeats() ? removeOccurrence(sourceClient, key, series, occurrence)
                         : writesTo(sourceClient).remove(key.uid, std::nullopt);
    if (removal) {
      writesTo(targetClient).remove(uid, std::nullopt);
      return StoreError{*removal};
    }
    readBack(event, target, uid, std::nullopt, now);
    return std::nullopt;
  }

  // A save that reaches the occurrences from `named` on. From the first that is every occurrence:
  // the series is changed whole, and moves whole. From a later one the series is split there: the
  // later part becomes a series of its own (a new UID), changed whole, in the calendar the event
  // goes to, and the series left behind ends before it; the event then names the later part.
  // EDS's own E_CAL_OBJ_MOD_THIS_AND_FUTURE is not used: it names the new part by a UID of its
  // own choosing and drops the detached instances after the split (docs/eds.md).
  std::optional<StoreError> saveReaching(Event& event, const EventKey& key, const Series& series,
                                         const Occurrence& named, bool future,
                                         ECalClient* targetClient, Instant now) {
    const std::string target = event.calendar->calendarIdentifier;
    const auto firstOne = series.first();
    const bool split =
        future && series.hasMaster() && firstOne && firstOne->originalStart != named.originalStart;
    std::string uid = key.uid;
    std::optional<Series> part;
    if (split) {
      uid = newUid();
      auto components = series.partFrom(named.originalStart, uid, now);
      part = components ? Series::of(std::move(*components), series.zones()) : std::nullopt;
      if (!part)
        return StoreError{kUnkeptChange};
    }
    const Series& changing = part ? *part : series;
    const auto from = split ? changing.occurrenceAt(named.originalStart) : named;
    if (!from)
      return kGone;
    std::optional<Instant> landed;
    auto changed = changedWhole(changing, event, *from, now, landed);
    if (!changed)
      return StoreError{kUnkeptChange};

    ECalClient* sourceClient = calendars_.client(key.calendar);
    if (split) {
      // The later part first; should the series it leaves not end, the part goes again.
      if (auto error = writesTo(targetClient).createSeries(series.zones(), *changed))
        return StoreError{*error};
      if (auto error = writesTo(sourceClient)
                           .writeSeries(series, series.endedBefore(named.originalStart, now))) {
        writesTo(targetClient).remove(uid, std::nullopt);
        return StoreError{*error};
      }
    } else if (target == key.calendar) {
      if (auto error = writesTo(sourceClient).writeSeries(series, *changed))
        return StoreError{*error};
    } else {
      // Created there first and then removed here, keeping its UID unless that calendar holds it.
      if (!components(targetClient, uid).empty()) {
        uid = newUid();
        for (const Ref<ICalComponent>& component : *changed)
          i_cal_component_set_uid(component.get(), uid.c_str());
      }
      if (auto error = writesTo(targetClient).createSeries(series.zones(), *changed))
        return StoreError{*error};
      if (auto error = writesTo(sourceClient).remove(key.uid, std::nullopt)) {
        writesTo(targetClient).remove(uid, std::nullopt);
        return StoreError{*error};
      }
    }
    readBack(event, target, uid, landed, now);
    return std::nullopt;
  }

  // Removes one occurrence: EDS adds an EXDATE and drops its detached instance. A series with no
  // occurrence left is removed whole.
  std::optional<std::string> removeOccurrence(ECalClient* calendarClient, const EventKey& key,
                                              const Series& series, const Occurrence& occurrence) {
    if (auto error = writesTo(calendarClient).remove(key.uid, series.recurrenceIdOf(occurrence)))
      return error;
    const auto rest = seriesOf(key.calendar, key.uid);
    if (rest && !rest->first())
      return writesTo(calendarClient).remove(key.uid, std::nullopt);
    return std::nullopt;
  }

  // The event as the calendar now holds it: its identifier, calendar and modification time as
  // stored. Should it not be found again, the event keeps what was saved.
  void readBack(Event& event, const std::string& calendar, const std::string& uid,
                const std::optional<Instant>& originalStart, Instant now) {
    const auto series = seriesOf(calendar, uid);
    auto occurrence = series && originalStart ? series->occurrenceAt(*originalStart) : std::nullopt;
    if (series && !occurrence)
      occurrence = series->first();
    const auto target = calendars_.at(calendar);
    if (series && occurrence && target) {
      event = eventFrom(*series, *occurrence, *target);
      return;
    }
    event.eventIdentifier = eventIdentifier({calendar, uid});
    event.lastModifiedDate = now;
  }

  Event eventFrom(const Series& series, const Occurrence& occurrence, const Calendar& calendar) {
    Event event = series.eventAt(occurrence);
    event.eventIdentifier = eventIdentifier({calendar.calendarIdentifier, series.uid()});
    event.calendar = calendar;
    return event;
  }

  CalendarWrites writesTo(ECalClient* calendarClient) {
    return CalendarWrites(calendarClient, budget_);
  }

  Zones zonesOf(ECalClient* calendarClient) {
    return Zones(calendarClient, local_, budget_.cancellable());
  }

  // The components of one UID (the master and its detached instances), as the calendar holds them
  // now, not as its index of time ranges has them.
  std::vector<Ref<ICalComponent>> components(ECalClient* calendarClient, const std::string& uid) {
    return componentsOf(calendarClient, uid, budget_.cancellable(), readFailure_);
  }

  // What `find` finds, unless a read of it failed: a lookup that met a failure cannot answer.
  template <typename Find>
  auto answer(const Find& find) -> Answer<decltype(find())> {
    readFailure_.reset();
    auto found = find();
    if (readFailure_)
      return StoreError{*readFailure_};
    return found;
  }

  // A write that met a failed read cannot tell "not there" or "no such calendar".
  std::optional<StoreError> unlessUnread(std::optional<StoreError> error) const {
    if (error && readFailure_)
      return StoreError{*readFailure_};
    return error;
  }

  // Each series once, with its occurrences as dates: the occurrences of the rule share one event
  // (one per length, as an alarm related to the end depends on it), and each detached instance
  // has its own.
  EventWindow windowOf(const EventPredicate& predicate) {
    const std::vector<Calendar> calendars =
        predicate.calendars ? *predicate.calendars : calendars_.all();
    EventWindow window;
    for (const Calendar& calendar : calendars) {
      // A calendar that did not open in time is left out of a list of every calendar, as it is
      // of `calendars`; a list of it alone cannot be answered.
      if (!predicate.calendars && !calendars_.client(calendar.calendarIdentifier))
        continue;
      const CalendarRef shared(calendar);
      for (const Series& series :
           seriesIn(calendar.calendarIdentifier, predicate.startDate, predicate.endDate)) {
        const std::string id = eventIdentifier({calendar.calendarIdentifier, series.uid()});
        std::map<std::pair<ICalComponent*, double>, std::uint32_t> shown;
        for (const Occurrence& occurrence :
             series.occurrences(predicate.startDate, predicate.endDate)) {
          const auto [entry, added] = shown.try_emplace(
              {occurrence.component, occurrence.end.seconds - occurrence.start.seconds},
              static_cast<std::uint32_t>(window.events.size()));
          if (added) {
            Event& event = window.events.emplace_back(series.eventAt(occurrence));
            event.eventIdentifier = id;
            event.calendar = shared;
          }
          const auto original =
              series.repeats() ? std::optional<Instant>(occurrence.originalStart) : std::nullopt;
          window.occurrences.push_back(
              {occurrence.start, occurrence.end, original, entry->second, occurrence.detached});
        }
      }
    }
    sortInWindowOrder(window);
    return window;
  }

  std::vector<Series> seriesIn(const std::string& calendar, Instant from, Instant to) {
    ECalClient* calendarClient = calendars_.client(calendar);
    if (!calendarClient) {
      noteUnopened(calendar);
      return {};
    }
    return seriesInWindow(calendarClient, zonesOf(calendarClient), from, to, budget_.cancellable(),
                          readFailure_);
  }

  std::optional<Series> seriesOf(const std::string& calendar, const std::string& uid) {
    ECalClient* calendarClient = calendars_.client(calendar);
    if (!calendarClient) {
      noteUnopened(calendar);
      return std::nullopt;
    }
    return Series::of(components(calendarClient, uid), zonesOf(calendarClient));
  }

  // A calendar that exists but was not opened cannot say what it holds.
  void noteUnopened(const std::string& uid) {
    if (!readFailure_ && calendars_.has(uid))
      readFailure_ = calendars_.unopened(uid).description;
  }

  // The completion runs on a thread of its own, as the platform's does.
  void answer(AccessCompletion completion) {
    const bool granted = calendars_.reachable();
    std::thread([completion = std::move(completion), granted] {
      completion(granted, std::nullopt);
    }).detach();
  }

  ICalTimezone* local_;
  Budget budget_;
  CalendarRegistry calendars_{budget_};
  // The first failure of a read since the lookup or write began.
  std::optional<std::string> readFailure_;
};

}  // namespace

std::unique_ptr<CalendarStore> createEdsStore() {
  return std::make_unique<EdsStore>();
}

}  // namespace tembra::eds
