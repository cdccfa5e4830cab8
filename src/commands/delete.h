// The delete command.
#pragma once

namespace tembra {

struct Process;

void runDelete(Process& process);

}  // namespace tembra
