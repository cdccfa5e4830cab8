// The status command.
#include "access/status_command.h"

#include "access/authorization.h"
#include "cli/process.h"

namespace tembra {

Json statusRecord(int code) {
  Json record = Json::object();
  record["granted"] = authorizationState(code) == AuthorizationState::fullAccess;
  record["status"] = authorizationStatusString(code);
  return record;
}

void runStatus(Process& process) {
  emit(process.output, statusRecord(process.store->authorizationStatus(EntityType::event)));
}

}  // namespace tembra
