// The status command: reports the authorization state without asking the user.
#pragma once

namespace tembra {

struct Process;

// Emits {"granted": code == 3, "status": text of the code}; always succeeds.
void runStatus(Process& process);

}  // namespace tembra
