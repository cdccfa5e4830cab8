// The delete command: removes one event, and counts one that is already gone as removed.
#include "commands/delete.h"

#include "access/authorization.h"
#include "cli/messages.h"
#include "cli/process.h"
#include "commands/answered.h"
#include "commands/repeating.h"
#include "records/utf8.h"

namespace tembra {

void runDelete(Process& process) {
  requireAccess(process);
  const std::optional<std::string> id = argValue(process.args, "--id");
  if (!id || id->empty())
    fail(process.output, messages::kDeleteNeedsId, kExitUsage);
  // For repeating events: the occurrence named, and how far the removal reaches from it.
  std::optional<Instant> occurrence;
  if (const auto text = argValue(process.args, "--occurrence")) {
    occurrence = parseDate(process.formatters, *text);
    if (!occurrence)
      fail(process.output, messages::kOccurrenceNeedsDate, kExitUsage);
  }
  Reach reach = Reach::thisOccurrence;
  if (const auto text = argValue(process.args, "--span")) {
    const std::optional<Reach> named = reachNamed(*text);
    if (!named)
      fail(process.output, messages::kSpanOption, kExitUsage);
    reach = *named;
  }

  CalendarStore& store = *process.store;
  const std::optional<Event> named =
      answered(process.output, namedEvent(store, *id, occurrence), messages::kDeleteFailed);
  const std::optional<Reached> reached =
      named ? answered(process.output, reachedFrom(store, *id, *named, reach),
                       messages::kDeleteFailed)
            : std::nullopt;
  // Deleting twice must succeed twice: the host may retry after losing the first answer. An event
  // another client removed since it was found is gone all the same.
  const std::optional<StoreError> error =
      reached ? store.removeEvent(reached->event, reached->span) : StoreError{"", true};
  if (error && error->notFound) {
    emit(process.output, Json{{"ok", true}, {"alreadyGone", true}});
    return;
  }
  if (error)
    fail(process.output, std::string(messages::kDeleteFailed) + repairUtf8(error->description));
  emit(process.output, Json{{"ok", true}});
}

}  // namespace tembra
