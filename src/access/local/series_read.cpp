// Reading one event series file: parsing it, where its occurrences fall, and the events they show.
#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "access/local/recurrence.h"
#include "access/local/series.h"
#include "access/local/series_extent.h"
#include "access/local/unread_lines.h"
#include "access/recurrence_rule.h"
#include "records/dates.h"
#include "records/utf8.h"

namespace tembra::local {
namespace {

// Starts are taken from the recurrence in pages of at most this many when they are wanted one
// by one (the first that no EXDATE removes).
constexpr std::size_t kFirstPage = 64;

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
    if (!extentOf(reader, event))
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
  const auto extent = extentOf(*times_, master_);
  if (!extent)
    return 0;
  return extent->allDay ? extent->days * 86400.0 : extent->seconds;
}

Series::Exclusions Series::exclusions() const {
  Exclusions found;
  if (!master_)
    return found;
  const auto extent = extentOf(*times_, master_);
  for (icalproperty* property : ical::properties(master_, ICAL_EXDATE_PROPERTY)) {
    const auto value = times_->read(property);
    if (!value)
      continue;
    if (value->form == TimeForm::date) {
      found.days.insert(dayNumber(value->time));
    } else {
      found.instants.insert(keyOf(listedStart(extent, *value)));
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
  const auto extent = extentOf(*times_, master_);
  for (icalcomponent* override : overrides_)
    found.emplace(keyOf(*recurrenceIdOf(*times_, override, extent)), override);
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
    const auto extent = extentOf(*times_, override);
    if (!extent)
      return std::nullopt;
    const Instant start = instantOf(extent->start);
    return Occurrence{override, start, endOf(*extent, start), originalStart, true};
  }
  const auto extent = extentOf(*times_, master_);
  if (!extent)
    return std::nullopt;
  const Instant end =
      length && !extent->allDay ? originalStart + *length : endOf(*extent, originalStart);
  return Occurrence{master_, originalStart, end, originalStart, false};
}

std::map<std::int64_t, double> Series::periodLengths() const {
  std::map<std::int64_t, double> lengths;
  const auto extent = extentOf(*times_, master_);
  if (!extent || extent->allDay)
    return lengths;
  for (icalproperty* property : ical::properties(master_, ICAL_RDATE_PROPERTY)) {
    const auto length = times_->periodLength(property);
    const auto start = times_->read(property);
    if (length && start)
      lengths.emplace(keyOf(listedStart(extent, *start)), *length);
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
  const auto extent = extentOf(*times_, master_);
  if (!extent)
    return std::nullopt;
  return occurrenceFor(instantOf(extent->start), nullptr);
}

std::vector<Instant> Series::ruleStarts(Instant earliest, Instant from, Instant to,
                                        std::size_t limit) const {
  const auto extent = extentOf(*times_, master_);
  if (!extent)
    return {};
  std::set<Key> keys;
  const Instant dtstart = instantOf(extent->start);
  if (dtstart >= earliest && dtstart < to)
    keys.insert(keyOf(dtstart));
  const ZoneRules& zone = extent->start.rules ? *extent->start.rules : utcRules();
  const bool isDate = extent->start.time.is_date != 0;

  for (icalproperty* property : ical::properties(master_, ICAL_RRULE_PROPERTY)) {
    icalrecurrencetype rule = icalproperty_get_rrule(property);
    // The iterator walks wall-clock times; UNTIL is applied here, as an instant, since libical
    // would compare it with those times as if both were in one zone.
    std::optional<Instant> until;
    if (!icaltime_is_null_time(rule.until)) {
      TimeValue end = extent->start;
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
    const auto recurrence = Recurrence::make(rule, wallClock(extent->start));
    if (!recurrence)
      continue;
    // No start precedes DTSTART, and none follows year 9999: the zone is asked about no others.
    const std::int64_t wallTo = std::min(
        wallAtOrAfter(zone, std::min(to, kAfterYear9999)),
        until ? wallAtOrAfter(zone, *until) + 1 : std::numeric_limits<std::int64_t>::max());
    // Starts of the wall-clock window whose instants fall outside the window are passed over;
    // pages go on until the rule has given `limit` starts from `from` on, or has no more.
    std::size_t taken = 0;
    for (std::int64_t cursor = wallAtOrBefore(zone, std::max(earliest, dtstart)); taken < limit;) {
      const std::size_t wanted = limit - taken;
      const std::vector<std::int64_t> page = recurrence->starts(cursor, wallTo, wanted);
      for (const std::int64_t wall : page) {
        TimeValue value = extent->start;
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
      const Instant start = listedStart(extent, *value);
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
    const auto extent = extentOf(*times_, master_);
    // Page through the starts until one survives the EXDATEs; only they can hold it back.
    for (Instant cursor = extent ? instantOf(extent->start) : kAfterYear9999;
         extent && !earliest;) {
      const std::vector<Instant> page = ruleStarts(cursor, cursor, kAfterYear9999, kFirstPage);
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
    const ZoneRules* rules = &localRules();
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
  const auto extent = extentOf(*times_, component);
  event.isAllDay = extent && extent->allDay;
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

}  // namespace tembra::local
