// Time zones and date-time properties.
#include "access/local/times.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "access/local/files.h"
#include "access/zone_setting.h"
#include "records/civil.h"

namespace tembra::local {
namespace {

// TZIDs of UTC that files use.
bool isUtcName(const std::string& name) {
  return name == "UTC" || name == "Etc/UTC" || name == "UTC0" || name == "GMT" ||
         name == "Etc/GMT" || name == "Z" || name == "Zulu" || name == "Etc/Zulu";
}

// A zone only a file's VTIMEZONE defines, through libical.
class VtimezoneRules final : public ZoneRules {
 public:
  explicit VtimezoneRules(icaltimezone* zone) : zone_(zone) {}
  int offsetAt(std::int64_t utc) const override {
    icaltimetype time =
        icaltime_from_timet_with_zone(static_cast<time_t>(utc), 0, icaltimezone_get_utc_timezone());
    return icaltimezone_get_utc_offset_of_utc_time(zone_, &time, nullptr);
  }

 private:
  icaltimezone* zone_;  // owned by the VCALENDAR, which outlives this
};

// A date or date-time that names a real time of years 0000 to 9999, all that iCalendar text holds.
// libical parses any digits (month 13, 30 February) and its own check refuses every year after
// 3000. A leap second (:60) is kept: it reads as the first second of the next minute.
bool isReadableTime(const icaltimetype& time) {
  if (time.year < 0 || time.year > 9999 || time.month < 1 || time.month > 12 || time.day < 1 ||
      static_cast<unsigned>(time.day) >
          civil::daysInMonth(time.year, static_cast<unsigned>(time.month))) {
    return false;
  }
  return time.is_date || (time.hour >= 0 && time.hour < 24 && time.minute >= 0 &&
                          time.minute < 60 && time.second >= 0 && time.second <= 60);
}

std::int64_t floorSeconds(Instant instant) {
  return static_cast<std::int64_t>(std::floor(instant.seconds));
}

}  // namespace

// The machine's zone does not change while the process runs.
const ZoneSetting& machineZone() {
  static const ZoneSetting setting = zoneSetting();
  return setting;
}

std::string localZoneName() {
  return machineZone().identity;
}

const ZoneRules& localRules() {
  static const std::unique_ptr<ZoneRules> own = []() -> std::unique_ptr<ZoneRules> {
    const ZoneSetting& setting = machineZone();
    if (setting.kind == ZoneSetting::Kind::posix)
      return posixZoneRules(*setting.posix);
    if (setting.kind == ZoneSetting::Kind::file) {
      if (const auto bytes = readFile(setting.name, Links::follow))
        return parseTzif(*bytes);
    }
    return nullptr;
  }();
  static const ZoneRules* const zone = [] {
    const ZoneRules* named = machineZone().kind == ZoneSetting::Kind::named
                                 ? systemZoneRules(machineZone().name)
                                 : nullptr;
    return own ? own.get() : named ? named : &utcRules();
  }();
  return *zone;
}

const ZoneRules* systemZoneFor(const std::string& tzid) {
  if (tzid.empty())
    return nullptr;
  if (isUtcName(tzid))
    return &utcRules();
  if (tzid.front() != '/') {
    if (const ZoneRules* rules = systemZoneRules(tzid))
      return rules;
  }
  // Prefixed TZIDs ("/vendor/version/Area/City"): try each shorter tail with an area.
  for (std::size_t slash = tzid.find('/'); slash != std::string::npos;
       slash = tzid.find('/', slash + 1)) {
    const std::string tail = tzid.substr(slash + 1);
    if (tail.empty() || tail.find('/') == std::string::npos)
      continue;
    if (const ZoneRules* rules = systemZoneRules(tail))
      return rules;
  }
  return nullptr;
}

icaltimezone* builtinZone(const std::string& tzid) {
  if (tzid.empty() || isUtcName(tzid))
    return nullptr;
  for (std::size_t start = 0; start != std::string::npos;) {
    const std::string tail = tzid.substr(start);
    if (!tail.empty() && tail.front() != '/') {
      if (icaltimezone* zone = icaltimezone_get_builtin_timezone(tail.c_str()))
        return zone;
    }
    const auto slash = tzid.find('/', start + 1);
    start = slash == std::string::npos ? slash : slash + 1;
  }
  return nullptr;
}

const ZoneRules& TimeReader::zoneFor(const std::string& tzid) const {
  // A TZID that names a zone of the system's data is read with it: its rules are the current
  // ones. Other TZIDs are looked up among the VTIMEZONEs of this calendar.
  if (const ZoneRules* system = systemZoneFor(tzid))
    return *system;
  const auto known = ownZones_.find(tzid);
  if (known != ownZones_.end())
    return known->second ? *known->second : localRules();
  std::unique_ptr<ZoneRules> own;
  if (icaltimezone* zone = icalcomponent_get_timezone(calendar_, tzid.c_str())) {
    own = std::make_unique<VtimezoneRules>(zone);
  }
  const ZoneRules* rules = own.get();
  ownZones_.emplace(tzid, std::move(own));
  return rules ? *rules : localRules();
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
  if (icaltime_is_null_time(result.time) || !isReadableTime(result.time)) {
    return std::nullopt;
  }
  icalparameter* tzid = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
  const char* tzidText = tzid ? icalparameter_get_tzid(tzid) : nullptr;
  if (result.time.is_date) {
    result.form = TimeForm::date;
    result.rules = &localRules();
  } else if (icaltime_is_utc(result.time)) {
    result.form = TimeForm::utc;
    result.rules = &utcRules();
  } else if (tzidText) {
    result.form = TimeForm::zoned;
    result.tzid = tzidText;
    result.rules = &zoneFor(*result.tzid);
  } else {
    result.form = TimeForm::floating;
    result.rules = &localRules();
  }
  result.time.zone = nullptr;
  return result;
}

std::optional<double> TimeReader::periodLength(icalproperty* property) const {
  const icalvalue* value = icalproperty_get_value(property);
  if (!value)
    return std::nullopt;
  icalperiodtype period;
  if (icalvalue_isa(value) == ICAL_PERIOD_VALUE) {
    period = icalvalue_get_period(value);
  } else if (icalvalue_isa(value) == ICAL_DATETIMEPERIOD_VALUE &&
             icaltime_is_null_time(icalvalue_get_datetimeperiod(value).time)) {
    period = icalvalue_get_datetimeperiod(value).period;
  } else {
    return std::nullopt;
  }
  const auto start = read(property);
  if (!start)
    return std::nullopt;
  if (icaltime_is_null_time(period.end))
    return std::max(0.0, static_cast<double>(icaldurationtype_as_int(period.duration)));
  if (!isReadableTime(period.end))
    return std::nullopt;
  // The end is in the start's zone, but for one written in UTC.
  TimeValue end = *start;
  end.time = period.end;
  end.time.zone = nullptr;
  if (icaltime_is_utc(period.end)) {
    end.form = TimeForm::utc;
    end.rules = &utcRules();
  }
  return std::max(0.0, instantOf(end).seconds - instantOf(*start).seconds);
}

std::int64_t wallSeconds(icaltimetype time) {
  const std::int64_t days = civil::daysFromCivil(time.year, static_cast<unsigned>(time.month),
                                                 static_cast<unsigned>(time.day));
  if (time.is_date)
    return days * 86400;
  return days * 86400 + time.hour * 3600 + time.minute * 60 + time.second;
}

icaltimetype wallTime(std::int64_t seconds, bool isDate) {
  const std::int64_t days = civil::floorDiv(seconds, 86400);
  const std::int64_t ofDay = seconds - days * 86400;
  const civil::Date date = civil::civilFromDays(days);
  icaltimetype time = isDate ? icaltime_null_date() : icaltime_null_time();
  time.year = static_cast<int>(date.year);
  time.month = static_cast<int>(date.month);
  time.day = static_cast<int>(date.day);
  if (!isDate) {
    time.hour = static_cast<int>(ofDay / 3600);
    time.minute = static_cast<int>(ofDay / 60 % 60);
    time.second = static_cast<int>(ofDay % 60);
  }
  return time;
}

Instant instantOf(const TimeValue& value) {
  if (value.form == TimeForm::date)
    return localMidnight(value.time);
  const ZoneRules& rules = value.rules ? *value.rules : utcRules();
  return Instant{static_cast<double>(rules.utcOf(wallSeconds(value.time)))};
}

TimeValue timeLike(const TimeValue& like, Instant instant) {
  if (like.form == TimeForm::date)
    return dateValue(localDate(instant));
  if (like.form == TimeForm::utc)
    return utcValue(instant);
  TimeValue value = like;
  const std::int64_t utc = floorSeconds(instant);
  value.time = wallTime(utc + like.rules->offsetAt(utc), false);
  return value;
}

TimeValue dateValue(icaltimetype date) {
  TimeValue value;
  value.form = TimeForm::date;
  value.rules = &localRules();
  value.time = wallTime(wallSeconds(date) / 86400 * 86400, true);
  return value;
}

TimeValue utcValue(Instant instant) {
  TimeValue value;
  value.form = TimeForm::utc;
  value.rules = &utcRules();
  value.time = wallTime(floorSeconds(instant), false);
  return value;
}

icaltimetype localDate(Instant instant) {
  const std::int64_t utc = floorSeconds(instant);
  return wallTime(utc + localRules().offsetAt(utc), true);
}

Instant localMidnight(icaltimetype date) {
  date.is_date = 1;
  return Instant{static_cast<double>(localRules().utcOf(wallSeconds(date)))};
}

icaltimetype addDays(icaltimetype date, int days) {
  date.is_date = 1;
  return wallTime(wallSeconds(date) + std::int64_t{days} * 86400, true);
}

int daysBetween(icaltimetype from, icaltimetype to) {
  from.is_date = 1;
  to.is_date = 1;
  return static_cast<int>((wallSeconds(to) - wallSeconds(from)) / 86400);
}

bool isStorable(const TimeValue& value) {
  return value.time.year >= 0 && value.time.year <= 9999;
}

std::string valueText(const TimeValue& value) {
  const icaltimetype& time = value.time;
  char text[32];
  if (value.form == TimeForm::date) {
    std::snprintf(text, sizeof text, "%04d%02d%02d", time.year, time.month, time.day);
  } else {
    std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02d%s", time.year, time.month, time.day,
                  time.hour, time.minute, time.second, value.form == TimeForm::utc ? "Z" : "");
  }
  return text;
}

icalproperty* timeProperty(icalproperty_kind kind, const TimeValue& value) {
  icalproperty* property = icalproperty_new(kind);
  // From text: libical's constructors from a time write every year after 3000 as 00000000T000000.
  icalproperty_set_value(property,
                         icalvalue_new_from_string(
                             value.form == TimeForm::date ? ICAL_DATE_VALUE : ICAL_DATETIME_VALUE,
                             valueText(value).c_str()));
  if (value.form == TimeForm::date) {
    icalproperty_add_parameter(property, icalparameter_new_value(ICAL_VALUE_DATE));
  } else if (value.form == TimeForm::zoned && value.tzid) {
    icalproperty_add_parameter(property, icalparameter_new_tzid(value.tzid->c_str()));
  }
  return property;
}

}  // namespace tembra::local
