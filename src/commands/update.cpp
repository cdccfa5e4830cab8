// The update command: changes the fields of one event that the event input object carries.
#include "commands/update.h"

#include "access/authorization.h"
#include "cli/messages.h"
#include "cli/process.h"
#include "commands/event_input.h"
#include "commands/saved_event.h"
#include "records/utf8.h"

namespace tembra {
namespace {

constexpr double kRepairedDurationSeconds = 3600;

}  // namespace

void runUpdate(Process& process) {
  requireAccess(process);
  const std::optional<Json> input = inputObject(process.args, process.readInput);
  if (!input)
    fail(process.output, messages::kUpdateNeedsInput, kExitUsage);
  const std::optional<std::string> id = stringValue(*input, "id");
  if (!id || id->empty())
    fail(process.output, messages::kUpdateNeedsInput, kExitUsage);

  CalendarStore& store = *process.store;
  std::optional<Event> found = store.eventWithIdentifier(*id);
  if (!found) {
    fail(process.output, std::string(messages::kEventNotFound) + repairUtf8(*id),
         kExitEventNotFound);
  }
  Event& event = *found;

  // A key that is absent or of the wrong kind leaves its field as stored.
  if (auto title = stringValue(*input, "title"))
    event.title = std::move(title);
  if (auto notes = stringValue(*input, "notes"))
    event.notes = std::move(notes);
  if (auto location = stringValue(*input, "location"))
    event.location = std::move(location);
  if (const auto start = dateValue(process.formatters, *input, "start"))
    event.startDate = start;
  if (const auto end = dateValue(process.formatters, *input, "end"))
    event.endDate = end;
  if (const auto allDay = booleanValue(*input, "allDay"))
    event.isAllDay = *allDay;
  const std::optional<std::string> calendarId = stringValue(*input, "calendarId");
  if (calendarId && !calendarId->empty()) {
    std::optional<Calendar> calendar = store.calendarWithIdentifier(*calendarId);
    if (calendar && calendar->allowsContentModifications)
      event.calendar = std::move(calendar);
  }
  if (const Json* records = alarmInputRecords(*input))
    applyAlarms(process.formatters, event, *records);

  // Either date may have moved alone; an end left before the start is repaired rather than
  // refused, and an event that somehow lacks its end gets one the same way.
  if (event.startDate && (!event.endDate || *event.endDate < *event.startDate))
    event.endDate = *event.startDate + kRepairedDurationSeconds;

  // A date or alarm the store cannot keep would not read back as it was given.
  if (!store.canKeep(event))
    fail(process.output, messages::kUpdateNeedsInput, kExitUsage);

  if (const std::optional<StoreError> error = store.saveEvent(event, Span::thisEvent)) {
    fail(process.output, std::string(messages::kUpdateFailed) + repairUtf8(error->description));
  }
  emit(process.output, savedEventSummary(event, event.calendar));
}

}  // namespace tembra
