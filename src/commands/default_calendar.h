// The default-calendar command.
#pragma once

namespace tembra {

struct Process;

void runDefaultCalendar(Process& process);

}  // namespace tembra
