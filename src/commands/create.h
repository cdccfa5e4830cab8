// The create command.
#pragma once

namespace tembra {

struct Process;

void runCreate(Process& process);

}  // namespace tembra
