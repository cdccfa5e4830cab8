// Reading and changing one event series file.
#include "access/local/series.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "access/local/recurrence.h"
#include "access/local/unread_lines.h"
#include "access/recurrence_rule.h"
#include "records/civil.h"
#include "records/dates.h"
#include "records/utf8.h"

namespace tembra::local {
namespace {

// Starts are taken from the recurrence in pages of at most this many when they are wanted one
// by one (the first that no EXDATE removes).
constexpr std::size_t kFirstPage = 64;
// Far enough for any question: the recurrence itself ends with year 9999, whose last wall-clock
// time falls before this instant in every zone.
constexpr Instant kEndOfTime{static_cast<double>((civil::daysFromCivil(10000, 1, 1) + 2) * 86400)};
// Wall-clock time differs from UTC by the zone's offset; a window's wall-clock bounds allow for
// the offsets on either side of it and for a change of them by up to this much.
constexpr std::int64_t kOffsetChange = 3 * 3600;

using Key = std::int64_t;
Key keyOf(Instant instant) {
  return static_cast<Key>(std::llround(instant.seconds));
}

int dayNumber(icaltimetype date) {
  return date.year * 10000 + date.month * 100 + date.day;
}

bool overlaps(Instant start, Instant end, Instant from, Instant to) {
  if (start >= to)
    return false;
  return end > from || (start == end && start >= from);
}

// Wall-clock bounds of a window in a zone: every time whose instant lies at or after `from`
// (before `to`) lies at or after (before) them.
std::int64_t wallAtOrBefore(const ZoneRules& zone, Instant from) {
  const auto utc = static_cast<std::int64_t>(std::floor(from.seconds));
  return utc + std::min(zone.offsetAt(utc), zone.offsetAt(utc + 86400)) - kOffsetChange;
}
std::int64_t wallAtOrAfter(const ZoneRules& zone, Instant to) {
  const auto utc = static_cast<std::int64_t>(std::ceil(to.seconds));
  return utc + std::max(zone.offsetAt(utc - 86400), zone.offsetAt(utc)) + kOffsetChange;
}

std::optional<TimeValue> timeOf(const TimeReader& reader, icalcomponent* component,
                                icalproperty_kind kind) {
  icalproperty* property = icalcomponent_get_first_property(component, kind);
  if (!property)
    return std::nullopt;
  return reader.read(property);
}

// The extent of a component in time: DTSTART to DTEND, or DTSTART plus DURATION; an all-day event
// lasts at least one day and ends one second before the midnight that follows its last day.
struct Extent {
  TimeValue start;
  bool allDay = false;
  int days = 0;        // for all-day events
  double seconds = 0;  // for timed events
};

// None for no component: a file of overrides alone has no master.
std::optional<Extent> spanOf(const TimeReader& reader, icalcomponent* component) {
  if (!component)
    return std::nullopt;
  auto start = timeOf(reader, component, ICAL_DTSTART_PROPERTY);
  if (!start)
    return std::nullopt;
  Extent span{*start, start->form == TimeForm::date};
  const auto end = timeOf(reader, component, ICAL_DTEND_PROPERTY);
  icalproperty* duration = icalcomponent_get_first_property(component, ICAL_DURATION_PROPERTY);
  if (span.allDay) {
    if (end && end->form == TimeForm::date) {
      span.days = daysBetween(start->time, end->time);
    } else if (duration) {
      span.days = icaldurationtype_as_int(icalproperty_get_duration(duration)) / 86400;
    }
    span.days = std::max(span.days, 1);
  } else {
    if (end) {
      span.seconds = instantOf(*end).seconds - instantOf(*start).seconds;
    } else if (duration) {
      span.seconds = icaldurationtype_as_int(icalproperty_get_duration(duration));
    }
    span.seconds = std::max(span.seconds, 0.0);
  }
  return span;
}

Instant endOf(const Extent& span, Instant start) {
  if (!span.allDay)
    return start + span.seconds;
  return localMidnight(addDays(localDate(start), span.days)) + -1.0;
}

// The start a date or date-time of RDATE, EXDATE or RECURRENCE-ID names in a series. In a series
// of whole days, a date-time another tool wrote there stands for the day it names: that
// occurrence starts at the day's first moment, as it is written once saved.
Instant listedStart(const std::optional<Extent>& series, const TimeValue& value) {
  return series && series->allDay ? localMidnight(value.time) : instantOf(value);
}

std::optional<Instant> recurrenceIdOf(const TimeReader& reader, icalcomponent* component,
                                      const std::optional<Extent>& series) {
  auto value = timeOf(reader, component, ICAL_RECURRENCEID_PROPERTY);
  if (!value)
    return std::nullopt;
  return listedStart(series, *value);
}

// The wall-clock time of a value, zone-less, as the recurrence iterator walks it.
icaltimetype wallClock(const TimeValue& value) {
  icaltimetype time = value.time;
  time.zone = nullptr;
  return time;
}

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

void setTime(icalcomponent* component, icalproperty_kind kind, const TimeValue& value) {
  ical::removeAll(component, kind);
  icalcomponent_add_property(component, timeProperty(kind, value));
}

}  // namespace

namespace {

// Properties whose values place an event, or the zone it is read in, in time.
bool placesInTime(const std::string& name) {
  static constexpr std::string_view kNames[] = {
      "DTSTART", "DTEND",  "DURATION",      "RRULE",        "RDATE",
      "EXDATE",  "EXRULE", "RECURRENCE-ID", "TZOFFSETFROM", "TZOFFSETTO"};
  return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

// The first line set aside in the calendar that holds a time it cannot read; none when no such
// line is there. An empty value says nothing, and is no such line.
std::optional<std::string> unreadTime(icalcomponent* calendar) {
  for (icalcomponent* component : ical::descendants(calendar)) {
    for (icalproperty* property : ical::properties(component, ICAL_X_PROPERTY)) {
      const std::optional<std::string> line = ical::unreadLine(property);
      if (line && placesInTime(ical::nameOfLine(*line)) && ical::lineHasValue(*line))
        return line;
    }
  }
  return std::nullopt;
}

std::optional<Series> refused(std::string* problem, std::string why) {
  if (problem)
    *problem = std::move(why);
  return std::nullopt;
}

}  // namespace

bool supersedes(icalcomponent* later, icalcomponent* earlier) {
  const int laterSequence = icalcomponent_get_sequence(later);
  const int earlierSequence = icalcomponent_get_sequence(earlier);
  if (laterSequence != earlierSequence)
    return laterSequence > earlierSequence;
  return icaltime_compare(icalcomponent_get_dtstamp(later), icalcomponent_get_dtstamp(earlier)) > 0;
}

std::optional<Series> Series::parse(std::string_view text, std::string* problem) {
  ical::Component calendar = ical::parse(text);
  if (!calendar)
    return refused(problem, "it is not iCalendar text");
  if (const auto error = ical::firstParseError(calendar.get()))
    return refused(problem, "libical cannot read it: " + *error);
  if (const auto line = unreadTime(calendar.get()))
    return refused(problem, "a time in it cannot be read: " + repairUtf8(*line));
  Series series;
  series.times_ = std::make_unique<TimeReader>(calendar.get());
  const TimeReader& reader = *series.times_;
  for (icalcomponent* event : ical::children(calendar.get(), ICAL_VEVENT_COMPONENT)) {
    // Read as it will be written, so that saving the file keeps the event's identity.
    const std::string eventUid = ical::uid(event);
    if (series.master_ || !series.overrides_.empty()) {
      if (eventUid != series.uid_)
        return refused(problem, "it holds events of more than one UID");
    } else {
      series.uid_ = eventUid;
    }
    if (!spanOf(reader, event))
      return refused(problem, "an event in it has no start that can be read");
    if (icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY)) {
      if (!recurrenceIdOf(reader, event, std::nullopt))
        return refused(problem, "a RECURRENCE-ID in it cannot be read");
      series.overrides_.push_back(event);
    } else if (!series.master_ || supersedes(event, series.master_)) {
      series.master_ = event;
    }
  }
  if (!series.master_ && series.overrides_.empty())
    return refused(problem, "it holds no event");
  series.calendar_ = std::move(calendar);
  return series;
}

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

bool Series::repeats() const {
  if (!master_)
    return true;
  return icalcomponent_get_first_property(master_, ICAL_RRULE_PROPERTY) ||
         icalcomponent_get_first_property(master_, ICAL_RDATE_PROPERTY);
}

bool Series::bounded() const {
  if (!master_)
    return true;
  for (icalproperty* property : ical::properties(master_, ICAL_RRULE_PROPERTY)) {
    const icalrecurrencetype rule = icalproperty_get_rrule(property);
    if (rule.count == 0 && icaltime_is_null_time(rule.until))
      return false;
  }
  return true;
}

double Series::masterDuration() const {
  const auto span = spanOf(*times_, master_);
  if (!span)
    return 0;
  return span->allDay ? span->days * 86400.0 : span->seconds;
}

Series::Exclusions Series::exclusions() const {
  Exclusions found;
  if (!master_)
    return found;
  const auto span = spanOf(*times_, master_);
  for (icalproperty* property : ical::properties(master_, ICAL_EXDATE_PROPERTY)) {
    const auto value = times_->read(property);
    if (!value)
      continue;
    if (value->form == TimeForm::date) {
      found.days.insert(dayNumber(value->time));
    } else {
      found.instants.insert(keyOf(listedStart(span, *value)));
    }
  }
  return found;
}

bool Series::Exclusions::contains(Instant originalStart) const {
  if (instants.count(keyOf(originalStart)))
    return true;
  // An EXDATE given as a date removes the occurrence on that day.
  return !days.empty() && days.count(dayNumber(localDate(originalStart)));
}

std::map<std::int64_t, icalcomponent*> Series::overridesByStart() const {
  std::map<std::int64_t, icalcomponent*> found;
  const auto span = spanOf(*times_, master_);
  for (icalcomponent* override : overrides_)
    found.emplace(keyOf(*recurrenceIdOf(*times_, override, span)), override);
  return found;
}

icalcomponent* Series::overrideAt(Instant originalStart) const {
  const auto found = overridesByStart();
  const auto it = found.find(keyOf(originalStart));
  return it == found.end() ? nullptr : it->second;
}

std::optional<Occurrence> Series::occurrenceFor(Instant originalStart, icalcomponent* override,
                                                std::optional<double> length) const {
  if (override) {
    const auto span = spanOf(*times_, override);
    if (!span)
      return std::nullopt;
    const Instant start = instantOf(span->start);
    return Occurrence{override, start, endOf(*span, start), originalStart, true};
  }
  const auto span = spanOf(*times_, master_);
  if (!span)
    return std::nullopt;
  const Instant end =
      length && !span->allDay ? originalStart + *length : endOf(*span, originalStart);
  return Occurrence{master_, originalStart, end, originalStart, false};
}

std::map<std::int64_t, double> Series::periodLengths() const {
  std::map<std::int64_t, double> lengths;
  const auto span = spanOf(*times_, master_);
  if (!span || span->allDay)
    return lengths;
  for (icalproperty* property : ical::properties(master_, ICAL_RDATE_PROPERTY)) {
    const auto length = times_->periodLength(property);
    const auto start = times_->read(property);
    if (length && start)
      lengths.emplace(keyOf(listedStart(span, *start)), *length);
  }
  return lengths;
}

namespace {

// The length of the occurrence at `original`: its period's, when an RDATE gives one.
std::optional<double> lengthAt(const std::map<std::int64_t, double>& lengths, Instant original) {
  const auto found = lengths.find(keyOf(original));
  return found == lengths.end() ? std::nullopt : std::optional<double>(found->second);
}

}  // namespace

std::optional<Occurrence> Series::single() const {
  const auto span = spanOf(*times_, master_);
  if (!span)
    return std::nullopt;
  return occurrenceFor(instantOf(span->start), nullptr);
}

std::vector<Instant> Series::ruleStarts(Instant earliest, Instant from, Instant to,
                                        std::size_t limit) const {
  const auto span = spanOf(*times_, master_);
  if (!span)
    return {};
  std::set<Key> keys;
  const Instant dtstart = instantOf(span->start);
  if (dtstart >= earliest && dtstart < to)
    keys.insert(keyOf(dtstart));
  const ZoneRules& zone = span->start.rules ? *span->start.rules : utcRules();
  const bool isDate = span->start.time.is_date != 0;

  for (icalproperty* property : ical::properties(master_, ICAL_RRULE_PROPERTY)) {
    icalrecurrencetype rule = icalproperty_get_rrule(property);
    // The iterator walks wall-clock times; UNTIL is applied here, as an instant, since libical
    // would compare it with those times as if both were in one zone.
    std::optional<Instant> until;
    if (!icaltime_is_null_time(rule.until)) {
      TimeValue end = span->start;
      end.time = rule.until;
      if (icaltime_is_utc(rule.until)) {
        end.form = TimeForm::utc;
        end.rules = &utcRules();
      } else if (rule.until.is_date) {
        end.form = TimeForm::date;
      }
      end.time.zone = nullptr;
      until = instantOf(end);
      // A rule that ended before the window gives nothing in it.
      if (*until < earliest)
        continue;
    }
    const auto recurrence = Recurrence::make(rule, wallClock(span->start));
    if (!recurrence)
      continue;
    // No start precedes DTSTART, and none follows year 9999: the zone is asked about no others.
    const std::int64_t wallTo = std::min(
        wallAtOrAfter(zone, std::min(to, kEndOfTime)),
        until ? wallAtOrAfter(zone, *until) + 1 : std::numeric_limits<std::int64_t>::max());
    // Starts of the wall-clock window whose instants fall outside the window are passed over;
    // pages go on until the rule has given `limit` starts from `from` on, or has no more.
    std::size_t taken = 0;
    for (std::int64_t cursor = wallAtOrBefore(zone, std::max(earliest, dtstart)); taken < limit;) {
      const std::size_t wanted = limit - taken;
      const std::vector<std::int64_t> page = recurrence->starts(cursor, wallTo, wanted);
      for (const std::int64_t wall : page) {
        TimeValue value = span->start;
        value.time = wallTime(wall, isDate);
        const Instant start = instantOf(value);
        if (start < earliest || start >= to || (until && start > *until))
          continue;
        keys.insert(keyOf(start));
        if (start >= from)
          ++taken;
      }
      if (page.size() < wanted)
        break;
      cursor = page.back() + 1;
    }
  }
  for (icalproperty* property : ical::properties(master_, ICAL_RDATE_PROPERTY)) {
    if (const auto value = times_->read(property)) {
      const Instant start = listedStart(span, *value);
      if (start >= earliest && start < to)
        keys.insert(keyOf(start));
    }
  }
  // Each rule gave its earliest `limit`; together they give the earliest `limit` of the series.
  auto kept = keys.lower_bound(static_cast<Key>(std::ceil(from.seconds)));
  for (std::size_t counted = 0; kept != keys.end() && counted < limit; ++counted)
    ++kept;
  keys.erase(kept, keys.end());
  std::vector<Instant> starts;
  starts.reserve(keys.size());
  for (const Key key : keys)
    starts.push_back(Instant{static_cast<double>(key)});
  return starts;
}

std::vector<Occurrence> Series::occurrences(Instant from, Instant to) const {
  std::vector<Occurrence> found;
  std::set<Key> seen;
  if (master_ && !repeats()) {
    const auto only = single();
    if (only && overlaps(only->start, only->end, from, to))
      found.push_back(*only);
    return found;
  }
  const Exclusions excluded = exclusions();
  const auto overrides = overridesByStart();
  if (master_) {
    // Occurrences begun before the window reach into it by at most the longest of them.
    const auto lengths = periodLengths();
    double longest = masterDuration();
    for (const auto& [key, length] : lengths)
      longest = std::max(longest, length);
    const Instant earliest = from + -(longest + 1.0);
    for (const Instant original : ruleStarts(earliest, from, to, kMostOccurrencesPerWindow)) {
      if (excluded.contains(original))
        continue;
      const auto override = overrides.find(keyOf(original));
      const auto occurrence =
          occurrenceFor(original, override == overrides.end() ? nullptr : override->second,
                        lengthAt(lengths, original));
      seen.insert(keyOf(original));
      if (occurrence && overlaps(occurrence->start, occurrence->end, from, to))
        found.push_back(*occurrence);
    }
  }
  // An override may have moved its occurrence into the window from far outside it.
  for (const auto& [key, override] : overrides) {
    const Instant original{static_cast<double>(key)};
    if (seen.count(key) || excluded.contains(original))
      continue;
    const auto occurrence = occurrenceFor(original, override);
    if (occurrence && overlaps(occurrence->start, occurrence->end, from, to))
      found.push_back(*occurrence);
  }
  std::sort(found.begin(), found.end(), [](const Occurrence& a, const Occurrence& b) {
    return a.start < b.start || (a.start == b.start && a.originalStart < b.originalStart);
  });
  if (found.size() > kMostOccurrencesPerWindow)
    found.erase(found.begin() + kMostOccurrencesPerWindow, found.end());
  return found;
}

std::optional<Occurrence> Series::first() const {
  const Exclusions excluded = exclusions();
  std::optional<Instant> earliest;
  if (master_) {
    if (!repeats())
      return single();
    const auto span = spanOf(*times_, master_);
    // Page through the starts until one survives the EXDATEs; only they can hold it back.
    for (Instant cursor = span ? instantOf(span->start) : kEndOfTime; span && !earliest;) {
      const std::vector<Instant> page = ruleStarts(cursor, cursor, kEndOfTime, kFirstPage);
      for (const Instant original : page) {
        if (!excluded.contains(original)) {
          earliest = original;
          break;
        }
      }
      if (page.size() < kFirstPage)
        break;
      cursor = page.back() + 1.0;
    }
  }
  for (const auto& [key, override] : overridesByStart()) {
    const Instant original{static_cast<double>(key)};
    if (!excluded.contains(original) && (!earliest || original < *earliest))
      earliest = original;
  }
  if (!earliest)
    return std::nullopt;
  return occurrenceFor(*earliest, overrideAt(*earliest), lengthAt(periodLengths(), *earliest));
}

std::optional<Occurrence> Series::occurrenceAt(Instant originalStart) const {
  if (exclusions().contains(originalStart))
    return std::nullopt;
  if (icalcomponent* override = overrideAt(originalStart))
    return occurrenceFor(originalStart, override);
  if (!master_)
    return std::nullopt;
  if (!repeats()) {
    const auto only = single();
    return only && keyOf(only->originalStart) == keyOf(originalStart) ? only : std::nullopt;
  }
  // Only where the rule or an RDATE places an occurrence.
  const Instant at{static_cast<double>(keyOf(originalStart))};
  if (ruleStarts(at, at, at + 1.0, 1).empty())
    return std::nullopt;
  return occurrenceFor(at, nullptr, lengthAt(periodLengths(), at));
}

std::optional<std::string> Series::ruleText() const {
  if (!repeats())
    return std::nullopt;
  if (!master_)
    return std::string();
  icalproperty* rule = icalcomponent_get_first_property(master_, ICAL_RRULE_PROPERTY);
  if (!rule)
    return std::string();
  return canonicalRuleText(ical::serializedValue(rule));
}

bool hasAlarmFromEnd(icalcomponent* component) {
  for (icalcomponent* alarm : ical::children(component, ICAL_VALARM_COMPONENT)) {
    icalproperty* trigger = icalcomponent_get_first_property(alarm, ICAL_TRIGGER_PROPERTY);
    icalparameter* related =
        trigger ? icalproperty_get_first_parameter(trigger, ICAL_RELATED_PARAMETER) : nullptr;
    if (related && icalparameter_get_related(related) == ICAL_RELATED_END)
      return true;
  }
  return false;
}

std::optional<Alarm> Series::alarmOf(icalcomponent* alarm, double duration) const {
  icalproperty* property = icalcomponent_get_first_property(alarm, ICAL_TRIGGER_PROPERTY);
  if (!property)
    return std::nullopt;
  icaltriggertype trigger = icalproperty_get_trigger(property);
  if (const std::optional<icaltimetype> day = ical::triggerDay(property))
    trigger.time = *day;  // at its first moment
  if (!icaltime_is_null_time(trigger.time)) {
    // Absolute triggers are UTC. Some tools write them as floating time, which is read in the
    // local zone, or with a TZID, which is read in that zone.
    const ZoneRules* rules = &localZone();
    if (icaltime_is_utc(trigger.time)) {
      rules = &utcRules();
    } else if (auto tzid = ical::parameterText(property, ICAL_TZID_PARAMETER)) {
      rules = &times_->zoneFor(*tzid);
    }
    return Alarm::withAbsoluteDate(
        Instant{static_cast<double>(rules->utcOf(wallSeconds(trigger.time)))});
  }
  double offset = icaldurationtype_as_int(trigger.duration);
  icalparameter* related = icalproperty_get_first_parameter(property, ICAL_RELATED_PARAMETER);
  if (related && icalparameter_get_related(related) == ICAL_RELATED_END)
    offset += duration;
  return Alarm::withRelativeOffset(offset);
}

std::vector<Alarm> Series::alarmsOf(icalcomponent* component, double duration) const {
  std::vector<Alarm> alarms;
  for (icalcomponent* alarm : ical::children(component, ICAL_VALARM_COMPONENT)) {
    if (const auto read = alarmOf(alarm, duration))
      alarms.push_back(*read);
  }
  return alarms;
}

Event Series::eventAt(const Occurrence& occurrence) const {
  icalcomponent* component = occurrence.component;
  Event event;
  event.title = ical::text(component, ICAL_SUMMARY_PROPERTY);
  event.notes = ical::text(component, ICAL_DESCRIPTION_PROPERTY);
  event.location = ical::text(component, ICAL_LOCATION_PROPERTY);
  event.startDate = occurrence.start;
  event.endDate = occurrence.end;
  const auto span = spanOf(*times_, component);
  event.isAllDay = span && span->allDay;
  // An all-day occurrence is shown ending a second before the midnight that ends it; its alarms
  // count from that midnight, where DTEND lies.
  const double duration =
      occurrence.end.seconds - occurrence.start.seconds + (event.isAllDay ? 1.0 : 0.0);
  event.alarms = alarmsOf(component, duration);
  if (const auto modified = timeOf(*times_, component, ICAL_LASTMODIFIED_PROPERTY)) {
    event.lastModifiedDate = instantOf(*modified);
  }
  if (!uid_.empty())
    event.calendarItemExternalIdentifier = repairUtf8(uid_);
  event.hasRecurrenceRules = repeats();
  event.isDetached = occurrence.detached;
  if (repeats())
    event.occurrenceDate = occurrence.originalStart;
  event.recurrenceRule = ruleText();
  return event;
}

namespace {

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
std::pair<TimeValue, TimeValue> writtenSpan(const Event& event, const TimeValue& form,
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
  const auto [start, end] = writtenSpan(event, form, now);
  if (!isStorable(start) || !isStorable(end))
    return false;
  return std::all_of(event.alarms.begin(), event.alarms.end(), [](const Alarm& alarm) {
    return alarm.absoluteDate ? isStorable(utcValue(*alarm.absoluteDate))
                              : storableOffset(alarm.relativeOffset).has_value();
  });
}

}  // namespace

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
    const auto [startValue, endValue] = writtenSpan(event, form, now);
    setTime(target, ICAL_DTSTART_PROPERTY, startValue);
    setTime(target, ICAL_DTEND_PROPERTY, endValue);
  }

  if (!stored || event.alarms != stored->alarms) {
    // An alarm the event keeps stays the VALARM it was, with what tembra does not model: a
    // trigger related to the end, a sound, another tool's properties. The others are new.
    const auto [startValue, endValue] = writtenSpan(event, form, now);
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
  setUtcStamp(target, ICAL_DTSTAMP_PROPERTY, now);
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
      const auto masterSpan = spanOf(*times_, master_);
      const TimeValue keyForm =
          masterSpan ? masterSpan->start : utcValue(occurrence->originalStart);
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
  const auto original = recurrenceIdOf(*times_, target, spanOf(*times_, master_));
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
  const auto span = spanOf(*times_, master_);
  if (span) {
    icalcomponent_add_property(
        master_,
        timeProperty(ICAL_EXDATE_PROPERTY, timeLike(span->start, occurrence.originalStart)));
    setUtcStamp(master_, ICAL_DTSTAMP_PROPERTY, now);
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

namespace {

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
       recurrence->starts(wallAtOrBefore(zone, at), wallAtOrAfter(zone, kEndOfTime), 4096)) {
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

std::optional<Occurrence> Series::applyToAll(const Event& event, const Occurrence& named,
                                             Instant now) {
  const auto masterSpan = spanOf(*times_, master_);
  if (!masterSpan)
    return std::nullopt;
  // Each occurrence moves as far as the change moves the one named, and takes the fields the
  // change set onto what it holds itself.
  const OccurrenceShift shift = occurrenceShift(event, eventAt(named));
  const double byStart = shift.start;
  const auto movedOnto = [&](const Event& own) { return shift.onto(event, own); };
  ical::keepReadableOnceWritten(calendar_.get());

  const Occurrence masterOccurrence = *occurrenceFor(instantOf(masterSpan->start), nullptr);
  const Event masterStored = eventAt(masterOccurrence);
  const Event masterChanged = movedOnto(masterStored);
  const TimeValue form =
      masterSpan->allDay ? utcValue(*masterChanged.startDate) : masterSpan->start;
  if (!holds(masterChanged, form, now))
    return std::nullopt;
  // Overrides, EXDATEs and RDATEs keep naming the occurrences they named, in the form DTSTART
  // takes now; moved by how far the rule's starts move.
  std::vector<std::pair<icalcomponent*, Event>> overrides;
  for (icalcomponent* override : overrides_) {
    const auto original = recurrenceIdOf(*times_, override, masterSpan);
    const auto occurrence = original ? occurrenceFor(*original, override) : std::nullopt;
    if (occurrence)
      overrides.emplace_back(override, eventAt(*occurrence));
  }
  writeFields(master_, masterChanged, masterStored, form, now);
  const auto newSpan = spanOf(*times_, master_);
  if (!newSpan)
    return std::nullopt;
  const bool reform = newSpan->allDay != masterSpan->allDay;
  if (byStart != 0 || reform) {
    // A rule ends where it ended, moved as far: its last occurrence stays within it.
    for (icalproperty* property : ical::properties(master_, ICAL_RRULE_PROPERTY)) {
      std::string problem;
      auto parsed = parseRecurrenceRule(ical::serializedValue(property), problem);
      const auto until = parsed ? untilInstant(*parsed) : std::nullopt;
      if (!until)
        continue;
      parsed->until = untilLike(newSpan->start, *until + byStart);
      if (icalvalue* value =
              icalvalue_new_from_string(ICAL_RECUR_VALUE, recurrenceRuleText(*parsed).c_str()))
        icalproperty_set_value(property, value);
    }
    for (const icalproperty_kind kind : {ICAL_EXDATE_PROPERTY, ICAL_RDATE_PROPERTY}) {
      for (icalproperty* property : ical::properties(master_, kind)) {
        if (!times_->periodLength(property))
          moveTime(*times_, property, byStart, newSpan->start, masterSpan);
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
        moveTime(*times_, key, byStart, newSpan->start, masterSpan);
    }
  }
  addMissingTimeZones();
  return occurrenceAt(named.originalStart + byStart);
}

void Series::endBefore(Instant originalStart, Instant now) {
  const auto span = spanOf(*times_, master_);
  if (!span)
    return;
  const ZoneRules& zone = span->start.rules ? *span->start.rules : utcRules();
  // Each rule that still has a start from then on ends just before it.
  for (icalproperty* property : ical::properties(master_, ICAL_RRULE_PROPERTY)) {
    icalrecurrencetype rule = icalproperty_get_rrule(property);
    bool later = true;
    if (!icaltime_is_null_time(rule.until)) {
      TimeValue until = span->start;
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
      later = countedStarts(*span, rule, zone, originalStart).second;
    }
    if (!later)
      continue;
    std::string problem;
    auto parsed = parseRecurrenceRule(ical::serializedValue(property), problem);
    if (!parsed)
      continue;
    parsed->count.reset();
    // An all-day series ends with the day before.
    parsed->until = untilLike(span->start, originalStart + (span->allDay ? -86400.0 : -1.0));
    icalproperty_set_value(
        property, icalvalue_new_from_string(ICAL_RECUR_VALUE, recurrenceRuleText(*parsed).c_str()));
  }
  // Dates from then on, and the overrides of occurrences from then on, go.
  for (const icalproperty_kind kind : {ICAL_RDATE_PROPERTY, ICAL_EXDATE_PROPERTY}) {
    for (icalproperty* property : ical::properties(master_, kind)) {
      const auto value = times_->read(property);
      if (value && listedStart(span, *value) >= originalStart) {
        icalcomponent_remove_property(master_, property);
        icalproperty_free(property);
      }
    }
  }
  for (icalcomponent* override : std::vector<icalcomponent*>(overrides_)) {
    const auto original = recurrenceIdOf(*times_, override, span);
    if (original && *original >= originalStart) {
      std::erase(overrides_, override);
      icalcomponent_remove_component(calendar_.get(), override);
      icalcomponent_free(override);
    }
  }
  setUtcStamp(master_, ICAL_DTSTAMP_PROPERTY, now);
  setUtcStamp(master_, ICAL_LASTMODIFIED_PROPERTY, now);
}

std::optional<Series> Series::partFrom(Instant originalStart, const std::string& uid,
                                       Instant now) const {
  std::optional<Series> part = Series::parse(text());
  const auto span = spanOf(*times_, master_);
  if (!part || !span)
    return std::nullopt;
  const ZoneRules& zone = span->start.rules ? *span->start.rules : utcRules();
  icalcomponent* master = part->master_;
  // A COUNT counts from the new start what is left of it.
  for (icalproperty* property : ical::properties(master, ICAL_RRULE_PROPERTY)) {
    const icalrecurrencetype rule = icalproperty_get_rrule(property);
    if (rule.count <= 0)
      continue;
    const std::size_t before = countedStarts(*span, rule, zone, originalStart).first;
    std::string problem;
    auto parsed = parseRecurrenceRule(ical::serializedValue(property), problem);
    if (!parsed)
      continue;
    parsed->count = std::max(1, rule.count - static_cast<int>(before));
    icalproperty_set_value(
        property, icalvalue_new_from_string(ICAL_RECUR_VALUE, recurrenceRuleText(*parsed).c_str()));
  }
  // The series begins there, as long as it was.
  const Instant end = endOf(*span, originalStart) + (span->allDay ? 1.0 : 0.0);
  ical::removeAll(master, ICAL_DURATION_PROPERTY);
  setTime(master, ICAL_DTSTART_PROPERTY, timeLike(span->start, originalStart));
  setTime(master, ICAL_DTEND_PROPERTY,
          span->allDay ? dateValue(localDate(end)) : timeLike(span->start, end));
  for (const icalproperty_kind kind : {ICAL_RDATE_PROPERTY, ICAL_EXDATE_PROPERTY}) {
    for (icalproperty* property : ical::properties(master, kind)) {
      const auto value = part->times_->read(property);
      if (value && listedStart(span, *value) < originalStart) {
        icalcomponent_remove_property(master, property);
        icalproperty_free(property);
      }
    }
  }
  for (icalcomponent* override : std::vector<icalcomponent*>(part->overrides_)) {
    const auto original = recurrenceIdOf(*part->times_, override, span);
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
  const auto span = spanOf(*times_, master_);
  if (!span)
    return false;
  ical::keepReadableOnceWritten(calendar_.get());
  if (rule.empty()) {
    // The single event of the first occurrence, without the occurrences changed on their own.
    const auto firstOne = first();
    if (firstOne) {
      const Instant start = firstOne->originalStart;
      const Instant end = endOf(*span, start) + (span->allDay ? 1.0 : 0.0);
      ical::removeAll(master_, ICAL_DURATION_PROPERTY);
      setTime(master_, ICAL_DTSTART_PROPERTY, timeLike(span->start, start));
      setTime(master_, ICAL_DTEND_PROPERTY,
              span->allDay ? dateValue(localDate(end)) : timeLike(span->start, end));
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
      parsed->until = untilLike(span->start, *until);
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
      const auto original = recurrenceIdOf(*times_, override, span);
      if (original && !ruleStarts(*original, *original, *original + 1.0, 1).empty())
        continue;
      std::erase(overrides_, override);
      icalcomponent_remove_component(calendar_.get(), override);
      icalcomponent_free(override);
    }
  }
  setUtcStamp(master_, ICAL_DTSTAMP_PROPERTY, now);
  setUtcStamp(master_, ICAL_LASTMODIFIED_PROPERTY, now);
  return true;
}

std::string Series::text() const {
  return ical::serialize(calendar_.get());
}

}  // namespace tembra::local
