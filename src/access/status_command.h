// The status command: reports the authorization state without asking the user.
#pragma once

#include "cli/output.h"

namespace tembra {

struct Process;

// {"granted": the code is full access's, "status": text of the code}.
Json statusRecord(int code);

// Emits the status record of the store's code; always succeeds.
void runStatus(Process& process);

}  // namespace tembra
