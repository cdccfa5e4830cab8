// Changing one event series file: a change to one occurrence or to all of them, an exclusion, the
// end or the split of a series, its rule, and the text it is written as.
#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "access/local/recurrence.h"
#include "access/local/series.h"
#include "access/local/series_extent.h"
#include "access/recurrence_rule.h"
#include "records/dates.h"

namespace tembra::local {
namespace {

// The whole seconds an alarm offset is written in; iCalendar durations here hold an int.
std::optional<int> storableOffset(double seconds) {
  const std::int64_t whole = roundHalfAwayFromZero(seconds);
  if (std::isnan(seconds) || whole < std::numeric_limits<int>::min() ||
      whole > std::numeric_limits<int>::max()) {
    return std::nullopt;
  }
  return static_cast<int>(whole);
}

icalproperty* newTrigger(const Alarm& alarm) {
  if (alarm.absoluteDate) {
    // Absolute triggers are UTC (RFC 5545 3.8.6.3): without the zone every reader, this store
    // included, would take the time for local. Made from text, since libical's constructor from a
    // time writes every year after 3000 as 00000000T000000.
    icalproperty* property = icalproperty_new(ICAL_TRIGGER_PROPERTY);
    icalproperty_set_value(
        property, icalvalue_new_from_string(ICAL_DATETIME_VALUE,
                                            valueText(utcValue(*alarm.absoluteDate)).c_str()));
    icalproperty_add_parameter(property, icalparameter_new_value(ICAL_VALUE_DATETIME));
    return property;
  }
  icaltriggertype trigger{};
  trigger.time = icaltime_null_time();
  // apply has checked that the offset fits.
  trigger.duration = icaldurationtype_from_int(storableOffset(alarm.relativeOffset).value_or(0));
  return icalproperty_new_trigger(trigger);
}

icalcomponent* newAlarm(const Alarm& alarm, const std::optional<std::string>& title) {
  icalcomponent* component = icalcomponent_new(ICAL_VALARM_COMPONENT);
  icalcomponent_add_property(component, icalproperty_new_action(ICAL_ACTION_DISPLAY));
  icalcomponent_add_property(component, newTrigger(alarm));
  // DISPLAY alarms must carry a DESCRIPTION, and libical reads an empty one as an error.
  std::string text = title ? ical::cleanText(*title) : std::string();
  if (text.empty())
    text = "Reminder";
  icalcomponent_add_property(component, icalproperty_new_description(text.c_str()));
  return component;
}

void setUtcStamp(icalcomponent* component, icalproperty_kind kind, Instant now) {
  ical::removeAll(component, kind);
  icalcomponent_add_property(component, timeProperty(kind, utcValue(now)));
}

// DTSTAMP becomes now, unless a clock ahead of this one stamped the component later: a stamp set
// back could make it lose to another copy of the series beside it in the file (`supersedes`), which
// would hide the change behind that copy.
void restamp(icalcomponent* component, Instant now) {
  icalproperty* stamp = timeProperty(ICAL_DTSTAMP_PROPERTY, utcValue(now));
  if (icalcomponent_get_first_property(component, ICAL_DTSTAMP_PROPERTY) &&
      icaltime_compare(icalcomponent_get_dtstamp(component), icalproperty_get_dtstamp(stamp)) > 0) {
    icalproperty_free(stamp);
    return;
  }
  ical::removeAll(component, ICAL_DTSTAMP_PROPERTY);
  icalcomponent_add_property(component, stamp);
}

void setTime(icalcomponent* component, icalproperty_kind kind, const TimeValue& value) {
  ical::removeAll(component, kind);
  icalcomponent_add_property(component, timeProperty(kind, value));
}

// The instant in the form of `form`, or in UTC where that form cannot tell it: a wall-clock time
// that the zone repeats when its clocks go back reads as the first of the two.
TimeValue writtenTime(const TimeValue& form, Instant instant) {
  TimeValue value = timeLike(form, instant);
  if (instantOf(value).seconds != std::floor(instant.seconds))
    return utcValue(instant);
  return value;
}

// The DTSTART and DTEND an event is written with: local dates for an all-day event, else the
// times in the form of `form` (its zone).
std::pair<TimeValue, TimeValue> writtenDates(const Event& event, const TimeValue& form,
                                             Instant now) {
  const Instant start = event.startDate.value_or(now);
  const Instant end = std::max(event.endDate.value_or(start), start);
  if (!event.isAllDay)
    return {writtenTime(form, start), writtenTime(form, end)};
  const icaltimetype firstDay = localDate(start);
  icaltimetype endDay = localDate(end);
  // An end at midnight closes the day before it; any other end includes its own day.
  if (localMidnight(endDay) != end)
    endDay = addDays(endDay, 1);
  if (daysBetween(firstDay, endDay) < 1)
    endDay = addDays(firstDay, 1);
  return {dateValue(firstDay), dateValue(endDay)};
}

// True when every date and alarm of the event, written with DTSTART in the form of `form`, is
// one that iCalendar text can hold.
bool holds(const Event& event, const TimeValue& form, Instant now) {
  const auto [start, end] = writtenDates(event, form, now);
  if (!isStorable(start) || !isStorable(end))
    return false;
  return std::all_of(event.alarms.begin(), event.alarms.end(), [](const Alarm& alarm) {
    return alarm.absoluteDate ? isStorable(utcValue(*alarm.absoluteDate))
                              : storableOffset(alarm.relativeOffset).has_value();
  });
}

// A date-time property's value moved by `seconds`, written in the form of `form`.
void moveTime(const TimeReader& reader, icalproperty* property, double seconds,
              const TimeValue& form, const std::optional<Extent>& series) {
  const auto value = reader.read(property);
  if (!value)
    return;
  const Instant moved = listedStart(series, *value) + seconds;
  icalcomponent* owner = icalproperty_get_parent(property);
  const icalproperty_kind kind = icalproperty_isa(property);
  icalcomponent_remove_property(owner, property);
  icalproperty_free(property);
  icalcomponent_add_property(owner, timeProperty(kind, timeLike(form, moved)));
}

// Of the starts of a COUNT rule: how many come before `at`, and whether one comes at or after it.
std::pair<std::size_t, bool> countedStarts(const Extent& series, const icalrecurrencetype& rule,
                                           const ZoneRules& zone, Instant at) {
  const auto recurrence = Recurrence::make(rule, wallClock(series.start));
  if (!recurrence)
    return {0, false};
  const bool isDate = series.start.time.is_date != 0;
  const auto instant = [&](std::int64_t wall) {
    TimeValue value = series.start;
    value.time = wallTime(wall, isDate);
    return instantOf(value);
  };
  std::size_t before = 0;
  for (const std::int64_t wall : recurrence->starts(wallSeconds(series.start.time),
                                                    wallAtOrAfter(zone, at), kCountWalkLimit)) {
    before += instant(wall) < at ? 1 : 0;
  }
  bool after = false;
  for (const std::int64_t wall :
       recurrence->starts(wallAtOrBefore(zone, at), wallAtOrAfter(zone, kAfterYear9999), 4096)) {
    after = after || instant(wall) >= at;
  }
  return {before, after};
}

// UNTIL as the form of DTSTART asks: a date for a series of days, else UTC, or local time for a
// floating DTSTART. RFC 5545 says so, and other readers refuse the rule otherwise.
std::string untilLike(const TimeValue& form, Instant until) {
  if (form.form == TimeForm::date)
    return valueText(dateValue(localDate(until)));
  if (form.form == TimeForm::floating)
    return valueText(timeLike(form, until));
  return valueText(utcValue(until));
}

}  // namespace

Series Series::create(const std::string& uid) {
  Series series;
  series.calendar_.reset(icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
  series.times_ = std::make_unique<TimeReader>(series.calendar_.get());
  icalcomponent_add_property(series.calendar_.get(), icalproperty_new_version("2.0"));
  icalcomponent_add_property(series.calendar_.get(),
                             icalproperty_new_prodid("-//tembra//tembra//EN"));
  series.master_ = icalcomponent_new(ICAL_VEVENT_COMPONENT);
  icalcomponent_add_property(series.master_, icalproperty_new_uid(uid.c_str()));
  icalcomponent_add_component(series.calendar_.get(), series.master_);
  series.uid_ = uid;
  return series;
}

bool Series::canHold(const Event& event) {
  const Instant now{0};
  return event.startDate && holds(event, utcValue(*event.startDate), now);
}

void Series::writeFields(icalcomponent* target, const Event& event,
                         const std::optional<Event>& stored, const TimeValue& form, Instant now) {
  if (!stored || event.title != stored->title)
    ical::setText(target, ICAL_SUMMARY_PROPERTY, event.title);
  if (!stored || event.notes != stored->notes)
    ical::setText(target, ICAL_DESCRIPTION_PROPERTY, event.notes);
  if (!stored || event.location != stored->location) {
    ical::setText(target, ICAL_LOCATION_PROPERTY, event.location);
  }

  const Instant start = event.startDate.value_or(now);
  const Instant end = std::max(event.endDate.value_or(start), start);
  if (!stored || stored->startDate != start || stored->endDate != end ||
      stored->isAllDay != event.isAllDay) {
    ical::removeAll(target, ICAL_DURATION_PROPERTY);
    const auto [startValue, endValue] = writtenDates(event, form, now);
    setTime(target, ICAL_DTSTART_PROPERTY, startValue);
    setTime(target, ICAL_DTEND_PROPERTY, endValue);
  }

  if (!stored || event.alarms != stored->alarms) {
    // An alarm the event keeps stays the VALARM it was, with what tembra does not model: a
    // trigger related to the end, a sound, another tool's properties. The others are new.
    const auto [startValue, endValue] = writtenDates(event, form, now);
    const double duration = instantOf(endValue).seconds - instantOf(startValue).seconds;
    std::vector<icalcomponent*> previous = ical::children(target, ICAL_VALARM_COMPONENT);
    for (icalcomponent* alarm : previous)
      icalcomponent_remove_component(target, alarm);
    for (const Alarm& alarm : event.alarms) {
      const auto kept = std::find_if(previous.begin(), previous.end(), [&](icalcomponent* old) {
        return old && alarmOf(old, duration) == alarm;
      });
      if (kept != previous.end()) {
        icalcomponent_add_component(target, *kept);
        *kept = nullptr;
      } else {
        icalcomponent_add_component(target, newAlarm(alarm, event.title));
      }
    }
    for (icalcomponent* alarm : previous) {
      if (alarm)
        icalcomponent_free(alarm);
    }
  }

  if (!icalcomponent_get_first_property(target, ICAL_CREATED_PROPERTY) && !stored) {
    setUtcStamp(target, ICAL_CREATED_PROPERTY, now);
  }
  restamp(target, now);
  setUtcStamp(target, ICAL_LASTMODIFIED_PROPERTY, now);
}

std::optional<Occurrence> Series::apply(const Event& event,
                                        const std::optional<Occurrence>& occurrence, Instant now) {
  // A changed event keeps the zone its DTSTART was written in; new and formerly all-day events
  // are in UTC.
  icalcomponent* formed = occurrence ? occurrence->component : master_;
  const auto current = timeOf(*times_, formed, ICAL_DTSTART_PROPERTY);
  const TimeValue form = current && current->form != TimeForm::date
                             ? *current
                             : utcValue(event.startDate.value_or(now));
  if (!holds(event, form, now))
    return std::nullopt;
  // Before an override is copied from the series, which would carry the stamp along.
  ical::keepReadableOnceWritten(calendar_.get());

  icalcomponent* target = master_;
  std::optional<Event> stored;
  if (occurrence) {
    stored = eventAt(*occurrence);
    target = occurrence->component;
    if (repeats() && !occurrence->detached) {
      // The first change to one occurrence makes an override of it, keyed by its original start.
      target = ical::copy(master_);
      for (const icalproperty_kind kind :
           {ICAL_RRULE_PROPERTY, ICAL_RDATE_PROPERTY, ICAL_EXDATE_PROPERTY, ICAL_EXRULE_PROPERTY,
            ICAL_RECURRENCEID_PROPERTY}) {
        ical::removeAll(target, kind);
      }
      const auto masterExtent = extentOf(*times_, master_);
      const TimeValue keyForm =
          masterExtent ? masterExtent->start : utcValue(occurrence->originalStart);
      icalcomponent_add_property(
          target,
          timeProperty(ICAL_RECURRENCEID_PROPERTY, timeLike(keyForm, occurrence->originalStart)));
      icalcomponent_add_component(calendar_.get(), target);
      overrides_.push_back(target);
      stored->startDate.reset();  // the override's times must be written out
    }
  }

  writeFields(target, event, stored, form, now);
  addMissingTimeZones();

  if (target == master_ && !repeats())
    return single();
  const auto original = recurrenceIdOf(*times_, target, extentOf(*times_, master_));
  return original ? occurrenceFor(*original, target) : std::nullopt;
}

void Series::setUid(const std::string& uid) {
  for (icalcomponent* event : ical::children(calendar_.get(), ICAL_VEVENT_COMPONENT)) {
    ical::removeAll(event, ICAL_UID_PROPERTY);
    icalcomponent_set_uid(event, uid.c_str());
  }
  uid_ = uid;
}

void Series::exclude(const Occurrence& occurrence, Instant now) {
  if (icalcomponent* override = overrideAt(occurrence.originalStart)) {
    std::erase(overrides_, override);
    icalcomponent_remove_component(calendar_.get(), override);
    icalcomponent_free(override);
  }
  const auto extent = extentOf(*times_, master_);
  if (extent) {
    icalcomponent_add_property(
        master_,
        timeProperty(ICAL_EXDATE_PROPERTY, timeLike(extent->start, occurrence.originalStart)));
    restamp(master_, now);
    setUtcStamp(master_, ICAL_LASTMODIFIED_PROPERTY, now);
  }
}

void Series::addMissingTimeZones() {
  std::set<std::string> used;
  for (icalcomponent* event : ical::children(calendar_.get(), ICAL_VEVENT_COMPONENT)) {
    for (icalproperty* property = icalcomponent_get_first_property(event, ICAL_ANY_PROPERTY);
         property; property = icalcomponent_get_next_property(event, ICAL_ANY_PROPERTY)) {
      if (auto tzid = ical::parameterText(property, ICAL_TZID_PARAMETER))
        used.insert(*tzid);
    }
  }
  for (const std::string& tzid : used) {
    if (icalcomponent_get_timezone(calendar_.get(), tzid.c_str()))
      continue;
    icaltimezone* zone = builtinZone(tzid);
    if (!zone)
      continue;
    icalcomponent* definition = icaltimezone_get_component(zone);
    if (!definition)
      continue;
    icalcomponent* copy = icalcomponent_new_clone(definition);
    // The copy must carry the TZID the events use, not libical's prefixed one.
    ical::removeAll(copy, ICAL_TZID_PROPERTY);
    icalcomponent_add_property(copy, icalproperty_new_tzid(tzid.c_str()));
    icalcomponent_add_component(calendar_.get(), copy);
  }
}

std::optional<Occurrence> Series::applyToAll(const Event& event, const Occurrence& named,
                                             Instant now) {
  const auto masterExtent = extentOf(*times_, master_);
  if (!masterExtent)
    return std::nullopt;
  // Each occurrence moves as far as the change moves the one named, and takes the fields the
  // change set onto what it holds itself.
  const OccurrenceShift shift = occurrenceShift(event, eventAt(named));
  const double byStart = shift.start;
  const auto movedOnto = [&](const Event& own) { return shift.onto(event, own); };
  ical::keepReadableOnceWritten(calendar_.get());

  const Occurrence masterOccurrence = *occurrenceFor(instantOf(masterExtent->start), nullptr);
  const Event masterStored = eventAt(masterOccurrence);
  const Event masterChanged = movedOnto(masterStored);
  const TimeValue form =
      masterExtent->allDay ? utcValue(*masterChanged.startDate) : masterExtent->start;
  if (!holds(masterChanged, form, now))
    return std::nullopt;
  // Overrides, EXDATEs and RDATEs keep naming the occurrences they named, in the form DTSTART
  // takes now; moved by how far the rule's starts move.
  std::vector<std::pair<icalcomponent*, Event>> overrides;
  for (icalcomponent* override : overrides_) {
    const auto original = recurrenceIdOf(*times_, override, masterExtent);
    const auto occurrence = original ? occurrenceFor(*original, override) : std::nullopt;
    if (occurrence)
      overrides.emplace_back(override, eventAt(*occurrence));
  }
  writeFields(master_, masterChanged, masterStored, form, now);
  const auto newExtent = extentOf(*times_, master_);
  if (!newExtent)
    return std::nullopt;
  const bool reform = newExtent->allDay != masterExtent->allDay;
  if (byStart != 0 || reform) {
    // A rule ends where it ended, moved as far: its last occurrence stays within it.
    for (icalproperty* property : ical::properties(master_, ICAL_RRULE_PROPERTY)) {
      std::string problem;
      auto parsed = parseRecurrenceRule(ical::serializedValue(property), problem);
      const auto until = parsed ? untilInstant(*parsed) : std::nullopt;
      if (!until)
        continue;
      parsed->until = untilLike(newExtent->start, *until + byStart);
      if (icalvalue* value =
              icalvalue_new_from_string(ICAL_RECUR_VALUE, recurrenceRuleText(*parsed).c_str()))
        icalproperty_set_value(property, value);
    }
    for (const icalproperty_kind kind : {ICAL_EXDATE_PROPERTY, ICAL_RDATE_PROPERTY}) {
      for (icalproperty* property : ical::properties(master_, kind)) {
        if (!times_->periodLength(property))
          moveTime(*times_, property, byStart, newExtent->start, masterExtent);
      }
    }
  }
  for (auto& [override, own] : overrides) {
    const auto current = timeOf(*times_, override, ICAL_DTSTART_PROPERTY);
    const Event changed = movedOnto(own);
    const TimeValue overrideForm =
        current && current->form != TimeForm::date ? *current : utcValue(*changed.startDate);
    if (!holds(changed, overrideForm, now))
      return std::nullopt;
    writeFields(override, changed, own, overrideForm, now);
    if (byStart != 0 || reform) {
      if (icalproperty* key =
              icalcomponent_get_first_property(override, ICAL_RECURRENCEID_PROPERTY))
        moveTime(*times_, key, byStart, newExtent->start, masterExtent);
    }
  }
  addMissingTimeZones();
  return occurrenceAt(named.originalStart + byStart);
}

void Series::endBefore(Instant originalStart, Instant now) {
  const auto extent = extentOf(*times_, master_);
  if (!extent)
    return;
  const ZoneRules& zone = extent->start.rules ? *extent->start.rules : utcRules();
  // Each rule that still has a start from then on ends just before it.
  for (icalproperty* property : ical::properties(master_, ICAL_RRULE_PROPERTY)) {
    icalrecurrencetype rule = icalproperty_get_rrule(property);
    bool later = true;
    if (!icaltime_is_null_time(rule.until)) {
      TimeValue until = extent->start;
      until.time = rule.until;
      until.time.zone = nullptr;
      if (icaltime_is_utc(rule.until)) {
        until.form = TimeForm::utc;
        until.rules = &utcRules();
      } else if (rule.until.is_date) {
        until.form = TimeForm::date;
      }
      later = instantOf(until) >= originalStart;
    } else if (rule.count > 0) {
      later = countedStarts(*extent, rule, zone, originalStart).second;
    }
    if (!later)
      continue;
    std::string problem;
    auto parsed = parseRecurrenceRule(ical::serializedValue(property), problem);
    if (!parsed)
      continue;
    parsed->count.reset();
    // An all-day series ends with the day before.
    parsed->until = untilLike(extent->start, originalStart + (extent->allDay ? -86400.0 : -1.0));
    icalproperty_set_value(
        property, icalvalue_new_from_string(ICAL_RECUR_VALUE, recurrenceRuleText(*parsed).c_str()));
  }
  // Dates from then on, and the overrides of occurrences from then on, go.
  for (const icalproperty_kind kind : {ICAL_RDATE_PROPERTY, ICAL_EXDATE_PROPERTY}) {
    for (icalproperty* property : ical::properties(master_, kind)) {
      const auto value = times_->read(property);
      if (value && listedStart(extent, *value) >= originalStart) {
        icalcomponent_remove_property(master_, property);
        icalproperty_free(property);
      }
    }
  }
  for (icalcomponent* override : std::vector<icalcomponent*>(overrides_)) {
    const auto original = recurrenceIdOf(*times_, override, extent);
    if (original && *original >= originalStart) {
      std::erase(overrides_, override);
      icalcomponent_remove_component(calendar_.get(), override);
      icalcomponent_free(override);
    }
  }
  restamp(master_, now);
  setUtcStamp(master_, ICAL_LASTMODIFIED_PROPERTY, now);
}

std::optional<Series> Series::partFrom(Instant originalStart, const std::string& uid,
                                       Instant now) const {
  std::optional<Series> part = Series::parse(text());
  const auto extent = extentOf(*times_, master_);
  if (!part || !extent)
    return std::nullopt;
  const ZoneRules& zone = extent->start.rules ? *extent->start.rules : utcRules();
  icalcomponent* master = part->master_;
  // A COUNT counts from the new start what is left of it.
  for (icalproperty* property : ical::properties(master, ICAL_RRULE_PROPERTY)) {
    const icalrecurrencetype rule = icalproperty_get_rrule(property);
    if (rule.count <= 0)
      continue;
    const std::size_t before = countedStarts(*extent, rule, zone, originalStart).first;
    std::string problem;
    auto parsed = parseRecurrenceRule(ical::serializedValue(property), problem);
    if (!parsed)
      continue;
    parsed->count = std::max(1, rule.count - static_cast<int>(before));
    icalproperty_set_value(
        property, icalvalue_new_from_string(ICAL_RECUR_VALUE, recurrenceRuleText(*parsed).c_str()));
  }
  // The series begins there, as long as it was.
  const Instant end = endOf(*extent, originalStart) + (extent->allDay ? 1.0 : 0.0);
  ical::removeAll(master, ICAL_DURATION_PROPERTY);
  setTime(master, ICAL_DTSTART_PROPERTY, timeLike(extent->start, originalStart));
  setTime(master, ICAL_DTEND_PROPERTY,
          extent->allDay ? dateValue(localDate(end)) : timeLike(extent->start, end));
  for (const icalproperty_kind kind : {ICAL_RDATE_PROPERTY, ICAL_EXDATE_PROPERTY}) {
    for (icalproperty* property : ical::properties(master, kind)) {
      const auto value = part->times_->read(property);
      if (value && listedStart(extent, *value) < originalStart) {
        icalcomponent_remove_property(master, property);
        icalproperty_free(property);
      }
    }
  }
  for (icalcomponent* override : std::vector<icalcomponent*>(part->overrides_)) {
    const auto original = recurrenceIdOf(*part->times_, override, extent);
    if (original && *original < originalStart) {
      std::erase(part->overrides_, override);
      icalcomponent_remove_component(part->calendar_.get(), override);
      icalcomponent_free(override);
    }
  }
  part->setUid(uid);
  // Related to the series it was split from, as calendar programs relate the parts.
  ical::removeAll(master, ICAL_RELATEDTO_PROPERTY);
  icalproperty* related = icalproperty_new_relatedto(uid_.c_str());
  icalproperty_add_parameter(related, icalparameter_new_reltype(ICAL_RELTYPE_SIBLING));
  icalcomponent_add_property(master, related);
  ical::removeAll(master, ICAL_CREATED_PROPERTY);
  setUtcStamp(master, ICAL_CREATED_PROPERTY, now);
  return part;
}

bool Series::setRule(const std::string& rule, Instant now) {
  const auto extent = extentOf(*times_, master_);
  if (!extent)
    return false;
  ical::keepReadableOnceWritten(calendar_.get());
  if (rule.empty()) {
    // The single event of the first occurrence, without the occurrences changed on their own.
    const auto firstOne = first();
    if (firstOne) {
      const Instant start = firstOne->originalStart;
      const Instant end = endOf(*extent, start) + (extent->allDay ? 1.0 : 0.0);
      ical::removeAll(master_, ICAL_DURATION_PROPERTY);
      setTime(master_, ICAL_DTSTART_PROPERTY, timeLike(extent->start, start));
      setTime(master_, ICAL_DTEND_PROPERTY,
              extent->allDay ? dateValue(localDate(end)) : timeLike(extent->start, end));
    }
    for (const icalproperty_kind kind :
         {ICAL_RRULE_PROPERTY, ICAL_RDATE_PROPERTY, ICAL_EXDATE_PROPERTY, ICAL_EXRULE_PROPERTY}) {
      ical::removeAll(master_, kind);
    }
    for (icalcomponent* override : overrides_) {
      icalcomponent_remove_component(calendar_.get(), override);
      icalcomponent_free(override);
    }
    overrides_.clear();
  } else {
    std::string problem;
    auto parsed = parseRecurrenceRule(rule, problem);
    if (!parsed)
      return false;
    if (const auto until = untilInstant(*parsed))
      parsed->until = untilLike(extent->start, *until);
    icalvalue* value =
        icalvalue_new_from_string(ICAL_RECUR_VALUE, recurrenceRuleText(*parsed).c_str());
    if (!value)
      return false;
    ical::removeAll(master_, ICAL_RRULE_PROPERTY);
    icalproperty* property = icalproperty_new(ICAL_RRULE_PROPERTY);
    icalproperty_set_value(property, value);
    icalcomponent_add_property(master_, property);
    // Overrides of occurrences the new rule does not have would stand for nothing.
    for (icalcomponent* override : std::vector<icalcomponent*>(overrides_)) {
      const auto original = recurrenceIdOf(*times_, override, extent);
      if (original && !ruleStarts(*original, *original, *original + 1.0, 1).empty())
        continue;
      std::erase(overrides_, override);
      icalcomponent_remove_component(calendar_.get(), override);
      icalcomponent_free(override);
    }
  }
  restamp(master_, now);
  setUtcStamp(master_, ICAL_LASTMODIFIED_PROPERTY, now);
  return true;
}

std::string Series::text() const {
  return ical::serialize(calendar_.get());
}

}  // namespace tembra::local
