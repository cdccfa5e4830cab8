// The update command.
#pragma once

namespace tembra {

struct Process;

void runUpdate(Process& process);

}  // namespace tembra
