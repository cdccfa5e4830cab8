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

// Whether a record of a repeating event also says which occurrence it is and by what rule it
// repeats: "occurrence" (its original start, date text) and "recurrence" (the series' RRULE
// value text, "" for one that repeats only by its dates). Records of events that do not repeat
// never carry them.
enum class OccurrenceKeys { omitted, included };
Json eventJSON(const Formatters& formatters, const Event& event, OccurrenceKeys keys);

// An event's record with its dates left open, made once for every occurrence of a series: they
// differ only in their start and end, and in "lastModified" when it falls back to the start.
// Appending it gives the bytes a JsonWriter gives for the event with those dates.
class EventRecordText {
 public:
  // The event's own dates are not used.
  EventRecordText(const Formatters& formatters, const Event& event,
                  OccurrenceKeys keys = OccurrenceKeys::omitted);

  // False when a text of the event is not UTF-8: no JSON document can hold the record.
  bool valid() const { return valid_; }
  // `occurrence` is the occurrence's original start, written when the record says it.
  void append(std::string& out, DateAppender& dates, const std::optional<Instant>& start,
              const std::optional<Instant>& end,
              const std::optional<Instant>& occurrence = std::nullopt) const;

 private:
  std::string text_;
  // Where the end, a "lastModified" that is the start's, the occurrence and the start go.
  std::uint32_t endAt_ = 0, modifiedAt_ = 0, occurrenceAt_ = 0, startAt_ = 0;
  bool occurrence_ = false;
  bool modifiedFromStart_ = false;
  bool valid_ = true;
};

// The same records written into a JsonWriter (or built by a JsonBuilder), for long lists.
template <typename Sink>
void writeAlarmRecord(Sink& sink, const Formatters& formatters, const Alarm& alarm);
template <typename Sink>
void writeEventRecord(Sink& sink, const Formatters& formatters, const Event& event,
                      OccurrenceKeys keys = OccurrenceKeys::omitted);

}  // namespace tembra
