// The delete command.
#pragma once

namespace tembra {

struct Process;

// Removes the event --id names and prints {"ok":true}; an unknown identifier is success with
// "alreadyGone". A missing or empty --id is status 64, a refused removal status 1.
void runDelete(Process& process);

}  // namespace tembra
