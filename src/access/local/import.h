// Importing iCalendar text into a calendar of the local store, as a sync filling it would. Used by
// tembra-store and by tests that fill stores.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "access/local/admin.h"

namespace tembra::local {

// Adds the events of iCalendar text to a calendar, read-only or not, as a sync filling it would:
// one file per UID holding its VEVENTs and the VTIMEZONEs they use, every property kept as given
// (an event without a UID gets one). A UID the calendar already holds replaces that file. Nothing
// is written when any part of the text cannot be stored. Each file is replaced whole, and every
// one is on disk once it succeeds; the index then holds them, so that the next run reads none.
// `ids` receives the event identifiers. Its time grows with the events of the text and of the
// calendar, not with their product.
std::optional<std::string> importEvents(const std::filesystem::path& root,
                                        const std::string& calendarId, std::string_view text,
                                        std::vector<std::string>& ids,
                                        Progress* progress = nullptr);

}  // namespace tembra::local
