// Time zones and date-time properties.
#include "access/local/times.h"

#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <fstream>

namespace tembra::local {
namespace {

std::string zoneNameFromSystem() {
  if (const char* tz = std::getenv("TZ"); tz && *tz) {
    std::string name = tz;
    if (name.front() == ':')
      name.erase(0, 1);
    return name;
  }
  char target[PATH_MAX];
  const ssize_t length = ::readlink("/etc/localtime", target, sizeof target - 1);
  if (length > 0) {
    const std::string path(target, static_cast<std::size_t>(length));
    const auto at = path.find("zoneinfo/");
    if (at != std::string::npos)
      return path.substr(at + 9);
  }
  std::ifstream file("/etc/timezone");
  std::string name;
  if (file >> name)
    return name;
  return "UTC";
}

bool isUtcName(const std::string& name) {
  return name == "UTC" || name == "Etc/UTC" || name == "UTC0" || name == "GMT" ||
         name == "Etc/GMT" || name == "Z" || name == "Zulu" || name == "Etc/Zulu";
}

}  // namespace

std::string localZoneName() {
  return zoneNameFromSystem();
}

icaltimezone* localZone() {
  // The machine's zone does not change while the process runs.
  static icaltimezone* const zone = [] {
    const std::string name = zoneNameFromSystem();
    if (isUtcName(name))
      return icaltimezone_get_utc_timezone();
    icaltimezone* found = systemZone(name);
    return found ? found : icaltimezone_get_utc_timezone();
  }();
  return zone;
}

icaltimezone* systemZone(const std::string& tzid) {
  if (tzid.empty())
    return nullptr;
  if (isUtcName(tzid))
    return icaltimezone_get_utc_timezone();
  if (tzid.front() != '/') {
    if (icaltimezone* zone = icaltimezone_get_builtin_timezone(tzid.c_str()))
      return zone;
  }
  // Prefixed TZIDs ("/vendor/version/Area/City"): try each shorter tail.
  for (std::size_t slash = tzid.find('/'); slash != std::string::npos;
       slash = tzid.find('/', slash + 1)) {
    const std::string tail = tzid.substr(slash + 1);
    if (tail.empty() || tail.find('/') == std::string::npos)
      continue;
    if (icaltimezone* zone = icaltimezone_get_builtin_timezone(tail.c_str()))
      return zone;
  }
  return nullptr;
}

icaltimezone* TimeReader::zoneFor(const std::string& tzid) const {
  // A TZID that names a zone of the system's zone data is read with that zone: its rules are the
  // current ones, and libical works out a zone's transitions once per process instead of once
  // per file. Other TZIDs are looked up among the VTIMEZONEs of this calendar.
  if (icaltimezone* system = systemZone(tzid))
    return system;
  if (icaltimezone* own = icalcomponent_get_timezone(calendar_, tzid.c_str()))
    return own;
  return localZone();
}

std::optional<TimeValue> TimeReader::read(icalproperty* property) const {
  const icalvalue* value = icalproperty_get_value(property);
  if (!value)
    return std::nullopt;
  TimeValue result;
  switch (icalvalue_isa(value)) {
    case ICAL_DATE_VALUE:
    case ICAL_DATETIME_VALUE:
      result.time = icalvalue_get_datetime(value);
      break;
    case ICAL_DATETIMEPERIOD_VALUE: {
      const icaldatetimeperiodtype period = icalvalue_get_datetimeperiod(value);
      result.time = icaltime_is_null_time(period.time) ? period.period.start : period.time;
      break;
    }
    case ICAL_PERIOD_VALUE:
      result.time = icalvalue_get_period(value).start;
      break;
    default:
      return std::nullopt;
  }
  if (icaltime_is_null_time(result.time) || !icaltime_is_valid_time(result.time)) {
    return std::nullopt;
  }
  if (result.time.is_date) {
    result.form = TimeForm::date;
    result.zone = localZone();
  } else if (icaltime_is_utc(result.time)) {
    result.form = TimeForm::utc;
    result.zone = icaltimezone_get_utc_timezone();
  } else if (auto tzid = [&]() -> std::optional<std::string> {
               icalparameter* parameter =
                   icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
               const char* text = parameter ? icalparameter_get_tzid(parameter) : nullptr;
               return text ? std::optional<std::string>(text) : std::nullopt;
             }()) {
    result.form = TimeForm::zoned;
    result.tzid = *tzid;
    result.zone = zoneFor(*tzid);
  } else {
    result.form = TimeForm::floating;
    result.zone = localZone();
  }
  result.time.zone = nullptr;
  return result;
}

Instant instantOf(const TimeValue& value) {
  if (value.form == TimeForm::date)
    return localMidnight(value.time);
  icaltimetype time = value.time;
  time.zone = nullptr;
  return Instant{static_cast<double>(icaltime_as_timet_with_zone(time, value.zone))};
}

TimeValue timeLike(const TimeValue& like, Instant instant) {
  if (like.form == TimeForm::date)
    return dateValue(localDate(instant));
  if (like.form == TimeForm::utc)
    return utcValue(instant);
  TimeValue value = like;
  value.time =
      icaltime_from_timet_with_zone(static_cast<time_t>(std::floor(instant.seconds)), 0, like.zone);
  value.time.zone = nullptr;
  return value;
}

TimeValue dateValue(icaltimetype date) {
  TimeValue value;
  value.form = TimeForm::date;
  value.zone = localZone();
  value.time = icaltime_null_date();
  value.time.year = date.year;
  value.time.month = date.month;
  value.time.day = date.day;
  return value;
}

TimeValue utcValue(Instant instant) {
  TimeValue value;
  value.form = TimeForm::utc;
  value.zone = icaltimezone_get_utc_timezone();
  value.time = icaltime_from_timet_with_zone(static_cast<time_t>(std::floor(instant.seconds)), 0,
                                             value.zone);
  return value;
}

icaltimetype localDate(Instant instant) {
  icaltimetype date = icaltime_from_timet_with_zone(
      static_cast<time_t>(std::floor(instant.seconds)), 1, localZone());
  date.zone = nullptr;
  return date;
}

Instant localMidnight(icaltimetype date) {
  icaltimetype midnight = icaltime_null_time();
  midnight.year = date.year;
  midnight.month = date.month;
  midnight.day = date.day;
  return Instant{static_cast<double>(icaltime_as_timet_with_zone(midnight, localZone()))};
}

icaltimetype addDays(icaltimetype date, int days) {
  icaltimetype moved = date;
  icaltime_adjust(&moved, days, 0, 0, 0);
  return moved;
}

int daysBetween(icaltimetype from, icaltimetype to) {
  icaltimetype a = icaltime_null_time(), b = icaltime_null_time();
  a.year = from.year, a.month = from.month, a.day = from.day;
  b.year = to.year, b.month = to.month, b.day = to.day;
  const icaltimezone* utc = icaltimezone_get_utc_timezone();
  const auto seconds = icaltime_as_timet_with_zone(b, utc) - icaltime_as_timet_with_zone(a, utc);
  return static_cast<int>(seconds / 86400);
}

icalproperty* timeProperty(icalproperty_kind kind, const TimeValue& value) {
  icaltimetype time = value.time;
  time.zone = value.form == TimeForm::utc ? icaltimezone_get_utc_timezone() : nullptr;
  icalproperty* property = icalproperty_new(kind);
  icalproperty_set_value(property, value.form == TimeForm::date ? icalvalue_new_date(time)
                                                                : icalvalue_new_datetime(time));
  if (value.form == TimeForm::date) {
    icalproperty_add_parameter(property, icalparameter_new_value(ICAL_VALUE_DATE));
  } else if (value.form == TimeForm::zoned && value.tzid) {
    icalproperty_add_parameter(property, icalparameter_new_tzid(value.tzid->c_str()));
  }
  return property;
}

}  // namespace tembra::local
