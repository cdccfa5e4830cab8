// The local calendar store: a folder of iCalendar files, one folder per calendar, grouped by
// source, with a settings file at its root. It stands in for the system calendar store.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "access/calendar_store.h"

namespace tembra::local {

// $TEMBRA_STORE when set and not empty, else $XDG_DATA_HOME/tembra, else
// $HOME/.local/share/tembra; absent when none of them is set, and when TEMBRA_STORE is a relative
// path (see storePathProblem). A relative XDG_DATA_HOME is ignored, as the XDG rules say: either
// would name a different store in each folder the host runs in.
std::optional<std::filesystem::path> defaultStorePath();

// Why TEMBRA_STORE names no store: it is a relative path. None when it is absolute or unset.
std::optional<std::string> storePathProblem();

// A store over the folder at root. Nothing is touched until the first operation; a store that does
// not exist yet (a missing or empty folder) is then created with one writable calendar, which is
// the default calendar for new events.
std::unique_ptr<CalendarStore> createLocalStore(std::filesystem::path root);

}  // namespace tembra::local
