// The resolve-calendar command.
#include "commands/resolve_calendar.h"

#include "access/authorization.h"
#include "cli/messages.h"
#include "cli/process.h"

namespace tembra {

void runResolveCalendar(Process& process) {
  requireAccess(process);
  fail(process.output, messages::kNotAvailableYet);
}

}  // namespace tembra
