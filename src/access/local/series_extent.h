// Where the components of a series lie in time, as reading and editing a series both need it:
// their extents, the starts their dates name, and the wall-clock bounds of a window in a zone.
#pragma once

#include <libical/ical.h>

#include <cstdint>
#include <optional>

#include "access/calendar_store.h"
#include "access/local/times.h"
#include "records/civil.h"

namespace tembra::local {

// Far enough for any question: the recurrence itself ends with year 9999, whose last wall-clock
// time falls before this instant in every zone.
inline constexpr Instant kAfterYear9999{
    static_cast<double>((civil::daysFromCivil(10000, 1, 1) + 2) * 86400)};

// The value of the component's first property of the kind; none without one.
std::optional<TimeValue> timeOf(const TimeReader& reader, icalcomponent* component,
                                icalproperty_kind kind);

// The extent of a component in time: DTSTART to DTEND, or DTSTART plus DURATION; an all-day event
// lasts at least one day and ends one second before the midnight that follows its last day.
struct Extent {
  TimeValue start;
  bool allDay = false;
  int days = 0;        // for all-day events
  double seconds = 0;  // for timed events
};

// None for no component (a file of overrides alone has no master), or one whose DTSTART cannot
// be read.
std::optional<Extent> extentOf(const TimeReader& reader, icalcomponent* component);

// The end of an occurrence of the extent that starts at `start`.
Instant endOf(const Extent& extent, Instant start);

// The start a date or date-time of RDATE, EXDATE or RECURRENCE-ID names in a series. In a series
// of whole days, a date-time another tool wrote there stands for the day it names: that
// occurrence starts at the day's first moment, as it is written once saved.
Instant listedStart(const std::optional<Extent>& series, const TimeValue& value);

// The original start the component's RECURRENCE-ID names; none without one.
std::optional<Instant> recurrenceIdOf(const TimeReader& reader, icalcomponent* component,
                                      const std::optional<Extent>& series);

// The wall-clock time of a value, zone-less, as the recurrence iterator walks it.
icaltimetype wallClock(const TimeValue& value);

// Wall-clock bounds of a window in a zone: every time whose instant lies at or after `from`
// (before `to`) lies at or after (before) them.
std::int64_t wallAtOrBefore(const ZoneRules& zone, Instant from);
std::int64_t wallAtOrAfter(const ZoneRules& zone, Instant to);

}  // namespace tembra::local
