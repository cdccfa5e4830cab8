// The EDS store's answers to the store interface, through libecal and libedataserver.
#include "access/eds/eds_store.h"

#include <libecal/libecal.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <map>
#include <set>
#include <thread>

#include "access/calendar_text.h"
#include "access/eds/budget.h"
#include "access/eds/bus.h"
#include "access/eds/connecting.h"
#include "access/eds/glib_handles.h"
#include "access/eds/identifiers.h"
#include "access/eds/series.h"
#include "access/eds/times.h"
#include "records/utf8.h"

namespace tembra::eds {
namespace {

constexpr int kRestricted = 1;
constexpr int kFullAccess = 3;

// The store's descriptions of writes it refuses itself; EDS's own refusals carry its words.
const std::string kNoSuchEvent = "事件不存在或已删除";
const std::string kNoSuchCalendar = "日历不存在或已删除";
const std::string kUnkeptChange = "日历服务无法保存这个更改";
// An event that is no longer there, since another client removed or moved it.
const StoreError kGone{kNoSuchEvent, true};
// A write the run's budget cut short: EDS may still carry it out.
const std::string kLate = "日历服务没有在限定时间内应答，这次更改可能稍后仍会生效";
// A read EDS failed (over D-Bus, or in the calendar's back-end), followed by its words.
const std::string kReadFailed = "日历服务读取失败: ";

// The time-range query is asked for a little more than the window: the calendar reads all-day
// dates in its own zone, and the exact window is applied to the occurrences afterwards.
constexpr double kQueryMargin = 2 * 86400;

// From this many series to read again, one pass over the calendar costs less than a look-up each
// (docs/performance.md).
constexpr std::size_t kOnePassFrom = 8;

Instant currentSecond() {
  return Instant{static_cast<double>(std::time(nullptr))};
}

std::string newUid() {
  const Text uid(g_uuid_string_random());
  return uid.get();
}

// Times outside years 0001 to 9999 have no iCalendar text: a query with one would find nothing.
std::string rangeQuery(Instant from, Instant to) {
  const Instant start = std::max(from + -kQueryMargin, kEarliest);
  const Instant end = std::min(to + kQueryMargin, Instant{253402300799});  // 9999-12-31T23:59:59Z
  return "(occur-in-time-range? (make-time \"" + timeText(utcTime(start)) + "\") (make-time \"" +
         timeText(utcTime(end)) + "\"))";
}

// Keeps the first failure of a read in `failure`: none that says only that nothing is there.
void noteFailure(GError* error, std::optional<std::string>& failure) {
  if (!error || failure ||
      g_error_matches(error, E_CAL_CLIENT_ERROR, E_CAL_CLIENT_ERROR_OBJECT_NOT_FOUND)) {
    return;
  }
  failure = kReadFailed + repairUtf8(error->message ? error->message : "");
}

// What the calendar returns for a query; a query that fails finds nothing and says why in
// `failure`.
std::vector<Ref<ICalComponent>> query(ECalClient* client, const std::string& sexp,
                                      GCancellable* cancellable,
                                      std::optional<std::string>& failure) {
  GSList* found = nullptr;
  GError* raw = nullptr;
  e_cal_client_get_object_list_sync(client, sexp.c_str(), &found, cancellable, &raw);
  const std::unique_ptr<GError, ErrorFree> error(raw);
  noteFailure(error.get(), failure);
  return takeAll<ICalComponent>(found);
}

// The components of one UID, the master and its detached instances, as the calendar holds them
// now: an exact look-up in the calendar's table of UIDs. A query by UID would be evaluated against
// every component of the calendar, and match regardless of case.
std::vector<Ref<ICalComponent>> componentsOf(ECalClient* client, const std::string& uid,
                                             GCancellable* cancellable,
                                             std::optional<std::string>& failure) {
  GSList* found = nullptr;
  GError* raw = nullptr;
  e_cal_client_get_objects_for_uid_sync(client, uid.c_str(), &found, cancellable, &raw);
  const std::unique_ptr<GError, ErrorFree> error(raw);
  noteFailure(error.get(), failure);
  std::vector<Ref<ICalComponent>> components;
  for (const Ref<ECalComponent>& component : takeAll<ECalComponent>(found)) {
    components.emplace_back(
        I_CAL_COMPONENT(g_object_ref(e_cal_component_get_icalcomponent(component.get()))));
  }
  return components;
}

const char* uidOf(ICalComponent* component) {
  const char* uid = i_cal_component_get_uid(component);
  return uid ? uid : "";
}

bool repeatsOrDetached(ICalComponent* component) {
  return e_cal_util_component_has_recurrences(component) ||
         e_cal_util_component_is_instance(component);
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

// The text EDS files a component under among those of its UID: its RECURRENCE-ID, "" for the
// master.
std::string recurrenceIdText(ICalComponent* component) {
  const auto id = timeOf(component, I_CAL_RECURRENCEID_PROPERTY);
  return id ? timeText(*id) : std::string();
}

std::string componentText(ICalComponent* component) {
  const Text text(i_cal_component_as_ical_string(component));
  return text ? std::string(text.get()) : std::string();
}

class EdsStore final : public CalendarStore {
 public:
  EdsStore() : local_(localZone()), budget_(kRunBudget) {}

  // Granted when the registry answers on the session bus; `status` asks no more than that.
  int authorizationStatus(EntityType) override { return reachable() ? kFullAccess : kRestricted; }

  // EDS asks the user nothing: the answer is what the status already says.
  void requestFullAccessToEvents(AccessCompletion completion) override {
    answer(std::move(completion));
  }
  void requestAccess(EntityType, AccessCompletion completion) override {
    answer(std::move(completion));
  }
  void accessGranted() override {}

  Answer<std::vector<Calendar>> calendars(EntityType) override {
    return answer([&] { return allCalendars(); });
  }

  Answer<std::optional<Calendar>> defaultCalendarForNewEvents() override {
    return answer([&] { return defaultCalendar(); });
  }

  Answer<std::optional<Calendar>> calendarWithIdentifier(const std::string& identifier) override {
    return answer([&] { return calendarAt(identifier); });
  }

  Answer<std::optional<Event>> eventWithIdentifier(const std::string& identifier) override {
    return answer([&]() -> std::optional<Event> {
      const auto key = parseEventIdentifier(identifier);
      const auto calendar = key ? calendarAt(key->calendar) : std::nullopt;
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
      const auto calendar = key ? calendarAt(key->calendar) : std::nullopt;
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
    Answer<EventWindow> window = eventWindow(predicate);
    if (window.failed())
      return window.error();
    return window.value().expanded();
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
    if (!calendarSource(target))
      return StoreError{kNoSuchCalendar};
    ECalClient* targetClient = client(target);
    if (!targetClient)
      return unopened(target);
    const Instant now = currentSecond();

    if (!event.eventIdentifier) {
      const std::string uid = newUid();
      const Ref<ICalComponent> component = newComponent(uid, event, zonesOf(targetClient), now);
      // A repeating event, from its start.
      if (event.recurrenceRule && !event.recurrenceRule->empty() &&
          !setRule(component.get(), *event.recurrenceRule, zonesOf(targetClient))) {
        return StoreError{kUnkeptChange};
      }
      if (auto error = create(targetClient, component.get()))
        return StoreError{*error};
      readBack(event, target, uid, std::nullopt, now);
      return std::nullopt;
    }

    const auto key = parseEventIdentifier(*event.eventIdentifier);
    ECalClient* sourceClient =
        key && calendarSource(key->calendar) ? client(key->calendar) : nullptr;
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
      if (auto error = modify(sourceClient, draft.component.get(),
                              rule ? E_CAL_OBJ_MOD_ALL : E_CAL_OBJ_MOD_THIS)) {
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
    if (!calendarSource(key->calendar))
      return kGone;  // with its calendar: nothing left to remove
    ECalClient* calendarClient = client(key->calendar);
    if (!calendarClient)
      return unopened(key->calendar);
    const auto series = seriesOf(key->calendar, key->uid);
    if (!series)
      return kGone;
    if (!series->repeats()) {
      if (auto error = remove(calendarClient, key->uid, std::nullopt))
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
      error = remove(calendarClient, key->uid, std::nullopt);
    } else {
      error = writeSeries(calendarClient, *series,
                          series->endedBefore(occurrence->originalStart, currentSecond()));
      const auto rest = error ? std::nullopt : seriesOf(key->calendar, key->uid);
      if (rest && !rest->first())
        error = remove(calendarClient, key->uid, std::nullopt);
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
    addZones(targetClient, series.zones(), component);
    writeEvent(component, event, stored, series.zones(), now);
    if (rule && !setRule(component, *rule, series.zones()))
      return StoreError{kUnkeptChange};
    if (auto error = create(targetClient, component))
      return StoreError{*error};
    ECalClient* sourceClient = client(key.calendar);
    const std::optional<std::string> removal =
        series.repeats() ? removeOccurrence(sourceClient, key, series, occurrence)
                         : remove(sourceClient, key.uid, std::nullopt);
    if (removal) {
      remove(targetClient, uid, std::nullopt);
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

    ECalClient* sourceClient = client(key.calendar);
    if (split) {
      // The later part first; should the series it leaves not end, the part goes again.
      if (auto error = createSeries(targetClient, series.zones(), *changed))
        return StoreError{*error};
      if (auto error =
              writeSeries(sourceClient, series, series.endedBefore(named.originalStart, now))) {
        remove(targetClient, uid, std::nullopt);
        return StoreError{*error};
      }
    } else if (target == key.calendar) {
      if (auto error = writeSeries(sourceClient, series, *changed))
        return StoreError{*error};
    } else {
      // Created there first and then removed here, keeping its UID unless that calendar holds it.
      if (!components(targetClient, uid).empty()) {
        uid = newUid();
        for (const Ref<ICalComponent>& component : *changed)
          i_cal_component_set_uid(component.get(), uid.c_str());
      }
      if (auto error = createSeries(targetClient, series.zones(), *changed))
        return StoreError{*error};
      if (auto error = remove(sourceClient, key.uid, std::nullopt)) {
        remove(targetClient, uid, std::nullopt);
        return StoreError{*error};
      }
    }
    readBack(event, target, uid, landed, now);
    return std::nullopt;
  }

  // Writes the components of a series over what the calendar holds of it (`before`): the master
  // as the series (E_CAL_OBJ_MOD_ALL, which keeps the detached instances as they are), each
  // detached instance that changed or is new (E_CAL_OBJ_MOD_THIS), then removes the instances
  // `after` no longer has (E_CAL_OBJ_MOD_ONLY_THIS: no EXDATE). An instance whose RECURRENCE-ID
  // moved is a new one, and its old one goes.
  std::optional<std::string> writeSeries(ECalClient* calendarClient, const Series& before,
                                         const Components& after) {
    std::map<std::string, std::string> was;
    for (const Ref<ICalComponent>& component : before.copies())
      was.emplace(recurrenceIdText(component.get()), componentText(component.get()));
    std::set<std::string> kept;
    for (const Ref<ICalComponent>& component : after) {
      const std::string id = recurrenceIdText(component.get());
      kept.insert(id);
      if (!id.empty()) {
        if (const auto entry = was.find(id);
            entry != was.end() && entry->second == componentText(component.get())) {
          continue;
        }
      }
      if (auto error = modify(calendarClient, component.get(),
                              id.empty() ? E_CAL_OBJ_MOD_ALL : E_CAL_OBJ_MOD_THIS)) {
        return error;
      }
    }
    for (const std::string& id : before.recurrenceIds()) {
      if (kept.contains(id))
        continue;
      if (auto error = remove(calendarClient, before.uid(), id, E_CAL_OBJ_MOD_ONLY_THIS))
        return error;
    }
    return std::nullopt;
  }

  // Creates a series of a UID the calendar does not hold: the master, then each detached instance
  // as a change to its occurrence, as EDS's own programs make them; should one fail, what was
  // created goes again.
  std::optional<std::string> createSeries(ECalClient* calendarClient, const Zones& zones,
                                          const Components& components) {
    if (components.empty())
      return kNoSuchEvent;
    for (const Ref<ICalComponent>& component : components)
      addZones(calendarClient, zones, component.get());
    if (auto error = create(calendarClient, components.front().get()))
      return error;
    for (std::size_t at = 1; at < components.size(); ++at) {
      if (auto error = modify(calendarClient, components[at].get(), E_CAL_OBJ_MOD_THIS)) {
        remove(calendarClient, uidOf(components.front().get()), std::nullopt);
        return error;
      }
    }
    return std::nullopt;
  }

  // The calendar learns every zone the component's times are written in: its end, an exception or
  // an alarm may name a zone its start does not.
  void addZones(ECalClient* calendarClient, const Zones& zones, ICalComponent* component) {
    for (const std::string& tzid : tzidsIn(component)) {
      ICalTimezone* zone = zones.named(tzid);
      failureOf([&](GError** error) {
        return e_cal_client_add_timezone_sync(calendarClient, zone, budget_.cancellable(), error);
      });
    }
  }

  // Removes one occurrence: EDS adds an EXDATE and drops its detached instance. A series with no
  // occurrence left is removed whole.
  std::optional<std::string> removeOccurrence(ECalClient* calendarClient, const EventKey& key,
                                              const Series& series, const Occurrence& occurrence) {
    if (auto error = remove(calendarClient, key.uid, series.recurrenceIdOf(occurrence)))
      return error;
    const auto rest = seriesOf(key.calendar, key.uid);
    if (rest && !rest->first())
      return remove(calendarClient, key.uid, std::nullopt);
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
    const auto target = calendarAt(calendar);
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

  Zones zonesOf(ECalClient* calendarClient) {
    return Zones(calendarClient, local_, budget_.cancellable());
  }

  // The components of one UID (the master and its detached instances), as the calendar holds them
  // now, not as its index of time ranges has them.
  std::vector<Ref<ICalComponent>> components(ECalClient* calendarClient, const std::string& uid) {
    return componentsOf(calendarClient, uid, budget_.cancellable(), readFailure_);
  }

  // EDS's reason for a refused write, or the budget's when the run's time ran out during it.
  std::optional<std::string> refusal(const std::optional<std::string>& failure) const {
    if (failure && budget_.spent())
      return kLate;
    return failure;
  }

  std::optional<std::string> create(ECalClient* calendarClient, ICalComponent* component) {
    return refusal(failureOf([&](GError** error) {
      return e_cal_client_create_object_sync(calendarClient, component, E_CAL_OPERATION_FLAG_NONE,
                                             nullptr, budget_.cancellable(), error);
    }));
  }

  std::optional<std::string> modify(ECalClient* calendarClient, ICalComponent* component,
                                    ECalObjModType reach) {
    return refusal(failureOf([&](GError** error) {
      return e_cal_client_modify_object_sync(calendarClient, component, reach,
                                             E_CAL_OPERATION_FLAG_NONE, budget_.cancellable(),
                                             error);
    }));
  }

  // Removes the whole series without a RECURRENCE-ID, else one occurrence: with an EXDATE
  // (E_CAL_OBJ_MOD_THIS) or, for a detached instance alone, without (E_CAL_OBJ_MOD_ONLY_THIS).
  std::optional<std::string> remove(ECalClient* calendarClient, const std::string& uid,
                                    const std::optional<std::string>& recurrenceId,
                                    ECalObjModType reach = E_CAL_OBJ_MOD_THIS) {
    return refusal(failureOf([&](GError** error) {
      return e_cal_client_remove_object_sync(
          calendarClient, uid.c_str(), recurrenceId ? recurrenceId->c_str() : nullptr,
          recurrenceId ? reach : E_CAL_OBJ_MOD_ALL, E_CAL_OPERATION_FLAG_NONE,
          budget_.cancellable(), error);
    }));
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

  std::vector<Calendar> allCalendars() {
    const std::vector<Ref<ESource>> sources = calendarSources();
    std::vector<ESource*> all;
    for (const Ref<ESource>& source : sources)
      all.push_back(source.get());
    connect(all);
    std::vector<Calendar> calendars;
    for (const Ref<ESource>& source : sources)
      calendars.push_back(calendarFrom(source.get()));
    return calendars;
  }

  // The registry answers with the calendar last chosen as the default even when it has been
  // switched off since (an online account's calendar disabled); EDS's own programs then use the
  // built-in calendar, and so does tembra.
  std::optional<Calendar> defaultCalendar() {
    if (!registry())
      return std::nullopt;
    Ref<ESource> source(e_source_registry_ref_default_calendar(registry_.get()));
    if (!source || !isUsableCalendar(source.get()))
      source.reset(e_source_registry_ref_builtin_calendar(registry_.get()));
    if (!source || !isUsableCalendar(source.get()))
      return std::nullopt;
    return calendarFrom(source.get());
  }

  std::optional<Calendar> calendarAt(const std::string& identifier) {
    const Ref<ESource> source = calendarSource(identifier);
    if (!source)
      return std::nullopt;
    return calendarFrom(source.get());
  }

  // Each series once, with its occurrences as dates: the occurrences of the rule share one event
  // (one per length, as an alarm related to the end depends on it), and each detached instance
  // has its own.
  EventWindow windowOf(const EventPredicate& predicate) {
    const std::vector<Calendar> calendars =
        predicate.calendars ? *predicate.calendars : allCalendars();
    EventWindow window;
    for (const Calendar& calendar : calendars) {
      // A calendar that did not open in time is left out of a list of every calendar, as it is
      // of `calendars`; a list of it alone cannot be answered.
      if (!predicate.calendars && !client(calendar.calendarIdentifier))
        continue;
      const CalendarRef shared(calendar);
      for (const Series& series :
           seriesInWindow(calendar.calendarIdentifier, predicate.startDate, predicate.endDate)) {
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

  std::optional<Series> seriesOf(const std::string& calendar, const std::string& uid) {
    ECalClient* calendarClient = client(calendar);
    if (!calendarClient) {
      noteUnopened(calendar);
      return std::nullopt;
    }
    return Series::of(components(calendarClient, uid), zonesOf(calendarClient));
  }

  // The series with occurrences in the window. The time-range query finds them, but after a
  // change to one occurrence the file back-end's index of time ranges no longer returns its
  // detached instances (until the calendar factory restarts), so what repeats is read again by
  // UID.
  std::vector<Series> seriesInWindow(const std::string& calendar, Instant from, Instant to) {
    std::vector<Series> found;
    ECalClient* calendarClient = client(calendar);
    if (!calendarClient) {
      noteUnopened(calendar);
      return found;
    }
    std::vector<std::string> order;
    std::map<std::string, std::vector<Ref<ICalComponent>>> byUid;
    for (Ref<ICalComponent>& component :
         query(calendarClient, rangeQuery(from, to), budget_.cancellable(), readFailure_)) {
      const std::string uid = uidOf(component.get());
      auto [entry, added] = byUid.try_emplace(uid);
      if (added)
        order.push_back(uid);
      entry->second.push_back(std::move(component));
    }
    std::vector<std::string> again;
    for (const std::string& uid : order) {
      const auto& parts = byUid[uid];
      if (std::any_of(parts.begin(), parts.end(),
                      [](const auto& c) { return repeatsOrDetached(c.get()); })) {
        again.push_back(uid);
      }
    }
    readAgain(calendarClient, again, byUid);
    for (const std::string& uid : order) {
      if (auto series = Series::of(std::move(byUid[uid]), zonesOf(calendarClient)))
        found.push_back(std::move(*series));
    }
    return found;
  }

  // Reads the series of the UIDs again from the calendar's components: a few by a look-up each,
  // more in one pass over the calendar.
  void readAgain(ECalClient* calendarClient, const std::vector<std::string>& uids,
                 std::map<std::string, std::vector<Ref<ICalComponent>>>& byUid) {
    for (const std::string& uid : uids)
      byUid[uid].clear();
    if (uids.size() < kOnePassFrom) {
      for (const std::string& uid : uids)
        byUid[uid] = components(calendarClient, uid);
      return;
    }
    // A query without a time range is evaluated against the components themselves, not the
    // index of time ranges.
    const std::set<std::string> wanted(uids.begin(), uids.end());
    for (Ref<ICalComponent>& component :
         query(calendarClient, "(has-recurrences?)", budget_.cancellable(), readFailure_)) {
      if (const auto entry = byUid.find(uidOf(component.get()));
          entry != byUid.end() && wanted.contains(entry->first)) {
        entry->second.push_back(std::move(component));
      }
    }
  }

  // Whether the registry answers on the session bus, asked once per run within the reach budget.
  bool reachable() {
    if (!reached_) {
      reachDeadline_ = deadlineWithin(kReachBudget, budget_.deadline());
      reached_ = registryAnswers(reachDeadline_);
    }
    return *reached_;
  }

  // Opened once per run, within the reach budget; none when there is no session bus, no EDS on
  // it, or no answer in time.
  ESourceRegistry* registry() {
    if (!registryTried_) {
      registryTried_ = true;
      if (reachable())
        registry_ = openRegistry(reachDeadline_);
    }
    return registry_.get();
  }

  bool isUsableCalendar(ESource* source) {
    return e_source_has_extension(source, E_SOURCE_EXTENSION_CALENDAR) &&
           e_source_registry_check_enabled(registry_.get(), source);
  }

  // The enabled calendars in the registry's order (by title); calendars of the same title by UID,
  // so that the order is the same in every run.
  std::vector<Ref<ESource>> calendarSources() {
    if (!registry())
      return {};
    std::vector<Ref<ESource>> sources = takeAll<ESource>(
        e_source_registry_list_enabled(registry_.get(), E_SOURCE_EXTENSION_CALENDAR));
    std::stable_sort(sources.begin(), sources.end(), [](const auto& a, const auto& b) {
      const int byTitle =
          g_utf8_collate(e_source_get_display_name(a.get()), e_source_get_display_name(b.get()));
      if (byTitle != 0)
        return byTitle < 0;
      return std::string_view(e_source_get_uid(a.get())) < e_source_get_uid(b.get());
    });
    return sources;
  }

  Ref<ESource> calendarSource(const std::string& uid) {
    if (!registry())
      return nullptr;
    Ref<ESource> source(e_source_registry_ref_source(registry_.get(), uid.c_str()));
    if (!source || !isUsableCalendar(source.get()))
      return nullptr;
    return source;
  }

  // Connects the calendars not connected yet, all at once, within the connect budget.
  void connect(const std::vector<ESource*>& sources) {
    connector_.connect(sources, deadlineWithin(kConnectBudget, budget_.deadline()));
  }

  // Connected when first needed and kept for the run; none when EDS cannot open the calendar, or
  // did not within the budget.
  ECalClient* client(const std::string& uid) {
    if (!connector_.find(uid)) {
      if (const Ref<ESource> source = calendarSource(uid))
        connect({source.get()});
    }
    const Connection* connection = connector_.find(uid);
    return connection ? connection->client.get() : nullptr;
  }

  // A calendar that exists but was not opened cannot say what it holds.
  void noteUnopened(const std::string& uid) {
    if (!readFailure_ && calendarSource(uid))
      readFailure_ = unopened(uid).description;
  }

  // Why a write cannot reach a calendar that was not opened: EDS's words, or the budget's.
  StoreError unopened(const std::string& uid) const {
    const Connection* connection = connector_.find(uid);
    if (!connection || connection->failure.empty())
      return StoreError{kNoSuchCalendar};
    return StoreError{repairUtf8(connection->failure)};
  }

  Calendar calendarFrom(ESource* source) {
    Calendar calendar;
    calendar.calendarIdentifier = e_source_get_uid(source);
    const char* title = e_source_get_display_name(source);
    calendar.title = repairUtf8(title ? title : "");
    if (const char* parent = e_source_get_parent(source); parent && *parent) {
      if (const Ref<ESource> account{e_source_registry_ref_source(registry_.get(), parent)}) {
        const char* name = e_source_get_display_name(account.get());
        calendar.source = Source{repairUtf8(name ? name : "")};
      }
    }
    auto* selectable = static_cast<ESourceSelectable*>(
        e_source_get_extension(source, E_SOURCE_EXTENSION_CALENDAR));
    if (const char* color = e_source_selectable_get_color(selectable))
      calendar.color = parseColor(color);
    ECalClient* connected = client(calendar.calendarIdentifier);
    calendar.allowsContentModifications =
        connected && !e_client_is_readonly(reinterpret_cast<EClient*>(connected));
    return calendar;
  }

  // The completion runs on a thread of its own, as the platform's does.
  void answer(AccessCompletion completion) {
    const bool granted = reachable();
    std::thread([completion = std::move(completion), granted] {
      completion(granted, std::nullopt);
    }).detach();
  }

  ICalTimezone* local_;
  Budget budget_;
  // The first failure of a read since the lookup or write began.
  std::optional<std::string> readFailure_;
  std::optional<bool> reached_;
  Clock::time_point reachDeadline_;
  Ref<ESourceRegistry> registry_;
  bool registryTried_ = false;
  Connector connector_;
};

}  // namespace

std::unique_ptr<CalendarStore> createEdsStore() {
  return std::make_unique<EdsStore>();
}

}  // namespace tembra::eds
