// The list command: the events of a time window, from every calendar or from one.
#include "commands/list.h"

#include "access/authorization.h"
#include "cli/messages.h"
#include "cli/process.h"
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

  CalendarStore& store = *process.store;
  // No list means every calendar of the store, writable or not.
  std::optional<std::vector<Calendar>> calendars;
  const std::optional<std::string> calendarId = argValue(process.args, "--calendar");
  if (calendarId && !calendarId->empty()) {
    std::optional<Calendar> calendar = store.calendarWithIdentifier(*calendarId);
    if (!calendar) {
      fail(process.output, std::string(messages::kCalendarNotFound) + repairUtf8(*calendarId),
           kExitCalendarNotFound);
    }
    calendars = std::vector<Calendar>{std::move(*calendar)};
  }

  const std::vector<Event> events =
      store.eventsMatching(store.predicateForEvents(*from, *to, std::move(calendars)));
  // Written record by record: a year of a busy calendar is thousands of them.
  JsonWriter records(events.size() * 400);
  records.beginArray();
  for (const Event& event : events) {
    // A moved occurrence stands apart from its series; the host sees the series' occurrences only.
    if (!event.isDetached)
      writeEventRecord(records, process.formatters, event);
  }
  records.endArray();
  emit(process.output, records);
}

}  // namespace tembra
