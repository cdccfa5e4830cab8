// Event and alarm records: how an event of the store, and each of its alarms, is shown to the host.
#pragma once

#include "access/calendar_store.h"
#include "records/dates.h"
#include "records/json_writer.h"

namespace tembra {

// {"absolute": date text} when the alarm has an absolute date, whatever its offset; otherwise
// {"relative": whole seconds from the event's start}, rounded half away from zero.
Json alarmJSON(const Formatters& formatters, const Alarm& alarm);

// The twelve keys "id", "calendarId", "calendarTitle", "title", "notes", "location", "start",
// "end", "allDay", "alarms", "lastModified" (epoch milliseconds) and "externalId", plus
// "recurring": true only for an event with recurrence rules. Never null: missing texts are "",
// a missing calendar empties both calendar keys, a missing modification time falls back to the
// start. A store event always has both dates; should one be missing anyway, its text is "" and
// "lastModified" falls back to 0.
Json eventJSON(const Formatters& formatters, const Event& event);

// The same records written into a JsonWriter (or built by a JsonBuilder), for long lists.
template <typename Sink>
void writeAlarmRecord(Sink& sink, const Formatters& formatters, const Alarm& alarm);
template <typename Sink>
void writeEventRecord(Sink& sink, const Formatters& formatters, const Event& event);

}  // namespace tembra
