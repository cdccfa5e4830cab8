// The resolve-calendar command.
#pragma once

namespace tembra {

struct Process;

void runResolveCalendar(Process& process);

}  // namespace tembra
