// Where the program's calendar store comes from: the system's calendar store where the platform
// has one, the local store of iCalendar folders everywhere else, or the calendars of the GNOME
// desktop (Evolution Data Server), which tembra-eds serves.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "access/calendar_store.h"

namespace tembra {

// Creating the handle asks the user nothing and touches nothing yet.
std::unique_ptr<CalendarStore> createSystemStore();

// Why the environment names no store this build can serve (the local store's TEMBRA_STORE given
// as a relative path); none when it does. Every command but status then ends with the message.
std::optional<std::string> systemStoreProblem();

// Hands the run to the store TEMBRA_BACKEND names. Unset, empty or "local", it is this build's own
// store: nothing happens and none is returned. "eds" replaces this process by tembra-eds, with the
// same arguments (argv ends with a null), so that a run over the local store never loads EDS's
// libraries. tembra-eds is looked for where the installation puts it relative to this executable
// (bin/tembra, libexec/tembra/tembra-eds), then beside it; returns only when neither starts.
// Returns the message for a name no back-end has, or whose back-end is not installed. On macOS,
// where the system's store is the only one, nothing is read and nothing happens.
std::optional<std::string> handOverToChosenBackend(char** argv);

}  // namespace tembra
