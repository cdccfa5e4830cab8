// The list command.
#pragma once

namespace tembra {

struct Process;

// Prints the event records of the window --from..--to (date text, --to strictly later), from
// every calendar or from the one --calendar names, in the store's order, without occurrences moved
// on their own. Refuses a missing or unreadable date or a bad order (64) before it looks up the
// calendar; an unknown calendar is status 5.
void runList(Process& process);

}  // namespace tembra
