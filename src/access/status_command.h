// The status command: reports the authorization state without asking the user.
#pragma once

#include "cli/output.h"

namespace tembra {

struct Process;

// A status code that no store reports: the state of a run whose store could not be chosen.
inline constexpr int kNoStoreStatus = -1;

// {"granted": code == 3, "status": text of the code}.
Json statusRecord(int code);

// Emits the status record of the store's code; always succeeds.
void runStatus(Process& process);

}  // namespace tembra
