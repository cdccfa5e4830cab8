// Date-time properties of iCalendar files as instants: TZIDs resolved against the system's
// time-zone data and then the file's own VTIMEZONEs, floating times and dates in the local zone.
#pragma once

#include <libical/ical.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "access/calendar_store.h"
#include "access/local/zone_rules.h"

namespace tembra::local {

// The zone of the machine the store lives on ($TZ, else /etc/localtime), or UTC. Floating times,
// all-day dates and TZIDs that name no known zone are read in it.
const ZoneRules& localRules();
// The name of that zone ("UTC" for every name of UTC).
std::string localZoneName();

// The rules a TZID names in the system's data: an Olson name ("Europe/Berlin"), also behind a
// prefix such as "/mozilla.org/20050126_1/Europe/Berlin"; null when none.
const ZoneRules* systemZoneFor(const std::string& tzid);

// libical's definition of a system zone, for writing its VTIMEZONE; null when it has none.
icaltimezone* builtinZone(const std::string& tzid);

// How a date-time is written in a file.
enum class TimeForm { date, utc, zoned, floating };

// A date-time property's value with the zone it is read in.
struct TimeValue {
  icaltimetype time{};  // as written; its own zone field is not used
  TimeForm form = TimeForm::utc;
  const ZoneRules* rules = nullptr;  // UTC for utc, the local zone for date and floating
  std::optional<std::string> tzid;   // as written, for zoned
};

// Resolves times against one VCALENDAR. Values it reads may point at zones it owns (those only
// the file's VTIMEZONEs define), so it outlives them.
class TimeReader {
 public:
  explicit TimeReader(icalcomponent* calendar) : calendar_(calendar) {}
  TimeReader(const TimeReader&) = delete;
  TimeReader& operator=(const TimeReader&) = delete;

  // The value of a DTSTART, DTEND, RECURRENCE-ID, EXDATE or RDATE property; absent when the
  // property holds no date or date-time.
  std::optional<TimeValue> read(icalproperty* property) const;
  // The length of the period an RDATE of VALUE=PERIOD names, from its end or its duration (none
  // below zero); absent for an RDATE of a date or date-time, and for a period it cannot read.
  std::optional<double> periodLength(icalproperty* property) const;
  const ZoneRules& zoneFor(const std::string& tzid) const;

 private:
  icalcomponent* calendar_;
  mutable std::map<std::string, std::unique_ptr<ZoneRules>> ownZones_;
};

Instant instantOf(const TimeValue& value);
// The same instant written in the form of `like` (its zone and TZID), or as a date for dates.
TimeValue timeLike(const TimeValue& like, Instant instant);
// A date (no time of day) in the local zone.
TimeValue dateValue(icaltimetype date);
TimeValue utcValue(Instant instant);

// The local calendar date an instant falls on.
icaltimetype localDate(Instant instant);
// Midnight at the start of a local date.
Instant localMidnight(icaltimetype date);
icaltimetype addDays(icaltimetype date, int days);
// Whole days from one date to another.
int daysBetween(icaltimetype from, icaltimetype to);
// Seconds since 1970 of a wall-clock time read as if it were UTC, and back.
std::int64_t wallSeconds(icaltimetype time);
icaltimetype wallTime(std::int64_t seconds, bool isDate);

// True when the value's year is one that iCalendar text holds: four digits, 0000 to 9999.
bool isStorable(const TimeValue& value);

// The value as iCalendar writes it: 20240501T090000Z, 20240501T090000 or 20240501.
std::string valueText(const TimeValue& value);

// A property of the kind holding the value, with VALUE=DATE or TZID as the form needs.
icalproperty* timeProperty(icalproperty_kind kind, const TimeValue& value);

}  // namespace tembra::local
