// The delete command.
#include "commands/delete.h"

#include "access/authorization.h"
#include "cli/messages.h"
#include "cli/process.h"

namespace tembra {

void runDelete(Process& process) {
  requireAccess(process);
  fail(process.output, messages::kNotAvailableYet);
}

}  // namespace tembra
