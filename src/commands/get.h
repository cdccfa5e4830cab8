// The get command.
#pragma once

namespace tembra {

struct Process;

// Prints the event record of the event --id names. A missing or empty --id is status 64, an
// unknown identifier status 4.
void runGet(Process& process);

}  // namespace tembra
