// Access authorization: the status texts, the permission request and its guard.
#include "access/authorization.h"

#include <atomic>
#include <memory>

#include "access/answer_signal.h"
#include "cli/messages.h"
#include "cli/process.h"

namespace tembra {
namespace {

// Shared by the waiting caller and the completion, which may outlive the wait.
struct PendingAnswer {
  std::atomic<bool> granted{false};
  AnswerSignal answered;
};

}  // namespace

AccessResult requestFullAccess(CalendarStore& store, bool macOS14OrLater,
                               std::chrono::milliseconds deadline) {
  const int code = store.authorizationStatus(EntityType::event);
  const std::string text = authorizationStatusString(code, macOS14OrLater);
  const std::optional<AuthorizationState> state = authorizationState(code);
  if (state == AuthorizationState::restricted || state == AuthorizationState::denied)
    return {false, text};
  if (state == AuthorizationState::fullAccess)
    return {true, text};

  auto pending = std::make_shared<PendingAnswer>();
  AccessCompletion completion = [pending](bool granted, std::optional<StoreError>) {
    pending->granted.store(granted);
    pending->answered.signal();
  };
  if (macOS14OrLater) {
    store.requestFullAccessToEvents(std::move(completion));
  } else {
    store.requestAccess(EntityType::event, std::move(completion));
  }
  pending->answered.waitFor(deadline);
  const bool granted = pending->granted.load();
  // Here, on the caller's thread and before the command reads anything: the system's store made
  // before the grant would otherwise serve this whole run from its view without access.
  if (granted)
    store.accessGranted();

  if (macOS14OrLater) {
    return {granted, authorizationStatusString(store.authorizationStatus(EntityType::event), true)};
  }
  return {granted, granted ? "authorized" : "denied"};
}

std::string accessDeniedMessage(const std::string& status) {
  return std::string(messages::kAccessDeniedBefore) + status +
         std::string(messages::kAccessDeniedAfter);
}

AccessResult requireAccess(Process& process) {
  AccessResult result = requestFullAccess(*process.store);
  if (!result.granted)
    fail(process.output, accessDeniedMessage(result.status), kExitAccessDenied);
  return result;
}

}  // namespace tembra
