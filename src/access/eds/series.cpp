// One EDS event series: its occurrences, the events they show, and changes written into it.
#include "access/eds/series.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <tuple>

#include "access/calendar_text.h"
#include "access/recurrence_rule.h"
#include "records/utf8.h"

namespace tembra::eds {
namespace {

constexpr double kDay = 86400;
// The generator is asked for a wider window than the caller's, so that neither its rule for
// what touches an edge nor the zone it reads all-day dates in (UTC, whatever the default zone)
// decides what is found.
constexpr double kMargin = 2 * kDay;
// The first occurrence is looked for in growing spans from the series' start: the generator works
// out a whole span before it reports any of it, and nearly every series has it in the first.
constexpr double kFirstSpan = 400 * kDay;
constexpr Instant kEndOfTime{253402300800};  // 10000-01-01T00:00:00Z
// EDS's file back-end drops a DTSTART after the year 3000 as it saves it.
constexpr Instant kEndOfKeeping{32535216000};  // 3001-01-01T00:00:00Z
// The generator reports at most this many occurrences of one series at a time: a secondly rule
// gives 86,400 a day.
constexpr std::size_t kMostSpans = 100'000;
// A rule whose COUNT is counted up to a later occurrence is walked at most this far.
constexpr int kMostCounted = 1'000'000;

const std::string kUnkeptRule = "日历服务无法保存这个重复规则";

bool overlaps(Instant start, Instant end, Instant from, Instant to) {
  return start < to && (end > from || (start == end && start >= from));
}

bool hasProperty(ICalComponent* component, ICalPropertyKind kind) {
  const Ref<ICalProperty> property(i_cal_component_get_first_property(component, kind));
  return property != nullptr;
}

std::optional<std::string> textOf(ICalComponent* component, ICalPropertyKind kind) {
  const char* text = nullptr;
  if (kind == I_CAL_SUMMARY_PROPERTY)
    text = i_cal_component_get_summary(component);
  else if (kind == I_CAL_DESCRIPTION_PROPERTY)
    text = i_cal_component_get_description(component);
  else if (kind == I_CAL_LOCATION_PROPERTY)
    text = i_cal_component_get_location(component);
  if (!text)
    return std::nullopt;
  return repairUtf8(text);
}

void setText(ICalComponent* component, ICalPropertyKind kind,
             const std::optional<std::string>& value) {
  removeAll(component, kind);
  const std::string clean = value ? cleanText(*value) : std::string();
  if (clean.empty())
    return;
  ICalProperty* property = nullptr;
  if (kind == I_CAL_SUMMARY_PROPERTY)
    property = i_cal_property_new_summary(clean.c_str());
  else if (kind == I_CAL_DESCRIPTION_PROPERTY)
    property = i_cal_property_new_description(clean.c_str());
  else if (kind == I_CAL_LOCATION_PROPERTY)
    property = i_cal_property_new_location(clean.c_str());
  if (property)
    i_cal_component_take_property(component, property);
}

// The exclusive end date of an all-day event that ends before it begins, or has no end: the day
// after its first.
Instant dayAfter(const Zones& zones, ICalTime* date) {
  const Ref<ICalTime> next(i_cal_time_clone(date));
  i_cal_time_adjust(next.get(), 1, 0, 0, 0);
  return localMidnight(zones, next.get());
}

struct Span {
  Instant start;
  Instant end;
};

std::optional<Span> spanOf(ICalComponent* component, const Zones& zones) {
  const auto start = timeOf(component, I_CAL_DTSTART_PROPERTY);
  if (!start)
    return std::nullopt;
  const bool allDay = start->form.kind == TimeForm::Kind::date;
  const Instant from = instantOf(zones, *start);
  std::optional<Instant> to;
  if (const auto end = timeOf(component, I_CAL_DTEND_PROPERTY)) {
    to = instantOf(zones, *end);
  } else if (const Ref<ICalProperty> property{
                 i_cal_component_get_first_property(component, I_CAL_DURATION_PROPERTY)}) {
    const Ref<ICalDuration> duration(i_cal_property_get_duration(property.get()));
    to = from + i_cal_duration_as_int(duration.get());
  }
  if (allDay) {
    const Instant exclusive = to && *to > from ? *to : dayAfter(zones, start->time.get());
    return Span{from, exclusive + -1.0};
  }
  return Span{from, std::max(to.value_or(from), from)};
}

struct Collected {
  const Zones* zones;
  std::vector<std::pair<Instant, Instant>> spans;
};

std::vector<Ref<ICalProperty>> propertiesOf(ICalComponent* component, ICalPropertyKind kind) {
  std::vector<Ref<ICalProperty>> found;
  for (Ref<ICalProperty> property(i_cal_component_get_first_property(component, kind)); property;
       property.reset(i_cal_component_get_next_property(component, kind))) {
    found.push_back(std::move(property));
  }
  return found;
}

void removeProperty(ICalComponent* component, const Ref<ICalProperty>& property) {
  i_cal_component_remove_property(component, property.get());
}

std::string valueText(ICalProperty* property) {
  const Text text(i_cal_property_get_value_as_string(property));
  return text ? std::string(text.get()) : std::string();
}

// UNTIL as the form of DTSTART asks: a date for a series of days, else UTC, or local time for a
// floating DTSTART. RFC 5545 says so, and other readers refuse the rule otherwise.
std::string untilText(const Zones& zones, const TimeForm& form, Instant until) {
  if (form.kind == TimeForm::Kind::date)
    return timeText(localDate(zones, until));
  if (form.kind == TimeForm::Kind::floating)
    return timeText(timeIn(zones, form, until));
  return timeText(utcTime(until));
}

// Replaces the value of an RRULE; false, with nothing changed, for text libical does not read.
bool setRuleValue(ICalProperty* property, const RecurrenceRule& rule) {
  const Ref<ICalRecurrence> value(
      i_cal_recurrence_new_from_string(recurrenceRuleText(rule).c_str()));
  if (!value || i_cal_recurrence_get_freq(value.get()) == I_CAL_NO_RECURRENCE)
    return false;
  i_cal_property_set_rrule(property, value.get());
  // EDS's note of where the rule ends, which it works out again as it saves.
  i_cal_property_remove_parameter_by_name(property, "X-EVOLUTION-ENDDATE");
  return true;
}

// How many starts the RRULE places before `before`, from the master's DTSTART; at most its COUNT.
int startsBefore(ICalProperty* property, const TimeValue& start, const Zones& zones,
                 Instant before) {
  const Ref<ICalRecurrence> rule(i_cal_property_get_rrule(property));
  if (!rule)
    return 0;
  const Ref<ICalRecurIterator> walk(i_cal_recur_iterator_new(rule.get(), start.time.get()));
  if (!walk)
    return 0;
  int count = 0;
  const int limit = std::min(kMostCounted, std::max(i_cal_recurrence_get_count(rule.get()), 0));
  while (count < limit) {
    const Ref<ICalTime> next(i_cal_recur_iterator_next(walk.get()));
    if (!next || i_cal_time_is_null_time(next.get()))
      break;
    if (!(instantOf(zones, TimeValue{Ref<ICalTime>(i_cal_time_clone(next.get())), start.form}) <
          before)) {
      break;
    }
    ++count;
  }
  return count;
}

gboolean collectSpan(ICalComponent*, ICalTime* start, ICalTime* end, gpointer data, GCancellable*,
                     GError**) {
  auto& collected = *static_cast<Collected*>(data);
  if (collected.spans.size() >= kMostSpans)
    return FALSE;
  const Instant from = instantOf(*collected.zones, start);
  Instant to = end ? instantOf(*collected.zones, end) : from;
  if (i_cal_time_is_date(start)) {
    if (to <= from)
      to = dayAfter(*collected.zones, start);
    to = to + -1.0;
  }
  collected.spans.emplace_back(from, std::max(to, from));
  return TRUE;
}

ICalTimezone* zoneNamed(const gchar* tzid, gpointer data, GCancellable*, GError**) {
  if (!tzid || !*tzid)
    return nullptr;
  return static_cast<const Zones*>(data)->named(tzid);
}

// The start and end of the occurrences of the master's rules and dates that overlap [from, to],
// as the generator gives them, ordered by start: the earliest kMostSpans.
std::vector<std::pair<Instant, Instant>> spansOf(ICalComponent* master, const Zones& zones,
                                                 Instant from, Instant to) {
  Collected collected{&zones, {}};
  const TimeValue start = utcTime(std::max(from, kEarliest));
  const TimeValue end = utcTime(std::min(to, kEndOfTime));
  e_cal_recur_generate_instances_sync(master, start.time.get(), end.time.get(), collectSpan,
                                      &collected, zoneNamed, const_cast<Zones*>(&zones),
                                      zones.local(), nullptr, nullptr);
  std::stable_sort(collected.spans.begin(), collected.spans.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  return std::move(collected.spans);
}

// The instant an EXDATE or RDATE names. EDS writes the EXDATE of an occurrence it removes from a
// series in a named zone as wall-clock time without the TZID, and reads it in DTSTART's zone.
Instant listedInstant(const Zones& zones, const TimeValue& value, const TimeForm& start) {
  if (value.form.kind == TimeForm::Kind::floating && start.kind == TimeForm::Kind::zoned) {
    return Instant{static_cast<double>(
        i_cal_time_as_timet_with_zone(value.time.get(), zones.named(start.tzid)))};
  }
  return instantOf(zones, value);
}

// The seconds from the start to the end an alarm related to the end counts from: for an all-day
// event the midnight after its last day.
double lengthOf(ICalComponent* component, const Zones& zones) {
  const auto span = spanOf(component, zones);
  if (!span)
    return 0;
  const auto start = timeOf(component, I_CAL_DTSTART_PROPERTY);
  const bool allDay = start && start->form.kind == TimeForm::Kind::date;
  return span->end.seconds - span->start.seconds + (allDay ? 1 : 0);
}

// A new alarm; a relative one counted from the end when `fromEnd` gives the event's length.
Ref<ICalComponent> newAlarm(const Alarm& alarm, const std::optional<std::string>& title,
                            std::optional<double> fromEnd) {
  Ref<ICalComponent> component(i_cal_component_new(I_CAL_VALARM_COMPONENT));
  i_cal_component_take_property(component.get(), i_cal_property_new_action(I_CAL_ACTION_DISPLAY));
  Ref<ICalTrigger> trigger;
  if (alarm.absoluteDate) {
    trigger.reset(i_cal_trigger_new_from_int(0));
    const TimeValue at = utcTime(*alarm.absoluteDate);
    i_cal_trigger_set_time(trigger.get(), at.time.get());
  } else {
    const double offset = alarm.relativeOffset - fromEnd.value_or(0);
    trigger.reset(i_cal_trigger_new_from_int(static_cast<int>(std::lround(offset))));
  }
  ICalProperty* property = i_cal_property_new_trigger(trigger.get());
  if (fromEnd && !alarm.absoluteDate)
    i_cal_property_take_parameter(property, i_cal_parameter_new_related(I_CAL_RELATED_END));
  i_cal_component_take_property(component.get(), property);
  // DISPLAY alarms must carry a DESCRIPTION.
  const std::string text = title ? cleanText(*title) : std::string();
  i_cal_component_take_property(
      component.get(), i_cal_property_new_description(text.empty() ? "Reminder" : text.c_str()));
  return component;
}

struct ReadAlarm {
  Alarm alarm;
  bool fromEnd = false;  // a relative alarm related to the end
};

// The component's alarms, relative ones as offsets from the start, `duration` after which its end
// lies.
std::vector<ReadAlarm> readAlarms(ICalComponent* component, double duration, const Zones& zones) {
  std::vector<ReadAlarm> alarms;
  for (Ref<ICalComponent> alarm(
           i_cal_component_get_first_component(component, I_CAL_VALARM_COMPONENT));
       alarm; alarm.reset(i_cal_component_get_next_component(component, I_CAL_VALARM_COMPONENT))) {
    const Ref<ICalProperty> property(
        i_cal_component_get_first_property(alarm.get(), I_CAL_TRIGGER_PROPERTY));
    if (!property)
      continue;
    const Ref<ICalTrigger> trigger(i_cal_property_get_trigger(property.get()));
    const Ref<ICalTime> time(i_cal_trigger_get_time(trigger.get()));
    if (time && !i_cal_time_is_null_time(time.get())) {
      // Absolute triggers are UTC; some tools write floating time (read in the local zone) or a
      // TZID (read in that zone).
      ICalTimezone* zone = zones.local();
      if (i_cal_time_is_utc(time.get()))
        zone = i_cal_timezone_get_utc_timezone();
      else if (const auto tzid = tzidOf(property.get()))
        zone = zones.named(*tzid);
      alarms.push_back({Alarm::withAbsoluteDate(
          Instant{static_cast<double>(i_cal_time_as_timet_with_zone(time.get(), zone))})});
      continue;
    }
    const Ref<ICalDuration> offset(i_cal_trigger_get_duration(trigger.get()));
    double seconds = i_cal_duration_as_int(offset.get());
    const Ref<ICalParameter> related(
        i_cal_property_get_first_parameter(property.get(), I_CAL_RELATED_PARAMETER));
    const bool fromEnd = related && i_cal_parameter_get_related(related.get()) == I_CAL_RELATED_END;
    if (fromEnd)
      seconds += duration;
    alarms.push_back({Alarm::withRelativeOffset(seconds), fromEnd});
  }
  return alarms;
}

std::vector<Alarm> alarmsOf(ICalComponent* component, double duration, const Zones& zones) {
  std::vector<Alarm> alarms;
  for (const ReadAlarm& read : readAlarms(component, duration, zones))
    alarms.push_back(read.alarm);
  return alarms;
}

// The offsets from the start that the component's alarms related to its end read as.
std::vector<double> endRelatedOffsets(ICalComponent* component, const Zones& zones) {
  std::vector<double> offsets;
  for (const ReadAlarm& read : readAlarms(component, lengthOf(component, zones), zones)) {
    if (read.fromEnd)
      offsets.push_back(read.alarm.relativeOffset);
  }
  return offsets;
}

}  // namespace

void removeAll(ICalComponent* component, ICalPropertyKind kind) {
  while (ICalProperty* property = i_cal_component_get_first_property(component, kind)) {
    i_cal_component_remove_property(component, property);
    g_object_unref(property);
  }
}

std::optional<Series> Series::of(std::vector<Ref<ICalComponent>> components, Zones zones) {
  Series series(std::move(components), zones);
  for (const Ref<ICalComponent>& component : series.components_) {
    if (i_cal_component_isa(component.get()) != I_CAL_VEVENT_COMPONENT ||
        !timeOf(component.get(), I_CAL_DTSTART_PROPERTY)) {
      continue;
    }
    if (const char* uid = i_cal_component_get_uid(component.get()); uid && series.uid_.empty())
      series.uid_ = uid;
    if (const auto original = timeOf(component.get(), I_CAL_RECURRENCEID_PROPERTY)) {
      series.detached_.emplace_back(instantOf(zones, *original), component.get());
    } else if (!series.master_) {
      series.master_ = component.get();
    }
  }
  if (!series.master_ && series.detached_.empty())
    return std::nullopt;
  std::stable_sort(series.detached_.begin(), series.detached_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  return series;
}

bool Series::repeats() const {
  if (!master_)
    return true;
  return hasProperty(master_, I_CAL_RRULE_PROPERTY) || hasProperty(master_, I_CAL_RDATE_PROPERTY);
}

std::vector<std::pair<Instant, Instant>> Series::ruleSpans(Instant from, Instant to) const {
  return spansOf(master_, zones_, from, to);
}

std::optional<Occurrence> Series::single(ICalComponent* component, bool detached) const {
  const auto span = spanOf(component, zones_);
  if (!span)
    return std::nullopt;
  return Occurrence{component, span->start, span->end, span->start, detached};
}

ICalComponent* Series::detachedAt(Instant originalStart) const {
  for (const auto& [original, component] : detached_) {
    if (original == originalStart)
      return component;
  }
  return nullptr;
}

std::vector<Occurrence> Series::occurrences(Instant from, Instant to) const {
  std::vector<Occurrence> found;
  const auto addDetached = [&](bool detached) {
    for (const auto& [original, component] : detached_) {
      if (auto occurrence = single(component, detached)) {
        occurrence->originalStart = original;
        found.push_back(*occurrence);
      }
    }
  };
  if (!master_) {
    // A calendar that keeps a repeating event as its instances alone: they are its occurrences.
    addDetached(false);
  } else if (!repeats()) {
    if (auto occurrence = single(master_, false))
      found.push_back(*occurrence);
  } else {
    for (const auto& [start, end] : ruleSpans(from + -kMargin, to + kMargin)) {
      if (!detachedAt(start))
        found.push_back(Occurrence{master_, start, end, start, false});
    }
    addDetached(true);
  }
  std::erase_if(found, [&](const Occurrence& occurrence) {
    return !overlaps(occurrence.start, occurrence.end, from, to);
  });
  std::stable_sort(found.begin(), found.end(),
                   [](const Occurrence& a, const Occurrence& b) { return a.start < b.start; });
  return found;
}

std::optional<Occurrence> Series::first() const {
  if (master_ && !repeats())
    return single(master_, false);
  std::optional<Instant> earliest;
  if (master_) {
    const auto span = spanOf(master_, zones_);
    for (double length = kFirstSpan; span && !earliest; length *= 10) {
      const auto spans = ruleSpans(span->start + -1.0, span->start + length);
      if (!spans.empty())
        earliest = spans.front().first;
      if (span->start + length >= kEndOfTime)
        break;
    }
  }
  if (!detached_.empty() && (!earliest || detached_.front().first < *earliest))
    earliest = detached_.front().first;
  if (!earliest)
    return std::nullopt;
  return occurrenceAt(*earliest);
}

std::optional<Occurrence> Series::occurrenceAt(Instant originalStart) const {
  if (ICalComponent* component = detachedAt(originalStart)) {
    auto occurrence = single(component, master_ != nullptr);
    if (occurrence)
      occurrence->originalStart = originalStart;
    return occurrence;
  }
  if (!master_ || !repeats())
    return std::nullopt;
  for (const auto& [start, end] : ruleSpans(originalStart + -kMargin, originalStart + kMargin)) {
    if (start == originalStart)
      return Occurrence{master_, start, end, start, false};
  }
  return std::nullopt;
}

Event Series::eventAt(const Occurrence& occurrence) const {
  ICalComponent* component = occurrence.component;
  Event event;
  event.title = textOf(component, I_CAL_SUMMARY_PROPERTY);
  event.notes = textOf(component, I_CAL_DESCRIPTION_PROPERTY);
  event.location = textOf(component, I_CAL_LOCATION_PROPERTY);
  event.startDate = occurrence.start;
  event.endDate = occurrence.end;
  const auto start = timeOf(component, I_CAL_DTSTART_PROPERTY);
  event.isAllDay = start && start->form.kind == TimeForm::Kind::date;
  // An all-day occurrence ends a second before the midnight its alarms related to the end count
  // from.
  event.alarms = alarmsOf(
      component, occurrence.end.seconds - occurrence.start.seconds + (event.isAllDay ? 1 : 0),
      zones_);
  if (const auto modified = timeOf(component, I_CAL_LASTMODIFIED_PROPERTY))
    event.lastModifiedDate = instantOf(zones_, *modified);
  if (!uid_.empty())
    event.calendarItemExternalIdentifier = repairUtf8(uid_);
  event.hasRecurrenceRules = repeats();
  event.isDetached = occurrence.detached;
  if (repeats())
    event.occurrenceDate = occurrence.originalStart;
  event.recurrenceRule = ruleText();
  return event;
}

std::optional<std::string> Series::ruleText() const {
  if (!repeats())
    return std::nullopt;
  if (!master_)
    return std::string();
  const Ref<ICalProperty> rule(i_cal_component_get_first_property(master_, I_CAL_RRULE_PROPERTY));
  if (!rule)
    return std::string();
  return canonicalRuleText(valueText(rule.get()));
}

Draft Series::draftFor(const Occurrence& occurrence) const {
  if (occurrence.component != master_ || !repeats())
    return Draft{Ref<ICalComponent>(i_cal_component_clone(occurrence.component)), false};
  // The master's copy without its recurrence: building the instance with EDS's own helper would
  // keep the master's DTSTART and RRULE.
  Ref<ICalComponent> instance(i_cal_component_clone(master_));
  for (const ICalPropertyKind kind :
       {I_CAL_RRULE_PROPERTY, I_CAL_RDATE_PROPERTY, I_CAL_EXDATE_PROPERTY, I_CAL_EXRULE_PROPERTY}) {
    removeAll(instance.get(), kind);
  }
  const auto start = timeOf(master_, I_CAL_DTSTART_PROPERTY);
  setTime(instance.get(), I_CAL_RECURRENCEID_PROPERTY,
          timeIn(zones_, start ? start->form : TimeForm{}, occurrence.originalStart));
  return Draft{std::move(instance), true};
}

std::string Series::recurrenceIdOf(const Occurrence& occurrence) const {
  if (occurrence.component != master_) {
    if (const auto original = timeOf(occurrence.component, I_CAL_RECURRENCEID_PROPERTY))
      return timeText(*original);
  }
  const auto start = timeOf(master_, I_CAL_DTSTART_PROPERTY);
  return timeText(timeIn(zones_, start ? start->form : TimeForm{}, occurrence.originalStart));
}

Components Series::copies() const {
  Components copies;
  if (master_)
    copies.emplace_back(i_cal_component_clone(master_));
  for (const auto& [original, component] : detached_)
    copies.emplace_back(i_cal_component_clone(component));
  return copies;
}

Series Series::copied() const {
  return *Series::of(copies(), zones_);
}

std::vector<std::string> Series::recurrenceIds() const {
  std::vector<std::string> ids;
  for (const auto& [original, component] : detached_) {
    if (const auto id = timeOf(component, I_CAL_RECURRENCEID_PROPERTY))
      ids.push_back(timeText(*id));
  }
  return ids;
}

template <class Accepts>
void Series::dropDetached(Accepts&& accepts) {
  std::erase_if(detached_, [&](const std::pair<Instant, ICalComponent*>& entry) {
    if (!accepts(entry.first))
      return false;
    std::erase_if(components_, [&](const Ref<ICalComponent>& component) {
      return component.get() == entry.second;
    });
    return true;
  });
}

std::optional<std::pair<Instant, Instant>> Series::ruleSpanAt(Instant originalStart) const {
  if (!master_ || !repeats())
    return std::nullopt;
  const Ref<ICalComponent> bare(i_cal_component_clone(master_));
  removeAll(bare.get(), I_CAL_EXDATE_PROPERTY);
  removeAll(bare.get(), I_CAL_EXRULE_PROPERTY);
  for (const auto& span :
       spansOf(bare.get(), zones_, originalStart + -kMargin, originalStart + kMargin)) {
    if (span.first == originalStart)
      return span;
  }
  return std::nullopt;
}

bool Series::places(Instant originalStart) const {
  return ruleSpanAt(originalStart).has_value();
}

void Series::startAt(Instant originalStart) {
  const auto start = timeOf(master_, I_CAL_DTSTART_PROPERTY);
  const auto span = ruleSpanAt(originalStart);
  if (!start || !span)
    return;
  setTime(master_, I_CAL_DTSTART_PROPERTY, timeIn(zones_, start->form, originalStart));
  // As long as its occurrence there; a DURATION stays as it is.
  if (const auto end = timeOf(master_, I_CAL_DTEND_PROPERTY)) {
    setTime(master_, I_CAL_DTEND_PROPERTY,
            start->form.kind == TimeForm::Kind::date
                ? localDate(zones_, span->second + 1.0)
                : timeIn(zones_, end->form.kind == TimeForm::Kind::date ? start->form : end->form,
                         span->second));
  }
}

void Series::dropDates(ICalPropertyKind kind, bool from, Instant originalStart) {
  const auto start = timeOf(master_, I_CAL_DTSTART_PROPERTY);
  if (!start)
    return;
  for (const Ref<ICalProperty>& property : propertiesOf(master_, kind)) {
    const auto value = timeOf(property.get());
    if (value && (listedInstant(zones_, *value, start->form) >= originalStart) == from)
      removeProperty(master_, property);
  }
}

bool Series::applyToAll(const Event& event, const Occurrence& named, Instant now) {
  // Each occurrence moves as far as the change moves the one named, and takes the fields the
  // change set onto what it holds itself.
  const OccurrenceShift shift = occurrenceShift(event, eventAt(named));
  const double byStart = shift.start;
  const auto movedOnto = [&](const Event& own) { return shift.onto(event, own); };
  // The detached instances as they stand, read before the master changes.
  std::vector<std::tuple<ICalComponent*, Instant, Event>> instances;
  for (const auto& [original, component] : detached_) {
    auto occurrence = single(component, master_ != nullptr);
    if (!occurrence || original < named.originalStart)
      continue;
    occurrence->originalStart = original;
    instances.emplace_back(component, original, eventAt(*occurrence));
  }

  std::optional<TimeForm> form;  // of the master's DTSTART once changed
  bool moved = false;
  if (master_) {
    const auto span = spanOf(master_, zones_);
    const auto start = timeOf(master_, I_CAL_DTSTART_PROPERTY);
    if (!span || !start)
      return false;
    const Event own = eventAt(Occurrence{master_, span->start, span->end, span->start, false});
    const Event changed = movedOnto(own);
    if (!canHold(changed))
      return false;
    writeEvent(master_, changed, own, zones_, now);
    form = timeOf(master_, I_CAL_DTSTART_PROPERTY)->form;
    moved = byStart != 0 || form->kind != start->form.kind;
    if (moved) {
      // A rule ends where it ended, moved as far: its last occurrence stays within it.
      for (const Ref<ICalProperty>& property : propertiesOf(master_, I_CAL_RRULE_PROPERTY)) {
        std::string problem;
        auto rule = parseRecurrenceRule(valueText(property.get()), problem);
        const auto until = rule ? untilInstant(*rule) : std::nullopt;
        if (!until)
          continue;
        rule->until = untilText(zones_, *form, *until + byStart);
        setRuleValue(property.get(), *rule);
      }
      // EXDATEs and RDATEs keep naming the occurrences they named, in the form DTSTART takes.
      for (const ICalPropertyKind kind : {I_CAL_EXDATE_PROPERTY, I_CAL_RDATE_PROPERTY}) {
        for (const Ref<ICalProperty>& property : propertiesOf(master_, kind)) {
          const auto value = timeOf(property.get());
          if (!value)
            continue;
          const Instant at = listedInstant(zones_, *value, start->form) + byStart;
          removeProperty(master_, property);
          if (Ref<ICalProperty> again = timeProperty(kind, timeIn(zones_, *form, at)))
            i_cal_component_take_property(master_, again.release());
        }
      }
    }
  }
  for (auto& [component, original, own] : instances) {
    const Event changed = movedOnto(own);
    if (!canHold(changed))
      return false;
    writeEvent(component, changed, own, zones_, now);
    // Without a master the occurrences follow no rule here: their keys stay.
    if (moved)
      setTime(component, I_CAL_RECURRENCEID_PROPERTY, timeIn(zones_, *form, original + byStart));
  }
  return true;
}

std::optional<Components> Series::changedWhole(const Event& event, const Occurrence& named,
                                               Instant now) const {
  Series copy = copied();
  const auto again = copy.repeats() ? copy.occurrenceAt(named.originalStart) : copy.first();
  if (!again || !copy.applyToAll(event, *again, now))
    return std::nullopt;
  return std::move(copy.components_);
}

void Series::endBefore(Instant originalStart, Instant now) {
  dropDetached([&](Instant original) { return original >= originalStart; });
  const auto start = master_ ? timeOf(master_, I_CAL_DTSTART_PROPERTY) : std::nullopt;
  if (!start)
    return;
  for (const Ref<ICalProperty>& property : propertiesOf(master_, I_CAL_RRULE_PROPERTY)) {
    std::string problem;
    auto rule = parseRecurrenceRule(valueText(property.get()), problem);
    if (!rule)
      continue;
    if (rule->count) {
      // A COUNT stays a COUNT, of the occurrences before.
      const int before = startsBefore(property.get(), *start, zones_, originalStart);
      if (before >= *rule->count)
        continue;
      if (before == 0) {
        removeProperty(master_, property);
        continue;
      }
      rule->count = before;
    } else {
      const auto until = untilInstant(*rule);
      if (until && *until < originalStart)
        continue;
      rule->until = untilText(zones_, start->form, originalStart + -1.0);
    }
    setRuleValue(property.get(), *rule);
  }
  dropDates(I_CAL_RDATE_PROPERTY, true, originalStart);
  dropDates(I_CAL_EXDATE_PROPERTY, true, originalStart);
  setTime(master_, I_CAL_DTSTAMP_PROPERTY, utcTime(now));
  setTime(master_, I_CAL_LASTMODIFIED_PROPERTY, utcTime(now));
}

Components Series::endedBefore(Instant originalStart, Instant now) const {
  Series copy = copied();
  copy.endBefore(originalStart, now);
  return std::move(copy.components_);
}

std::optional<Components> Series::partFrom(Instant originalStart, const std::string& uid,
                                           Instant now) const {
  const auto start = master_ ? timeOf(master_, I_CAL_DTSTART_PROPERTY) : std::nullopt;
  if (!start || !places(originalStart))
    return std::nullopt;
  Series part = copied();
  ICalComponent* master = part.master_;
  part.startAt(originalStart);
  // A COUNT counts from the new start what is left of it.
  for (const Ref<ICalProperty>& property : propertiesOf(master, I_CAL_RRULE_PROPERTY)) {
    std::string problem;
    auto rule = parseRecurrenceRule(valueText(property.get()), problem);
    if (!rule || !rule->count)
      continue;
    const int before = startsBefore(property.get(), *start, zones_, originalStart);
    rule->count = std::max(1, *rule->count - before);
    setRuleValue(property.get(), *rule);
  }
  part.dropDates(I_CAL_RDATE_PROPERTY, false, originalStart);
  part.dropDates(I_CAL_EXDATE_PROPERTY, false, originalStart);
  part.dropDetached([&](Instant original) { return original < originalStart; });
  for (const Ref<ICalComponent>& component : part.components_)
    i_cal_component_set_uid(component.get(), uid.c_str());
  // Related to the series it was split from, as calendar programs relate the parts.
  removeAll(master, I_CAL_RELATEDTO_PROPERTY);
  ICalProperty* related = i_cal_property_new_relatedto(uid_.c_str());
  i_cal_property_take_parameter(related, i_cal_parameter_new_reltype(I_CAL_RELTYPE_SIBLING));
  i_cal_component_take_property(master, related);
  setTime(master, I_CAL_CREATED_PROPERTY, utcTime(now));
  setTime(master, I_CAL_DTSTAMP_PROPERTY, utcTime(now));
  setTime(master, I_CAL_LASTMODIFIED_PROPERTY, utcTime(now));
  return std::move(part.components_);
}

std::optional<Components> Series::withRule(const std::string& rule, Instant now) const {
  if (!master_)
    return std::nullopt;
  Series changed = copied();
  ICalComponent* master = changed.master_;
  if (rule.empty()) {
    // The single event of the first occurrence, without the occurrences changed on their own.
    if (const auto firstOne = first())
      changed.startAt(firstOne->originalStart);
    for (const ICalPropertyKind kind : {I_CAL_RRULE_PROPERTY, I_CAL_RDATE_PROPERTY,
                                        I_CAL_EXDATE_PROPERTY, I_CAL_EXRULE_PROPERTY}) {
      removeAll(master, kind);
    }
    changed.dropDetached([](Instant) { return true; });
  } else {
    if (!setRule(master, rule, zones_))
      return std::nullopt;
    // Instances of occurrences the new rule does not have would stand for nothing.
    changed.dropDetached([&](Instant original) { return !changed.places(original); });
  }
  setTime(master, I_CAL_DTSTAMP_PROPERTY, utcTime(now));
  setTime(master, I_CAL_LASTMODIFIED_PROPERTY, utcTime(now));
  return std::move(changed.components_);
}

bool setRule(ICalComponent* master, const std::string& rule, const Zones& zones) {
  std::string problem;
  auto parsed = parseRecurrenceRule(rule, problem);
  const auto start = timeOf(master, I_CAL_DTSTART_PROPERTY);
  if (!parsed || !start)
    return false;
  if (const auto until = untilInstant(*parsed))
    parsed->until = untilText(zones, start->form, *until);
  Ref<ICalProperty> property(i_cal_property_new(I_CAL_RRULE_PROPERTY));
  if (!setRuleValue(property.get(), *parsed))
    return false;
  removeAll(master, I_CAL_RRULE_PROPERTY);
  i_cal_component_take_property(master, property.release());
  return true;
}

std::optional<std::string> ruleProblem(const std::string& rule) {
  const Ref<ICalRecurrence> parsed(i_cal_recurrence_new_from_string(rule.c_str()));
  if (!parsed || i_cal_recurrence_get_freq(parsed.get()) == I_CAL_NO_RECURRENCE)
    return kUnkeptRule;
  // libical walks no occurrence of a rule whose parts RFC 5545 does not allow together (BYWEEKNO
  // but yearly, BYYEARDAY daily to monthly, BYMONTHDAY weekly): EDS would show none.
  const Ref<ICalTime> start(i_cal_time_new_from_string("20240101T090000Z"));
  const Ref<ICalRecurIterator> walk(i_cal_recur_iterator_new(parsed.get(), start.get()));
  if (!walk)
    return kUnkeptRule;
  return std::nullopt;
}

void writeEvent(ICalComponent* component, const Event& event, const std::optional<Event>& stored,
                const Zones& zones, Instant now) {
  // Alarms related to the end, by what they read as before the dates change.
  std::vector<double> fromEnd = endRelatedOffsets(component, zones);
  if (!stored || event.title != stored->title)
    setText(component, I_CAL_SUMMARY_PROPERTY, event.title);
  if (!stored || event.notes != stored->notes)
    setText(component, I_CAL_DESCRIPTION_PROPERTY, event.notes);
  if (!stored || event.location != stored->location)
    setText(component, I_CAL_LOCATION_PROPERTY, event.location);

  const Instant start = event.startDate.value_or(now);
  const Instant end = std::max(event.endDate.value_or(start), start);
  if (!stored || stored->startDate != start || stored->endDate != end ||
      stored->isAllDay != event.isAllDay) {
    removeAll(component, I_CAL_DURATION_PROPERTY);
    if (event.isAllDay) {
      // The local days from the start's to the end's; an end at midnight does not take in the day
      // it begins, and an event covers one day at least.
      const TimeValue firstDay = localDate(zones, start);
      TimeValue endDay = localDate(zones, end);
      if (localMidnight(zones, endDay.time.get()) != end)
        i_cal_time_adjust(endDay.time.get(), 1, 0, 0, 0);
      if (i_cal_time_compare(endDay.time.get(), firstDay.time.get()) <= 0) {
        endDay.time.reset(i_cal_time_clone(firstDay.time.get()));
        i_cal_time_adjust(endDay.time.get(), 1, 0, 0, 0);
      }
      setTime(component, I_CAL_DTSTART_PROPERTY, firstDay);
      setTime(component, I_CAL_DTEND_PROPERTY, endDay);
    } else {
      const auto current = timeOf(component, I_CAL_DTSTART_PROPERTY);
      const TimeForm form =
          current && current->form.kind != TimeForm::Kind::date ? current->form : TimeForm{};
      setTime(component, I_CAL_DTSTART_PROPERTY, timeIn(zones, form, start));
      setTime(component, I_CAL_DTEND_PROPERTY, timeIn(zones, form, end));
    }
  }

  if (!stored || event.alarms != stored->alarms) {
    while (ICalComponent* alarm =
               i_cal_component_get_first_component(component, I_CAL_VALARM_COMPONENT)) {
      i_cal_component_remove_component(component, alarm);
      g_object_unref(alarm);
    }
    // An alarm that reads as one related to the end did stays related to the end.
    const double length = lengthOf(component, zones);
    for (const Alarm& alarm : event.alarms) {
      const auto same = alarm.absoluteDate
                            ? fromEnd.end()
                            : std::find(fromEnd.begin(), fromEnd.end(), alarm.relativeOffset);
      std::optional<double> endLength;
      if (same != fromEnd.end()) {
        endLength = length;
        fromEnd.erase(same);
      }
      i_cal_component_take_component(component, newAlarm(alarm, event.title, endLength).release());
    }
  }

  if (!stored && !hasProperty(component, I_CAL_CREATED_PROPERTY))
    setTime(component, I_CAL_CREATED_PROPERTY, utcTime(now));
  setTime(component, I_CAL_DTSTAMP_PROPERTY, utcTime(now));
  setTime(component, I_CAL_LASTMODIFIED_PROPERTY, utcTime(now));
}

Ref<ICalComponent> newComponent(const std::string& uid, const Event& event, const Zones& zones,
                                Instant now) {
  Ref<ICalComponent> component(i_cal_component_new(I_CAL_VEVENT_COMPONENT));
  i_cal_component_set_uid(component.get(), uid.c_str());
  writeEvent(component.get(), event, std::nullopt, zones, now);
  return component;
}

bool canHold(const Event& event) {
  // A day's margin on either side leaves room for the local zone and for all-day dates.
  const auto holds = [](Instant instant) {
    return instant.seconds >= kEarliest.seconds + kDay &&
           instant.seconds < kEndOfKeeping.seconds - 2 * kDay;
  };
  if (!event.startDate || !holds(*event.startDate) || (event.endDate && !holds(*event.endDate)))
    return false;
  return std::all_of(event.alarms.begin(), event.alarms.end(), [&](const Alarm& alarm) {
    if (alarm.absoluteDate)
      return holds(*alarm.absoluteDate);
    return std::fabs(std::round(alarm.relativeOffset)) <= INT_MAX;
  });
}

}  // namespace tembra::eds
