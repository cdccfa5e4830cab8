// The create command.
#pragma once

namespace tembra {

struct Process;

// Saves a new event from the --input object and prints the saved-event summary. Refuses, in this
// order: no input object, no readable "start", an end before the start (all 64); no writable named
// calendar and no default calendar (3); a refused save (1). Nothing is saved on a refusal.
void runCreate(Process& process);

}  // namespace tembra
