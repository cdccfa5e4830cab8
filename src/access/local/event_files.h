// Event files inside calendar folders, and the events the store reports from them.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "access/calendar_store.h"
#include "access/local/files.h"
#include "access/local/layout.h"
#include "access/local/series.h"

namespace tembra::local {

// True for a folder entry that may be an event file: a usable name ending in ".ics", and a regular
// file as far as the listing tells.
bool isEventFileEntry(const FolderEntry& entry);

// The names of the event files of a calendar folder: usable names ending in ".ics", sorted.
std::vector<std::string> eventFileNames(const std::filesystem::path& calendarDir);

// The series of an event file; none when it is missing, a link, or not a readable series.
std::optional<Series> readSeries(const std::filesystem::path& file);

// The event the store reports for one occurrence of the series in the file `id`.
Event eventFrom(const Series& series, const Occurrence& occurrence, const std::string& id,
                const Calendar& calendar);

// Every occurrence of the calendars' events that overlaps [from, to), ordered by start, then
// end, then identifier. Files that cannot be read are skipped.
std::vector<Event> eventsInWindow(const std::filesystem::path& root,
                                  const std::vector<Calendar>& calendars, Instant from, Instant to);

// True when one of the calendar folder's event files holds a series with this UID.
bool holdsUid(const std::filesystem::path& calendarDir, const std::string& uid);

// A fresh random UUID in upper case.
std::string newUuid();

// The file name for a series with the UID: the UID itself when it is made only of
// [A-Za-z0-9_.+-] and short enough, otherwise a fresh UUID; never one that is taken.
std::string fileNameForUid(const std::string& uid, const std::filesystem::path& calendarDir);

}  // namespace tembra::local
