// Event and alarm records.
#include "records/event_record.h"

namespace tembra {

template <typename Sink>
void writeAlarmRecord(Sink& sink, const Formatters& formatters, const Alarm& alarm) {
  sink.beginObject();
  if (alarm.absoluteDate) {
    sink.key("absolute");
    sink.string(formatDate(formatters, *alarm.absoluteDate));
  } else {
    sink.key("relative");
    sink.integer(roundHalfAwayFromZero(alarm.relativeOffset));
  }
  sink.endObject();
}

// Keys are written in sorted order, the order in which a built value writes them, so that a
// record reads the same whichever way it was made.
template <typename Sink>
void writeEventRecord(Sink& sink, const Formatters& formatters, const Event& event) {
  const auto date = [&](const std::optional<Instant>& instant) {
    sink.string(instant ? formatDate(formatters, *instant) : std::string());
  };
  const std::optional<Instant> modified =
      event.lastModifiedDate ? event.lastModifiedDate : event.startDate;
  const std::string noText;

  sink.beginObject();
  sink.key("alarms");
  sink.beginArray();
  for (const Alarm& alarm : event.alarms)
    writeAlarmRecord(sink, formatters, alarm);
  sink.endArray();
  sink.key("allDay");
  sink.boolean(event.isAllDay);
  sink.key("calendarId");
  sink.string(event.calendar ? event.calendar->calendarIdentifier : noText);
  sink.key("calendarTitle");
  sink.string(event.calendar && event.calendar->title ? *event.calendar->title : noText);
  sink.key("end");
  date(event.endDate);
  sink.key("externalId");
  sink.string(event.calendarItemExternalIdentifier.value_or(noText));
  sink.key("id");
  sink.string(event.eventIdentifier.value_or(noText));
  sink.key("lastModified");
  sink.integer(modified ? epochMillis(*modified) : 0);
  sink.key("location");
  sink.string(event.location.value_or(noText));
  sink.key("notes");
  sink.string(event.notes.value_or(noText));
  if (event.hasRecurrenceRules) {
    sink.key("recurring");
    sink.boolean(true);
  }
  sink.key("start");
  date(event.startDate);
  sink.key("title");
  sink.string(event.title.value_or(noText));
  sink.endObject();
}

template void writeAlarmRecord(JsonWriter&, const Formatters&, const Alarm&);
template void writeAlarmRecord(JsonBuilder&, const Formatters&, const Alarm&);
template void writeEventRecord(JsonWriter&, const Formatters&, const Event&);
template void writeEventRecord(JsonBuilder&, const Formatters&, const Event&);

Json alarmJSON(const Formatters& formatters, const Alarm& alarm) {
  JsonBuilder builder;
  writeAlarmRecord(builder, formatters, alarm);
  return builder.take();
}

Json eventJSON(const Formatters& formatters, const Event& event) {
  JsonBuilder builder;
  writeEventRecord(builder, formatters, event);
  return builder.take();
}

}  // namespace tembra
