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
// $HOME/.local/share/tembra; absent when none of them is set.
std::optional<std::filesystem::path> defaultStorePath();

// A store over the folder at root. Nothing is touched until the first operation; a store that does
// not exist yet (a missing or empty folder) is then created with one writable calendar, which is
// the default calendar for new events.
std::unique_ptr<CalendarStore> createLocalStore(std::filesystem::path root);

}  // namespace tembra::local
