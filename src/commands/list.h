// The list command.
#pragma once

namespace tembra {

struct Process;

void runList(Process& process);

}  // namespace tembra
