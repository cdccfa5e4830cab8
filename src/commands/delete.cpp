// The delete command: removes one event, and counts one that is already gone as removed.
#include "commands/delete.h"

#include "access/authorization.h"
#include "cli/messages.h"
#include "cli/process.h"
#include "records/utf8.h"

namespace tembra {

void runDelete(Process& process) {
  requireAccess(process);
  const std::optional<std::string> id = argValue(process.args, "--id");
  if (!id || id->empty())
    fail(process.output, messages::kDeleteNeedsId, kExitUsage);

  CalendarStore& store = *process.store;
  const std::optional<Event> event = store.eventWithIdentifier(*id);
  // Deleting twice must succeed twice: the host may retry after losing the first answer. An event
  // another client removed since it was found is gone all the same.
  const std::optional<StoreError> error =
      event ? store.removeEvent(*event, Span::thisEvent) : StoreError{"", true};
  if (error && error->notFound) {
    emit(process.output, Json{{"ok", true}, {"alreadyGone", true}});
    return;
  }
  if (error)
    fail(process.output, std::string(messages::kDeleteFailed) + repairUtf8(error->description));
  emit(process.output, Json{{"ok", true}});
}

}  // namespace tembra
