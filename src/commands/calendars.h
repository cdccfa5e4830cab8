// The calendars command.
#pragma once

namespace tembra {

struct Process;

void runCalendars(Process& process);

}  // namespace tembra
