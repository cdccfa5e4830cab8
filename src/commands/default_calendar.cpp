// The default-calendar command.
#include "commands/default_calendar.h"

#include "access/authorization.h"
#include "cli/messages.h"
#include "cli/process.h"

namespace tembra {

void runDefaultCalendar(Process& process) {
  requireAccess(process);
  fail(process.output, messages::kNotAvailableYet);
}

}  // namespace tembra
