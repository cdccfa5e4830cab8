// The status command.
#include "access/status_command.h"

#include "access/authorization.h"
#include "cli/process.h"

namespace tembra {

void runStatus(Process& process) {
  const int code = process.store->authorizationStatus(EntityType::event);
  Json record = Json::object();
  record["granted"] = code == 3;
  record["status"] = authorizationStatusString(code);
  emit(process.output, record);
}

}  // namespace tembra
