// Reading an event's fields from an EDS component and writing an event into one.
#include "access/eds/event_component.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "access/calendar_text.h"
#include "records/utf8.h"

namespace tembra::eds {
namespace {

constexpr double kDay = 86400;
// EDS's file back-end drops a DTSTART after the year 3000 as it saves it.
constexpr Instant kEndOfKeeping{32535216000};  // 3001-01-01T00:00:00Z

void setText(ICalComponent* component, ICalPropertyKind kind,
             const std::optional<std::string>& value) {
  removeAll(component, kind);
  const std::string clean = value ? cleanText(*value) : std::string();
  if (clean.empty())
    return;
  ICalProperty* property = nullptr;
  if (kind == I_CAL_SUMMARY_PROPERTY)
    property = i_cal_property_new_summary(clean.c_str());
  else if (kind == I_CAL_DESCRIPTION_PROPERTY)
    property = i_cal_property_new_description(clean.c_str());
  else if (kind == I_CAL_LOCATION_PROPERTY)
    property = i_cal_property_new_location(clean.c_str());
  if (property)
    i_cal_component_take_property(component, property);
}

// The seconds from the start to the end an alarm related to the end counts from: for an all-day
// event the midnight after its last day.
double lengthOf(ICalComponent* component, const Zones& zones) {
  const auto extent = extentOf(component, zones);
  if (!extent)
    return 0;
  const auto start = timeOf(component, I_CAL_DTSTART_PROPERTY);
  const bool allDay = start && start->form.kind == TimeForm::Kind::date;
  return extent->end.seconds - extent->start.seconds + (allDay ? 1 : 0);
}

// A new alarm; a relative one counted from the end when `fromEnd` gives the event's length.
Ref<ICalComponent> newAlarm(const Alarm& alarm, const std::optional<std::string>& title,
                            std::optional<double> fromEnd) {
  Ref<ICalComponent> component(i_cal_component_new(I_CAL_VALARM_COMPONENT));
  i_cal_component_take_property(component.get(), i_cal_property_new_action(I_CAL_ACTION_DISPLAY));
  Ref<ICalTrigger> trigger;
  if (alarm.absoluteDate) {
    trigger.reset(i_cal_trigger_new_from_int(0));
    const TimeValue at = utcTime(*alarm.absoluteDate);
    i_cal_trigger_set_time(trigger.get(), at.time.get());
  } else {
    const double offset = alarm.relativeOffset - fromEnd.value_or(0);
    trigger.reset(i_cal_trigger_new_from_int(static_cast<int>(std::lround(offset))));
  }
  ICalProperty* property = i_cal_property_new_trigger(trigger.get());
  if (fromEnd && !alarm.absoluteDate)
    i_cal_property_take_parameter(property, i_cal_parameter_new_related(I_CAL_RELATED_END));
  i_cal_component_take_property(component.get(), property);
  // DISPLAY alarms must carry a DESCRIPTION.
  const std::string text = title ? cleanText(*title) : std::string();
  i_cal_component_take_property(
      component.get(), i_cal_property_new_description(text.empty() ? "Reminder" : text.c_str()));
  return component;
}

struct ReadAlarm {
  Alarm alarm;
  bool fromEnd = false;  // a relative alarm related to the end
};

// The component's alarms, relative ones as offsets from the start, `duration` after which its end
// lies.
std::vector<ReadAlarm> readAlarms(ICalComponent* component, double duration, const Zones& zones) {
  std::vector<ReadAlarm> alarms;
  for (Ref<ICalComponent> alarm(
           i_cal_component_get_first_component(component, I_CAL_VALARM_COMPONENT));
       alarm; alarm.reset(i_cal_component_get_next_component(component, I_CAL_VALARM_COMPONENT))) {
    const Ref<ICalProperty> property(
        i_cal_component_get_first_property(alarm.get(), I_CAL_TRIGGER_PROPERTY));
    if (!property)
      continue;
    const Ref<ICalTrigger> trigger(i_cal_property_get_trigger(property.get()));
    const Ref<ICalTime> time(i_cal_trigger_get_time(trigger.get()));
    if (time && !i_cal_time_is_null_time(time.get())) {
      // Absolute triggers are UTC; some tools write floating time (read in the local zone) or a
      // TZID (read in that zone).
      ICalTimezone* zone = zones.local();
      if (i_cal_time_is_utc(time.get()))
        zone = i_cal_timezone_get_utc_timezone();
      else if (const auto tzid = tzidOf(property.get()))
        zone = zones.named(*tzid);
      alarms.push_back({Alarm::withAbsoluteDate(
          Instant{static_cast<double>(i_cal_time_as_timet_with_zone(time.get(), zone))})});
      continue;
    }
    const Ref<ICalDuration> offset(i_cal_trigger_get_duration(trigger.get()));
    double seconds = i_cal_duration_as_int(offset.get());
    const Ref<ICalParameter> related(
        i_cal_property_get_first_parameter(property.get(), I_CAL_RELATED_PARAMETER));
    const bool fromEnd = related && i_cal_parameter_get_related(related.get()) == I_CAL_RELATED_END;
    if (fromEnd)
      seconds += duration;
    alarms.push_back({Alarm::withRelativeOffset(seconds), fromEnd});
  }
  return alarms;
}

// The offsets from the start that the component's alarms related to its end read as.
std::vector<double> endRelatedOffsets(ICalComponent* component, const Zones& zones) {
  std::vector<double> offsets;
  for (const ReadAlarm& read : readAlarms(component, lengthOf(component, zones), zones)) {
    if (read.fromEnd)
      offsets.push_back(read.alarm.relativeOffset);
  }
  return offsets;
}

}  // namespace

Instant dayAfter(const Zones& zones, ICalTime* date) {
  const Ref<ICalTime> next(i_cal_time_clone(date));
  i_cal_time_adjust(next.get(), 1, 0, 0, 0);
  return localMidnight(zones, next.get());
}

std::optional<Extent> extentOf(ICalComponent* component, const Zones& zones) {
  const auto start = timeOf(component, I_CAL_DTSTART_PROPERTY);
  if (!start)
    return std::nullopt;
  const bool allDay = start->form.kind == TimeForm::Kind::date;
  const Instant from = instantOf(zones, *start);
  std::optional<Instant> to;
  if (const auto end = timeOf(component, I_CAL_DTEND_PROPERTY)) {
    to = instantOf(zones, *end);
  } else if (const Ref<ICalProperty> property{
                 i_cal_component_get_first_property(component, I_CAL_DURATION_PROPERTY)}) {
    const Ref<ICalDuration> duration(i_cal_property_get_duration(property.get()));
    to = from + i_cal_duration_as_int(duration.get());
  }
  if (allDay) {
    const Instant exclusive = to && *to > from ? *to : dayAfter(zones, start->time.get());
    return Extent{from, exclusive + -1.0};
  }
  return Extent{from, std::max(to.value_or(from), from)};
}

const char* uidOf(ICalComponent* component) {
  const char* uid = i_cal_component_get_uid(component);
  return uid ? uid : "";
}

bool hasProperty(ICalComponent* component, ICalPropertyKind kind) {
  const Ref<ICalProperty> property(i_cal_component_get_first_property(component, kind));
  return property != nullptr;
}

std::optional<std::string> textOf(ICalComponent* component, ICalPropertyKind kind) {
  const char* text = nullptr;
  if (kind == I_CAL_SUMMARY_PROPERTY)
    text = i_cal_component_get_summary(component);
  else if (kind == I_CAL_DESCRIPTION_PROPERTY)
    text = i_cal_component_get_description(component);
  else if (kind == I_CAL_LOCATION_PROPERTY)
    text = i_cal_component_get_location(component);
  if (!text)
    return std::nullopt;
  return repairUtf8(text);
}

std::string valueText(ICalProperty* property) {
  const Text text(i_cal_property_get_value_as_string(property));
  return text ? std::string(text.get()) : std::string();
}

std::vector<Ref<ICalProperty>> propertiesOf(ICalComponent* component, ICalPropertyKind kind) {
  std::vector<Ref<ICalProperty>> found;
  for (Ref<ICalProperty> property(i_cal_component_get_first_property(component, kind)); property;
       property.reset(i_cal_component_get_next_property(component, kind))) {
    found.push_back(std::move(property));
  }
  return found;
}

void removeProperty(ICalComponent* component, const Ref<ICalProperty>& property) {
  i_cal_component_remove_property(component, property.get());
}

void removeAll(ICalComponent* component, ICalPropertyKind kind) {
  while (ICalProperty* property = i_cal_component_get_first_property(component, kind)) {
    i_cal_component_remove_property(component, property);
    g_object_unref(property);
  }
}

std::vector<Alarm> alarmsOf(ICalComponent* component, double duration, const Zones& zones) {
  std::vector<Alarm> alarms;
  for (const ReadAlarm& read : readAlarms(component, duration, zones))
    alarms.push_back(read.alarm);
  return alarms;
}

void writeEvent(ICalComponent* component, const Event& event, const std::optional<Event>& stored,
                const Zones& zones, Instant now) {
  // Alarms related to the end, by what they read as before the dates change.
  std::vector<double> fromEnd = endRelatedOffsets(component, zones);
  if (!stored || event.title != stored->title)
    setText(component, I_CAL_SUMMARY_PROPERTY, event.title);
  if (!stored || event.notes != stored->notes)
    setText(component, I_CAL_DESCRIPTION_PROPERTY, event.notes);
  if (!stored || event.location != stored->location)
    setText(component, I_CAL_LOCATION_PROPERTY, event.location);

  const Instant start = event.startDate.value_or(now);
  const Instant end = std::max(event.endDate.value_or(start), start);
  if (!stored || stored->startDate != start || stored->endDate != end ||
      stored->isAllDay != event.isAllDay) {
    removeAll(component, I_CAL_DURATION_PROPERTY);
    if (event.isAllDay) {
      // The local days from the start's to the end's; an end at midnight does not take in the day
      // it begins, and an event covers one day at least.
      const TimeValue firstDay = localDate(zones, start);
      TimeValue endDay = localDate(zones, end);
      if (localMidnight(zones, endDay.time.get()) != end)
        i_cal_time_adjust(endDay.time.get(), 1, 0, 0, 0);
      if (i_cal_time_compare(endDay.time.get(), firstDay.time.get()) <= 0) {
        endDay.time.reset(i_cal_time_clone(firstDay.time.get()));
        i_cal_time_adjust(endDay.time.get(), 1, 0, 0, 0);
      }
      setTime(component, I_CAL_DTSTART_PROPERTY, firstDay);
      setTime(component, I_CAL_DTEND_PROPERTY, endDay);
    } else {
      const auto current = timeOf(component, I_CAL_DTSTART_PROPERTY);
      const TimeForm form =
          current && current->form.kind != TimeForm::Kind::date ? current->form : TimeForm{};
      setTime(component, I_CAL_DTSTART_PROPERTY, timeIn(zones, form, start));
      setTime(component, I_CAL_DTEND_PROPERTY, timeIn(zones, form, end));
    }
  }

  if (!stored || event.alarms != stored->alarms) {
    while (ICalComponent* alarm =
               i_cal_component_get_first_component(component, I_CAL_VALARM_COMPONENT)) {
      i_cal_component_remove_component(component, alarm);
      g_object_unref(alarm);
    }
    // An alarm that reads as one related to the end did stays related to the end.
    const double length = lengthOf(component, zones);
    for (const Alarm& alarm : event.alarms) {
      const auto same = alarm.absoluteDate
                            ? fromEnd.end()
                            : std::find(fromEnd.begin(), fromEnd.end(), alarm.relativeOffset);
      std::optional<double> endLength;
      if (same != fromEnd.end()) {
        endLength = length;
        fromEnd.erase(same);
      }
      i_cal_component_take_component(component, newAlarm(alarm, event.title, endLength).release());
    }
  }

  if (!stored && !hasProperty(component, I_CAL_CREATED_PROPERTY))
    setTime(component, I_CAL_CREATED_PROPERTY, utcTime(now));
  setTime(component, I_CAL_DTSTAMP_PROPERTY, utcTime(now));
  setTime(component, I_CAL_LASTMODIFIED_PROPERTY, utcTime(now));
}

Ref<ICalComponent> newComponent(const std::string& uid, const Event& event, const Zones& zones,
                                Instant now) {
  Ref<ICalComponent> component(i_cal_component_new(I_CAL_VEVENT_COMPONENT));
  i_cal_component_set_uid(component.get(), uid.c_str());
  writeEvent(component.get(), event, std::nullopt, zones, now);
  return component;
}

bool canHold(const Event& event) {
  // A day's margin on either side leaves room for the local zone and for all-day dates.
  const auto holds = [](Instant instant) {
    return instant.seconds >= kEarliest.seconds + kDay &&
           instant.seconds < kEndOfKeeping.seconds - 2 * kDay;
  };
  if (!event.startDate || !holds(*event.startDate) || (event.endDate && !holds(*event.endDate)))
    return false;
  return std::all_of(event.alarms.begin(), event.alarms.end(), [&](const Alarm& alarm) {
    if (alarm.absoluteDate)
      return holds(*alarm.absoluteDate);
    return std::fabs(std::round(alarm.relativeOffset)) <= INT_MAX;
  });
}

}  // namespace tembra::eds
