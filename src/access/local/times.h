// Date-time properties of iCalendar files as instants: TZIDs resolved against the file's own
// VTIMEZONEs and then the system's time-zone data, floating times and dates in the local zone.
#pragma once

#include <libical/ical.h>

#include <optional>
#include <string>

#include "access/calendar_store.h"

namespace tembra::local {

// The zone of the machine the store lives on ($TZ, else /etc/localtime), or UTC. Floating times,
// all-day dates and TZIDs that name no known zone are read in it.
icaltimezone* localZone();
// The name of that zone as the machine gives it ("UTC" when it gives none).
std::string localZoneName();

// The system zone a TZID names: an Olson name ("Europe/Berlin"), also behind a prefix such as
// "/mozilla.org/20050126_1/Europe/Berlin"; null when none is known.
icaltimezone* systemZone(const std::string& tzid);

// How a date-time is written in a file.
enum class TimeForm { date, utc, zoned, floating };

// A date-time property's value with the zone it is read in. The zone pointer is valid while the
// VCALENDAR it was resolved against lives.
struct TimeValue {
  icaltimetype time{};  // as written; its own zone field is not used
  TimeForm form = TimeForm::utc;
  icaltimezone* zone = nullptr;     // UTC for utc, the local zone for date and floating
  std::optional<std::string> tzid;  // as written, for zoned
};

// Resolves times against one VCALENDAR.
class TimeReader {
 public:
  explicit TimeReader(icalcomponent* calendar) : calendar_(calendar) {}

  // The value of a DTSTART, DTEND, RECURRENCE-ID, EXDATE or RDATE property; absent when the
  // property holds no date or date-time.
  std::optional<TimeValue> read(icalproperty* property) const;
  icaltimezone* zoneFor(const std::string& tzid) const;

 private:
  icalcomponent* calendar_;
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

// A property of the kind holding the value, with VALUE=DATE or TZID as the form needs.
icalproperty* timeProperty(icalproperty_kind kind, const TimeValue& value);

}  // namespace tembra::local
