// The extents of a series' components, the starts their dates name, and wall-clock bounds.
#include "access/local/series_extent.h"

#include <algorithm>
#include <cmath>

namespace tembra::local {
namespace {

// Wall-clock time differs from UTC by the zone's offset; a window's wall-clock bounds allow for
// the offsets on either side of it and for a change of them by up to this much.
constexpr std::int64_t kOffsetChange = 3 * 3600;

}  // namespace

std::optional<TimeValue> timeOf(const TimeReader& reader, icalcomponent* component,
                                icalproperty_kind kind) {
  icalproperty* property = icalcomponent_get_first_property(component, kind);
  if (!property)
    return std::nullopt;
  return reader.read(property);
}

std::optional<Extent> extentOf(const TimeReader& reader, icalcomponent* component) {
  if (!component)
    return std::nullopt;
  auto start = timeOf(reader, component, ICAL_DTSTART_PROPERTY);
  if (!start)
    return std::nullopt;
  Extent extent{*start, start->form == TimeForm::date};
  const auto end = timeOf(reader, component, ICAL_DTEND_PROPERTY);
  icalproperty* duration = icalcomponent_get_first_property(component, ICAL_DURATION_PROPERTY);
  if (extent.allDay) {
    if (end && end->form == TimeForm::date) {
      extent.days = daysBetween(start->time, end->time);
    } else if (duration) {
      extent.days = icaldurationtype_as_int(icalproperty_get_duration(duration)) / 86400;
    }
    extent.days = std::max(extent.days, 1);
  } else {
    if (end) {
      extent.seconds = instantOf(*end).seconds - instantOf(*start).seconds;
    } else if (duration) {
      extent.seconds = icaldurationtype_as_int(icalproperty_get_duration(duration));
    }
    extent.seconds = std::max(extent.seconds, 0.0);
  }
  return extent;
}

Instant endOf(const Extent& extent, Instant start) {
  if (!extent.allDay)
    return start + extent.seconds;
  return localMidnight(addDays(localDate(start), extent.days)) + -1.0;
}

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

icaltimetype wallClock(const TimeValue& value) {
  icaltimetype time = value.time;
  time.zone = nullptr;
  return time;
}

std::int64_t wallAtOrBefore(const ZoneRules& zone, Instant from) {
  const auto utc = static_cast<std::int64_t>(std::floor(from.seconds));
  return utc + std::min(zone.offsetAt(utc), zone.offsetAt(utc + 86400)) - kOffsetChange;
}

std::int64_t wallAtOrAfter(const ZoneRules& zone, Instant to) {
  const auto utc = static_cast<std::int64_t>(std::ceil(to.seconds));
  return utc + std::max(zone.offsetAt(utc - 86400), zone.offsetAt(utc)) + kOffsetChange;
}

}  // namespace tembra::local
