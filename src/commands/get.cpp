// The get command: one event by its identifier.
#include "commands/get.h"

#include "access/authorization.h"
#include "cli/messages.h"
#include "cli/process.h"
#include "commands/answered.h"
#include "commands/repeating.h"
#include "records/event_record.h"
#include "records/utf8.h"

namespace tembra {

void runGet(Process& process) {
  requireAccess(process);
  const std::optional<std::string> id = argValue(process.args, "--id");
  if (!id || id->empty())
    fail(process.output, messages::kGetNeedsId, kExitUsage);
  // One occurrence of a repeating event, by its original start; its record then says which it is.
  std::optional<Instant> occurrence;
  if (const auto text = argValue(process.args, "--occurrence")) {
    occurrence = parseDate(process.formatters, *text);
    if (!occurrence)
      fail(process.output, messages::kOccurrenceNeedsDate, kExitUsage);
  }
  const std::optional<Event> event =
      answered(process.output, namedEvent(*process.store, *id, occurrence));
  if (!event) {
    // The identifier is shown as given; bytes that are not UTF-8 would make the record unwritable.
    fail(process.output, std::string(messages::kEventNotFound) + repairUtf8(*id),
         kExitEventNotFound);
  }
  emit(process.output, eventJSON(process.formatters, *event,
                                 occurrence ? OccurrenceKeys::included : OccurrenceKeys::omitted));
}

}  // namespace tembra
