// The update command.
#pragma once

namespace tembra {

struct Process;

// Changes the fields the --input object carries on the event its "id" names, repairs an end left
// before the start, saves, and prints the saved-event summary. Refuses no input object or no
// usable "id" (64), an unknown identifier (4) and a refused save (1); nothing changes then.
void runUpdate(Process& process);

}  // namespace tembra
