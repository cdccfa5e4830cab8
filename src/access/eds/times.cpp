// Date-times of EDS components: reading them in their zones and writing instants in a form.
#include "access/eds/times.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "access/zone_setting.h"

namespace tembra::eds {
namespace {

Ref<ICalTime> valueOf(ICalProperty* property, ICalPropertyKind kind) {
  switch (kind) {
    case I_CAL_DTSTART_PROPERTY:
      return Ref<ICalTime>(i_cal_property_get_dtstart(property));
    case I_CAL_DTEND_PROPERTY:
      return Ref<ICalTime>(i_cal_property_get_dtend(property));
    case I_CAL_RECURRENCEID_PROPERTY:
      return Ref<ICalTime>(i_cal_property_get_recurrenceid(property));
    case I_CAL_LASTMODIFIED_PROPERTY:
      return Ref<ICalTime>(i_cal_property_get_lastmodified(property));
    case I_CAL_EXDATE_PROPERTY:
      return Ref<ICalTime>(i_cal_property_get_exdate(property));
    case I_CAL_RDATE_PROPERTY: {
      // An RDATE of a period has no date-time of its own.
      const Ref<ICalDatetimeperiod> value(i_cal_property_get_rdate(property));
      return value ? Ref<ICalTime>(i_cal_datetimeperiod_get_time(value.get())) : nullptr;
    }
    default:
      return nullptr;
  }
}

Ref<ICalProperty> propertyOf(ICalPropertyKind kind, ICalTime* time) {
  switch (kind) {
    case I_CAL_DTSTART_PROPERTY:
      return Ref<ICalProperty>(i_cal_property_new_dtstart(time));
    case I_CAL_DTEND_PROPERTY:
      return Ref<ICalProperty>(i_cal_property_new_dtend(time));
    case I_CAL_RECURRENCEID_PROPERTY:
      return Ref<ICalProperty>(i_cal_property_new_recurrenceid(time));
    case I_CAL_DTSTAMP_PROPERTY:
      return Ref<ICalProperty>(i_cal_property_new_dtstamp(time));
    case I_CAL_CREATED_PROPERTY:
      return Ref<ICalProperty>(i_cal_property_new_created(time));
    case I_CAL_LASTMODIFIED_PROPERTY:
      return Ref<ICalProperty>(i_cal_property_new_lastmodified(time));
    case I_CAL_EXDATE_PROPERTY:
      return Ref<ICalProperty>(i_cal_property_new_exdate(time));
    case I_CAL_RDATE_PROPERTY: {
      const Ref<ICalDatetimeperiod> value(i_cal_datetimeperiod_new());
      i_cal_datetimeperiod_set_time(value.get(), time);
      return Ref<ICalProperty>(i_cal_property_new_rdate(value.get()));
    }
    default:
      return nullptr;
  }
}

Ref<ICalTime> copyOf(ICalTime* time) {
  return Ref<ICalTime>(i_cal_time_clone(time));
}

// Seconds since 1970 of the instant, fractions dropped towards the past.
long wholeSeconds(Instant instant) {
  return static_cast<long>(std::floor(instant.seconds));
}

}  // namespace

ICalTimezone* localZone() {
  // $TZ as the C library reads it, else the system's setting: a zone of the system's data is
  // libical's zone of that name; a POSIX rule becomes a zone of its own with that rule.
  const ZoneSetting setting = zoneSetting();
  if (setting.kind == ZoneSetting::Kind::named) {
    if (ICalTimezone* builtin = i_cal_timezone_get_builtin_timezone(setting.name.c_str()))
      return builtin;
  }
  if (setting.kind == ZoneSetting::Kind::posix) {
    // Made once and kept for the process, as libical keeps its built-in zones.
    static const Ref<ICalTimezone> rule = [&] {
      Ref<ICalTimezone> zone(i_cal_timezone_new());
      ICalComponent* definition =
          i_cal_component_new_from_string(setting.posix->vtimezone(setting.identity).c_str());
      if (!definition || !i_cal_timezone_set_component(zone.get(), definition)) {
        if (definition)
          g_object_unref(definition);
        return Ref<ICalTimezone>();
      }
      g_object_unref(definition);
      return zone;
    }();
    if (rule)
      return rule.get();
  }
  return i_cal_timezone_get_utc_timezone();
}

ICalTimezone* Zones::named(const std::string& tzid) const {
  if (client_) {
    // The client caches what it fetched; failure means the calendar has no such definition.
    if (ICalTimezone* zone = e_cal_client_tzlookup_cb(tzid.c_str(), client_, cancellable_, nullptr))
      return zone;
  }
  if (ICalTimezone* zone = i_cal_timezone_get_builtin_timezone_from_tzid(tzid.c_str()))
    return zone;
  if (ICalTimezone* zone = i_cal_timezone_get_builtin_timezone(tzid.c_str()))
    return zone;
  return local_;
}

std::optional<std::string> tzidOf(ICalProperty* property) {
  const Ref<ICalParameter> parameter(
      i_cal_property_get_first_parameter(property, I_CAL_TZID_PARAMETER));
  if (!parameter)
    return std::nullopt;
  const char* tzid = i_cal_parameter_get_tzid(parameter.get());
  if (!tzid || !*tzid)
    return std::nullopt;
  return std::string(tzid);
}

std::vector<std::string> tzidsIn(ICalComponent* component) {
  std::vector<std::string> tzids;
  for (Ref<ICalProperty> property(
           i_cal_component_get_first_property(component, I_CAL_ANY_PROPERTY));
       property; property.reset(i_cal_component_get_next_property(component, I_CAL_ANY_PROPERTY))) {
    if (auto tzid = tzidOf(property.get());
        tzid && std::find(tzids.begin(), tzids.end(), *tzid) == tzids.end()) {
      tzids.push_back(std::move(*tzid));
    }
  }
  for (Ref<ICalComponent> child(
           i_cal_component_get_first_component(component, I_CAL_ANY_COMPONENT));
       child; child.reset(i_cal_component_get_next_component(component, I_CAL_ANY_COMPONENT))) {
    for (std::string& tzid : tzidsIn(child.get())) {
      if (std::find(tzids.begin(), tzids.end(), tzid) == tzids.end())
        tzids.push_back(std::move(tzid));
    }
  }
  return tzids;
}

std::optional<TimeValue> timeOf(ICalComponent* component, ICalPropertyKind kind) {
  const Ref<ICalProperty> property(i_cal_component_get_first_property(component, kind));
  if (!property)
    return std::nullopt;
  return timeOf(property.get());
}

std::optional<TimeValue> timeOf(ICalProperty* property) {
  Ref<ICalTime> time = valueOf(property, i_cal_property_isa(property));
  if (!time || i_cal_time_is_null_time(time.get()))
    return std::nullopt;
  TimeForm form;
  if (i_cal_time_is_date(time.get())) {
    form.kind = TimeForm::Kind::date;
  } else if (i_cal_time_is_utc(time.get())) {
    form.kind = TimeForm::Kind::utc;
  } else if (auto tzid = tzidOf(property)) {
    form.kind = TimeForm::Kind::zoned;
    form.tzid = std::move(*tzid);
  } else {
    form.kind = TimeForm::Kind::floating;
  }
  return TimeValue{std::move(time), std::move(form)};
}

Instant instantOf(const Zones& zones, const TimeValue& value) {
  ICalTimezone* zone = zones.local();
  if (value.form.kind == TimeForm::Kind::utc)
    zone = i_cal_timezone_get_utc_timezone();
  else if (value.form.kind == TimeForm::Kind::zoned)
    zone = zones.named(value.form.tzid);
  return Instant{static_cast<double>(i_cal_time_as_timet_with_zone(value.time.get(), zone))};
}

Instant instantOf(const Zones& zones, ICalTime* time) {
  ICalTimezone* zone = i_cal_time_get_timezone(time);
  if (!zone || i_cal_time_is_date(time))
    zone = zones.local();
  return Instant{static_cast<double>(i_cal_time_as_timet_with_zone(time, zone))};
}

TimeValue utcTime(Instant instant) {
  return TimeValue{Ref<ICalTime>(i_cal_time_new_from_timet_with_zone(
                       wholeSeconds(instant), false, i_cal_timezone_get_utc_timezone())),
                   TimeForm{}};
}

TimeValue localDate(const Zones& zones, Instant instant) {
  const Ref<ICalTime> wall(
      i_cal_time_new_from_timet_with_zone(wholeSeconds(instant), false, zones.local()));
  Ref<ICalTime> date(i_cal_time_new_null_time());
  i_cal_time_set_date(date.get(), i_cal_time_get_year(wall.get()), i_cal_time_get_month(wall.get()),
                      i_cal_time_get_day(wall.get()));
  i_cal_time_set_is_date(date.get(), true);
  return TimeValue{std::move(date), TimeForm{TimeForm::Kind::date, {}}};
}

Instant localMidnight(const Zones& zones, ICalTime* date) {
  return Instant{static_cast<double>(i_cal_time_as_timet_with_zone(date, zones.local()))};
}

TimeValue timeIn(const Zones& zones, const TimeForm& form, Instant instant) {
  switch (form.kind) {
    case TimeForm::Kind::utc:
      return utcTime(instant);
    case TimeForm::Kind::date:
      return localDate(zones, instant);
    case TimeForm::Kind::zoned:
    case TimeForm::Kind::floating: {
      ICalTimezone* zone =
          form.kind == TimeForm::Kind::zoned ? zones.named(form.tzid) : zones.local();
      Ref<ICalTime> wall(i_cal_time_new_from_timet_with_zone(wholeSeconds(instant), false, zone));
      // Written as wall-clock time; a zoned one gets its TZID back as a parameter.
      i_cal_time_set_timezone(wall.get(), nullptr);
      return TimeValue{std::move(wall), form};
    }
  }
  return utcTime(instant);
}

void setTime(ICalComponent* component, ICalPropertyKind kind, const TimeValue& value) {
  while (ICalProperty* old = i_cal_component_get_first_property(component, kind)) {
    i_cal_component_remove_property(component, old);
    g_object_unref(old);
  }
  if (Ref<ICalProperty> property = timeProperty(kind, value))
    i_cal_component_take_property(component, property.release());
}

Ref<ICalProperty> timeProperty(ICalPropertyKind kind, const TimeValue& value) {
  Ref<ICalTime> time = copyOf(value.time.get());
  if (value.form.kind == TimeForm::Kind::utc)
    i_cal_time_set_timezone(time.get(), i_cal_timezone_get_utc_timezone());
  Ref<ICalProperty> property = propertyOf(kind, time.get());
  if (property && value.form.kind == TimeForm::Kind::zoned) {
    i_cal_property_take_parameter(property.get(),
                                  i_cal_parameter_new_tzid(value.form.tzid.c_str()));
  }
  return property;
}

std::string timeText(const TimeValue& value) {
  const Text text(i_cal_time_as_ical_string(value.time.get()));
  return text ? std::string(text.get()) : std::string();
}

}  // namespace tembra::eds
