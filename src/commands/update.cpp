// The update command.
#include "commands/update.h"

#include "access/authorization.h"
#include "cli/messages.h"
#include "cli/process.h"

namespace tembra {

void runUpdate(Process& process) {
  requireAccess(process);
  fail(process.output, messages::kNotAvailableYet);
}

}  // namespace tembra
