// The update command: changes the fields of one event that the event input object carries.
#include "commands/update.h"

#include "access/authorization.h"
#include "cli/messages.h"
#include "cli/process.h"
#include "commands/answered.h"
#include "commands/event_input.h"
#include "commands/repeating.h"
#include "commands/saved_event.h"
#include "records/utf8.h"

namespace tembra {

void runUpdate(Process& process) {
  requireAccess(process);
  const std::optional<Json> input = inputObject(process.args, process.readInput);
  if (!input)
    fail(process.output, messages::kUpdateNeedsInput, kExitUsage);
  const std::optional<std::string> id = stringValue(*input, "id");
  if (!id || id->empty())
    fail(process.output, messages::kUpdateNeedsInput, kExitUsage);

  // The keys for repeating events: the occurrence named, how far the change reaches, the rule.
  std::optional<Instant> occurrence;
  if (hasValue(*input, "occurrence")) {
    occurrence = dateValue(process.formatters, *input, "occurrence");
    if (!occurrence)
      fail(process.output, messages::kInputOccurrenceNeedsDate, kExitUsage);
  }
  Reach reach = Reach::thisOccurrence;
  if (hasValue(*input, "span")) {
    const std::optional<std::string> span = stringValue(*input, "span");
    const std::optional<Reach> named = span ? reachNamed(*span) : std::nullopt;
    if (!named)
      fail(process.output, messages::kInputSpan, kExitUsage);
    reach = *named;
  }
  CalendarStore& store = *process.store;
  const RuleInput rule = recurrenceInput(*input, store);
  if (rule.problem) {
    fail(process.output, std::string(messages::kRecurrenceProblem) + repairUtf8(*rule.problem),
         kExitUsage);
  }
  // A rule belongs to the series, however far the rest of the change reaches.
  if (rule.rule && reach == Reach::thisOccurrence)
    reach = Reach::all;

  const std::optional<Event> named =
      answered(process.output, namedEvent(store, *id, occurrence), messages::kUpdateFailed);
  std::optional<Reached> reached =
      named ? answered(process.output, reachedFrom(store, *id, *named, reach),
                       messages::kUpdateFailed)
            : std::nullopt;
  if (!reached) {
    fail(process.output, std::string(messages::kEventNotFound) + repairUtf8(*id),
         kExitEventNotFound);
  }
  Event& event = reached->event;

  // A key that is absent or of the wrong kind leaves its field as stored. The event records
  // which fields were set, and the store saves those onto the event as it then stands.
  if (auto title = stringValue(*input, "title"))
    event.setTitle(std::move(title));
  if (auto notes = stringValue(*input, "notes"))
    event.setNotes(std::move(notes));
  if (auto location = stringValue(*input, "location"))
    event.setLocation(std::move(location));
  // Every occurrence of a series moves as far as the one the request named.
  const auto moved = [&](const std::optional<Instant>& to, const std::optional<Instant>& from,
                         const std::optional<Instant>& at) {
    return from && at ? *at + (to->seconds - from->seconds) : *to;
  };
  if (const auto start = dateValue(process.formatters, *input, "start"))
    event.setStartDate(moved(start, named->startDate, event.startDate));
  if (const auto end = dateValue(process.formatters, *input, "end"))
    event.setEndDate(moved(end, named->endDate, event.endDate));
  if (const auto allDay = booleanValue(*input, "allDay"))
    event.setAllDay(*allDay);
  const std::optional<std::string> calendarId = stringValue(*input, "calendarId");
  if (calendarId && !calendarId->empty()) {
    std::optional<Calendar> calendar = answered(
        process.output, store.calendarWithIdentifier(*calendarId), messages::kUpdateFailed);
    if (calendar && calendar->allowsContentModifications)
      event.setCalendar(std::move(calendar));
  }
  if (const Json* records = alarmInputRecords(*input))
    applyAlarms(process.formatters, event, *records);
  if (rule.rule)
    event.setRecurrenceRule(*rule.rule);

  // A date or alarm the store cannot keep would not read back as it was given. Either date may
  // have moved alone: the store repairs an end left before the start rather than refuse it.
  if (!store.canKeep(withChangesOf(event, event)))
    fail(process.output, messages::kUpdateNeedsInput, kExitUsage);

  if (const std::optional<StoreError> error = store.saveEvent(event, reached->span)) {
    // Another client removed or moved the event since it was found.
    if (error->notFound)
      fail(process.output, std::string(messages::kEventNotFound) + repairUtf8(*id),
           kExitEventNotFound);
    fail(process.output, std::string(messages::kUpdateFailed) + repairUtf8(error->description));
  }
  emit(process.output, savedEventSummary(event, event.calendar));
}

}  // namespace tembra
