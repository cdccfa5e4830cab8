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
void writeEventRecord(Sink& sink, const Formatters& formatters, const Event& event,
                      OccurrenceKeys keys) {
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
  if (event.hasRecurrenceRules && keys == OccurrenceKeys::included) {
    sink.key("occurrence");
    date(event.occurrenceDate);
    sink.key("recurrence");
    sink.string(event.recurrenceRule.value_or(noText));
  }
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
template void writeEventRecord(JsonWriter&, const Formatters&, const Event&, OccurrenceKeys);
template void writeEventRecord(JsonBuilder&, const Formatters&, const Event&, OccurrenceKeys);

namespace {

// The keys, quotes and constants of a record, a little over what the longest take.
constexpr std::size_t kFixedLength = 200;

}  // namespace

EventRecordText::EventRecordText(const Formatters& formatters, const Event& event,
                                 OccurrenceKeys keys)
    : occurrence_(event.hasRecurrenceRules && keys == OccurrenceKeys::included) {
  // The keys in the order writeEventRecord writes them.
  JsonWriter alarms;
  alarms.beginArray();
  for (const Alarm& alarm : event.alarms)
    writeAlarmRecord(alarms, formatters, alarm);
  alarms.endArray();
  valid_ = alarms.valid();
  const auto quoted = [&](const std::optional<std::string>& text) {
    valid_ = appendQuoted(text_, text ? std::string_view(*text) : std::string_view()) && valid_;
  };
  const auto at = [&] { return static_cast<std::uint32_t>(text_.size()); };
  const std::optional<std::string> none;
  // Room for the keys and the texts as they are, so that a long list keeps no slack per record.
  const auto length = [](const std::optional<std::string>& text) {
    return text ? text->size() : 0;
  };
  text_.reserve(kFixedLength + alarms.text().size() + length(event.calendarItemExternalIdentifier) +
                length(event.eventIdentifier) + length(event.location) + length(event.notes) +
                length(event.title) +
                (event.calendar
                     ? event.calendar->calendarIdentifier.size() + length(event.calendar->title)
                     : 0));

  text_ += R"({"alarms":)";
  text_ += alarms.text();
  text_ += event.isAllDay ? R"(,"allDay":true,"calendarId":)" : R"(,"allDay":false,"calendarId":)";
  quoted(event.calendar ? std::optional(event.calendar->calendarIdentifier) : none);
  text_ += R"(,"calendarTitle":)";
  quoted(event.calendar ? event.calendar->title : none);
  text_ += R"(,"end":)";
  endAt_ = at();
  text_ += R"(,"externalId":)";
  quoted(event.calendarItemExternalIdentifier);
  text_ += R"(,"id":)";
  quoted(event.eventIdentifier);
  text_ += R"(,"lastModified":)";
  modifiedFromStart_ = !event.lastModifiedDate;
  if (event.lastModifiedDate)
    appendInteger(text_, epochMillis(*event.lastModifiedDate));
  modifiedAt_ = at();
  text_ += R"(,"location":)";
  quoted(event.location);
  text_ += R"(,"notes":)";
  quoted(event.notes);
  if (occurrence_) {
    text_ += R"(,"occurrence":)";
    occurrenceAt_ = at();
    text_ += R"(,"recurrence":)";
    quoted(event.recurrenceRule);
  }
  if (event.hasRecurrenceRules)
    text_ += R"(,"recurring":true)";
  text_ += R"(,"start":)";
  startAt_ = at();
  text_ += R"(,"title":)";
  quoted(event.title);
  text_ += '}';
}

void EventRecordText::append(std::string& out, DateAppender& dates,
                             const std::optional<Instant>& start, const std::optional<Instant>& end,
                             const std::optional<Instant>& occurrence) const {
  const auto date = [&](const std::optional<Instant>& instant) {
    out += '"';
    if (instant)
      dates.append(out, *instant);
    out += '"';
  };
  const std::string_view text = text_;
  out += text.substr(0, endAt_);
  date(end);
  out += text.substr(endAt_, modifiedAt_ - endAt_);
  if (modifiedFromStart_)
    appendInteger(out, start ? epochMillis(*start) : 0);
  if (occurrence_) {
    out += text.substr(modifiedAt_, occurrenceAt_ - modifiedAt_);
    date(occurrence);
    out += text.substr(occurrenceAt_, startAt_ - occurrenceAt_);
  } else {
    out += text.substr(modifiedAt_, startAt_ - modifiedAt_);
  }
  date(start);
  out += text.substr(startAt_);
}

Json alarmJSON(const Formatters& formatters, const Alarm& alarm) {
  JsonBuilder builder;
  writeAlarmRecord(builder, formatters, alarm);
  return builder.take();
}

Json eventJSON(const Formatters& formatters, const Event& event) {
  return eventJSON(formatters, event, OccurrenceKeys::omitted);
}

Json eventJSON(const Formatters& formatters, const Event& event, OccurrenceKeys keys) {
  JsonBuilder builder;
  writeEventRecord(builder, formatters, event, keys);
  return builder.take();
}

}  // namespace tembra
