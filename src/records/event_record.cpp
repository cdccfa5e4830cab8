// Event and alarm records.
#include "records/event_record.h"

namespace tembra {

Json alarmJSON(const Formatters& formatters, const Alarm& alarm) {
  Json record = Json::object();
  if (alarm.absoluteDate) {
    record["absolute"] = formatDate(formatters, *alarm.absoluteDate);
  } else {
    record["relative"] = roundHalfAwayFromZero(alarm.relativeOffset);
  }
  return record;
}

Json eventJSON(const Formatters& formatters, const Event& event) {
  const auto dateText = [&](const std::optional<Instant>& date) {
    return date ? formatDate(formatters, *date) : std::string();
  };
  Json alarms = Json::array();
  for (const Alarm& alarm : event.alarms)
    alarms.push_back(alarmJSON(formatters, alarm));
  const std::optional<Instant> modified =
      event.lastModifiedDate ? event.lastModifiedDate : event.startDate;

  Json record = Json::object();
  record["id"] = event.eventIdentifier.value_or("");
  record["calendarId"] = event.calendar ? event.calendar->calendarIdentifier : "";
  record["calendarTitle"] = event.calendar ? event.calendar->title.value_or("") : "";
  record["title"] = event.title.value_or("");
  record["notes"] = event.notes.value_or("");
  record["location"] = event.location.value_or("");
  record["start"] = dateText(event.startDate);
  record["end"] = dateText(event.endDate);
  record["allDay"] = event.isAllDay;
  record["alarms"] = std::move(alarms);
  record["lastModified"] = modified ? epochMillis(*modified) : 0;
  record["externalId"] = event.calendarItemExternalIdentifier.value_or("");
  if (event.hasRecurrenceRules)
    record["recurring"] = true;
  return record;
}

}  // namespace tembra
