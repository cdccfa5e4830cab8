// The calendars command.
#include "commands/calendars.h"

#include "access/authorization.h"
#include "cli/messages.h"
#include "cli/process.h"

namespace tembra {

void runCalendars(Process& process) {
  requireAccess(process);
  fail(process.output, messages::kNotAvailableYet);
}

}  // namespace tembra
