// The create command: a new event from the event input object.
#include "commands/create.h"

#include "access/authorization.h"
#include "cli/messages.h"
#include "cli/process.h"
#include "commands/answered.h"
#include "commands/event_input.h"
#include "commands/repeating.h"
#include "commands/saved_event.h"
#include "records/utf8.h"

namespace tembra {
namespace {

constexpr std::string_view kDefaultTitle = "砚舟备注";
constexpr double kDefaultDurationSeconds = 3600;

}  // namespace

void runCreate(Process& process) {
  requireAccess(process);
  const std::optional<Json> input = inputObject(process.args, process.readInput);
  if (!input)
    fail(process.output, messages::kCreateNeedsInput, kExitUsage);
  const std::optional<Instant> start = dateValue(process.formatters, *input, "start");
  if (!start)
    fail(process.output, messages::kCreateNeedsStart, kExitUsage);
  const Instant end =
      dateValue(process.formatters, *input, "end").value_or(*start + kDefaultDurationSeconds);
  if (end < *start)
    fail(process.output, messages::kCreateEndBeforeStart, kExitUsage);

  CalendarStore& store = *process.store;
  // A repeating event: its rule, or none (an empty rule is a single event, as without the key).
  const RuleInput rule = recurrenceInput(*input, store);
  if (rule.problem) {
    fail(process.output, std::string(messages::kRecurrenceProblem) + repairUtf8(*rule.problem),
         kExitUsage);
  }
  Event event = store.newEvent();
  std::optional<Calendar> target =
      answered(process.output, store.defaultCalendarForNewEvents(), messages::kCreateFailed);
  const std::optional<std::string> calendarId = stringValue(*input, "calendarId");
  if (calendarId && !calendarId->empty()) {
    std::optional<Calendar> named = answered(
        process.output, store.calendarWithIdentifier(*calendarId), messages::kCreateFailed);
    if (named && named->allowsContentModifications)
      target = std::move(named);
  }
  if (!target)
    fail(process.output, messages::kCreateNoCalendar, kExitNoCalendar);

  event.calendar = target;
  event.title = stringValue(*input, "title").value_or(std::string(kDefaultTitle));
  event.notes = stringValue(*input, "notes").value_or("");
  event.location = stringValue(*input, "location").value_or("");
  event.startDate = start;
  event.endDate = end;
  event.isAllDay = booleanValue(*input, "allDay").value_or(false);
  if (const Json* records = alarmInputRecords(*input))
    applyAlarms(process.formatters, event, *records);
  if (rule.rule && !rule.rule->empty())
    event.recurrenceRule = rule.rule;

  // A date or alarm the store cannot keep would not read back as it was given.
  if (!store.canKeep(event))
    fail(process.output, messages::kCreateNeedsInput, kExitUsage);

  if (const std::optional<StoreError> error = store.saveEvent(event, Span::thisEvent)) {
    fail(process.output, std::string(messages::kCreateFailed) + repairUtf8(error->description));
  }
  emit(process.output, savedEventSummary(event, CalendarRef(target)));
}

}  // namespace tembra
