// The get command.
#pragma once

namespace tembra {

struct Process;

void runGet(Process& process);

}  // namespace tembra
