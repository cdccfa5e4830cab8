// The store's folders: which calendars exist, what they are called, and where an identifier
// leads. Identifiers come from the host, so they are checked before they touch the file system.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "access/calendar_store.h"
#include "access/calendar_text.h"
#include "access/local/settings.h"

namespace tembra::local {

inline constexpr const char* kDisplayNameFile = "displayname";
inline constexpr const char* kColorFile = "color";
inline constexpr std::string_view kEventFileExtension = ".ics";

// A name the store may use for a folder or event file: not empty, not hidden (no leading "."),
// no "/" or NUL, valid UTF-8, at most 255 bytes.
bool isUsableName(std::string_view name);

// A calendar identifier is "<source folder>/<calendar folder>"; an event identifier adds
// "/<file name>.ics". Each gives its parts, or absent when it is not of that shape.
struct CalendarPath {
  std::string source;
  std::string calendar;
  std::string id() const { return source + "/" + calendar; }
};
struct EventPath {
  CalendarPath calendar;
  std::string file;
  std::string id() const { return calendar.id() + "/" + file; }
};
std::optional<CalendarPath> parseCalendarId(std::string_view id);
std::optional<EventPath> parseEventId(std::string_view id);

// A calendar folder as found on disk, with what its metadata files say.
struct CalendarFolder {
  CalendarPath path;
  std::optional<std::string> displayName;
  std::optional<std::string> color;
};

// True when the folder is a real folder of the store (not a link, not hidden).
bool isCalendarFolder(const std::filesystem::path& root, const CalendarPath& path);

// The paths of every calendar folder, by identifier; no metadata is read.
std::vector<CalendarPath> calendarPaths(const std::filesystem::path& root);

// Every calendar folder: those the settings list, in their order, then the others by identifier.
std::vector<CalendarFolder> listCalendarFolders(const std::filesystem::path& root,
                                                const Settings& settings);
std::optional<CalendarFolder> readCalendarFolder(const std::filesystem::path& root,
                                                 const CalendarPath& path);

// The calendar as the store reports it.
Calendar calendarFrom(const CalendarFolder& folder, const Settings& settings);

// A folder name made from a title: lower-case ASCII letters, digits and "-", never empty, not
// among `taken`.
std::string folderNameFor(std::string_view title, std::string_view fallback,
                          const std::vector<std::string>& taken);

// The names of the usable sub-folders of a folder, sorted.
std::vector<std::string> subfolders(const std::filesystem::path& dir);

}  // namespace tembra::local
