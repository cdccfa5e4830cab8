// Date-times of EDS components as instants, and instants written back in the form a component
// uses: UTC, a TZID that the calendar defines, floating time, or a date. Floating times and dates
// belong to the local zone. iCalendar holds whole seconds: fractions are dropped on writing.
#pragma once

#include <libecal/libecal.h>

#include <optional>
#include <string>
#include <vector>

#include "access/calendar_store.h"
#include "access/eds/glib_handles.h"

namespace tembra::eds {

// The zone tembra runs in: $TZ when it names a zone libical knows (with or without a leading
// ":"), else the system's zone, else UTC. libical owns it.
ICalTimezone* localZone();

// The zones one calendar's times are read in.
class Zones {
 public:
  // `client` resolves the calendar's own TZIDs (its calls end when `cancellable` is cancelled);
  // without one only the system's zones are known.
  Zones(ECalClient* client, ICalTimezone* local, GCancellable* cancellable)
      : client_(client), local_(local), cancellable_(cancellable) {}

  ICalTimezone* local() const { return local_; }
  // The zone a TZID names: the calendar's definition, else the system zone of that name, else the
  // local zone.
  ICalTimezone* named(const std::string& tzid) const;

 private:
  ECalClient* client_;
  ICalTimezone* local_;
  GCancellable* cancellable_;
};

// How a date-time is written.
struct TimeForm {
  enum class Kind { utc, zoned, floating, date };
  Kind kind = Kind::utc;
  std::string tzid;  // for zoned: the TZID exactly as written
};

struct TimeValue {
  Ref<ICalTime> time;  // the wall-clock time or date as written
  TimeForm form;
};

// The value of a component's DTSTART, DTEND, RECURRENCE-ID or LAST-MODIFIED; absent when it has
// none, or holds no date.
std::optional<TimeValue> timeOf(ICalComponent* component, ICalPropertyKind kind);
// The value of one such property, or of an EXDATE or RDATE (none for an RDATE of a period).
std::optional<TimeValue> timeOf(ICalProperty* property);
// The TZID parameter of a property, if any.
std::optional<std::string> tzidOf(ICalProperty* property);
// Every TZID the component's properties and those of its components (alarms) name, each once.
std::vector<std::string> tzidsIn(ICalComponent* component);

Instant instantOf(const Zones& zones, const TimeValue& value);
// A time that carries its own zone, as the recurrence generator gives them; dates and floating
// times are local.
Instant instantOf(const Zones& zones, ICalTime* time);

// The instant as a value of the form: in its zone, or its local date for a date.
TimeValue timeIn(const Zones& zones, const TimeForm& form, Instant instant);
TimeValue utcTime(Instant instant);
// The date an instant falls on in the local zone, and the local midnight that starts a date.
TimeValue localDate(const Zones& zones, Instant instant);
Instant localMidnight(const Zones& zones, ICalTime* date);

// Replaces the component's properties of the kind (DTSTART, DTEND, RECURRENCE-ID, DTSTAMP,
// CREATED or LAST-MODIFIED) with one holding the value.
void setTime(ICalComponent* component, ICalPropertyKind kind, const TimeValue& value);
// A new property of one of those kinds, or an EXDATE or RDATE, holding the value.
Ref<ICalProperty> timeProperty(ICalPropertyKind kind, const TimeValue& value);
// The value as iCalendar writes it, without its TZID: "20240501T090000Z", "20240501".
std::string timeText(const TimeValue& value);

}  // namespace tembra::eds
