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
  if (!event) {
    // Deleting twice must succeed twice: the host may retry after losing the first answer.
    emit(process.output, Json{{"ok", true}, {"alreadyGone", true}});
    return;
  }
  if (const std::optional<StoreError> error = store.removeEvent(*event, Span::thisEvent))
    fail(process.output, std::string(messages::kDeleteFailed) + repairUtf8(error->description));
  emit(process.output, Json{{"ok", true}});
}

}  // namespace tembra
