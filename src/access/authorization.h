// Whether the program may use the calendar, asking the user where the state is still open.
#pragma once

#include <chrono>
#include <string>

#include "access/authorization_state.h"
#include "access/calendar_store.h"

namespace tembra {

struct Process;

// The outcome of an access check.
struct AccessResult {
  bool granted;
  std::string status;  // the authorizationStatusString that explains granted
};

inline constexpr std::chrono::milliseconds kAccessRequestDeadline = std::chrono::seconds(120);

// Reads the status and, but for restricted, denied and full access, asks the store and waits at
// most `deadline` for the answer; after an answer "granted" it calls the store's accessGranted
// before returning. Never ends the process; an answer that comes after the deadline counts as a
// refusal and touches nothing the caller has released.
AccessResult requestFullAccess(CalendarStore& store, bool macOS14OrLater = runningMacOS14OrLater(),
                               std::chrono::milliseconds deadline = kAccessRequestDeadline);

// Returns only when access is granted; otherwise fails with the access message and status 2.
AccessResult requireAccess(Process& process);

// The message of a refused access for the status text.
std::string accessDeniedMessage(const std::string& status);

}  // namespace tembra
