// The list command: the events of a time window, from every calendar or from one.
#include "commands/list.h"

#include "access/authorization.h"
#include "cli/messages.h"
#include "cli/process.h"
#include "commands/answered.h"
#include "records/event_record.h"
#include "records/utf8.h"

namespace tembra {

void runList(Process& process) {
  requireAccess(process);
  const std::optional<std::string> fromText = argValue(process.args, "--from");
  if (!fromText)
    fail(process.output, messages::kListNeedsWindow, kExitUsage);
  const std::optional<std::string> toText = argValue(process.args, "--to");
  if (!toText)
    fail(process.output, messages::kListNeedsWindow, kExitUsage);
  const std::optional<Instant> from = parseDate(process.formatters, *fromText);
  if (!from)
    fail(process.output, messages::kListNeedsWindow, kExitUsage);
  const std::optional<Instant> to = parseDate(process.formatters, *toText);
  if (!to)
    fail(process.output, messages::kListNeedsWindow, kExitUsage);
  if (*to <= *from)
    fail(process.output, messages::kListOrder, kExitUsage);
  // Every occurrence, those changed on their own too, each saying which it is.
  const std::optional<std::string> occurrences = argValue(process.args, "--occurrences");
  if (occurrences && *occurrences != "all")
    fail(process.output, messages::kOccurrencesOption, kExitUsage);
  const OccurrenceKeys keys = occurrences ? OccurrenceKeys::included : OccurrenceKeys::omitted;

  CalendarStore& store = *process.store;
  // No list means every calendar of the store, writable or not.
  std::optional<std::vector<Calendar>> calendars;
  const std::optional<std::string> calendarId = argValue(process.args, "--calendar");
  if (calendarId && !calendarId->empty()) {
    std::optional<Calendar> calendar =
        answered(process.output, store.calendarWithIdentifier(*calendarId));
    if (!calendar) {
      fail(process.output, std::string(messages::kCalendarNotFound) + repairUtf8(*calendarId),
           kExitCalendarNotFound);
    }
    calendars = std::vector<Calendar>{std::move(*calendar)};
  }

  EventWindow window =
      answered(process.output,
               store.eventWindow(store.predicateForEvents(*from, *to, std::move(calendars))));
  // Each event's record is made once, whatever its number of occurrences, and before anything
  // is written: a text that JSON cannot hold is found while the fallback can still be the whole
  // output. What the record holds is released at once.
  std::vector<EventRecordText> records;
  records.reserve(window.events.size());
  for (Event& event : window.events) {
    if (!records.emplace_back(process.formatters, event, keys).valid())
      fallBack(process.output);
    event = Event{};
  }

  // From here only the output can fail.
  OutputBuffer document(process.output);
  std::string& text = document.text();
  DateAppender dates;
  text += '[';
  bool first = true;
  for (const EventWindow::Entry& occurrence : window.occurrences) {
    // A moved occurrence stands apart from its series; the host sees the series' occurrences only,
    // unless it asks for every one.
    if (occurrence.isDetached && keys == OccurrenceKeys::omitted)
      continue;
    if (!first)
      text += ',';
    first = false;
    records[occurrence.event].append(text, dates, occurrence.startDate, occurrence.endDate,
                                     occurrence.occurrenceDate);
    document.flushWhenFull();
  }
  text += ']';
  document.finish();
}

}  // namespace tembra
