// Reading event files and the events of a window.
#include "access/local/event_files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <uuid/uuid.h>

#include <algorithm>

#include "access/local/files.h"

namespace tembra::local {

bool isEventFileEntry(const FolderEntry& entry) {
  return isUsableName(entry.name) && entry.name.ends_with(kEventFileExtension) &&
         (entry.type == DT_REG || entry.type == DT_UNKNOWN);
}

std::vector<std::string> eventFileNames(const std::filesystem::path& calendarDir) {
  std::vector<std::string> names;
  for (FolderEntry& entry : folderEntries(calendarDir)) {
    if (isEventFileEntry(entry))
      names.push_back(std::move(entry.name));
  }
  return names;
}

std::optional<Series> readSeries(const std::filesystem::path& file) {
  const std::optional<std::string> text = readFile(file);
  if (!text)
    return std::nullopt;
  return Series::parse(*text);
}

Event eventFrom(const Series& series, const Occurrence& occurrence, const std::string& id,
                const Calendar& calendar) {
  Event event = series.eventAt(occurrence);
  event.eventIdentifier = id;
  event.calendar = calendar;
  return event;
}

std::vector<Event> eventsInWindow(const std::filesystem::path& root,
                                  const std::vector<Calendar>& calendars, Instant from,
                                  Instant to) {
  std::vector<Event> events;
  for (const Calendar& calendar : calendars) {
    const auto path = parseCalendarId(calendar.calendarIdentifier);
    if (!path || !isCalendarFolder(root, *path))
      continue;
    const std::filesystem::path dir = root / path->source / path->calendar;
    for (const std::string& name : eventFileNames(dir)) {
      const std::optional<Series> series = readSeries(dir / name);
      if (!series)
        continue;
      const std::string id = path->id() + "/" + name;
      for (const Occurrence& occurrence : series->occurrences(from, to)) {
        events.push_back(eventFrom(*series, occurrence, id, calendar));
      }
    }
  }
  sortInWindowOrder(events);
  return events;
}

bool holdsUid(const std::filesystem::path& calendarDir, const std::string& uid) {
  for (const std::string& name : eventFileNames(calendarDir)) {
    const std::optional<Series> series = readSeries(calendarDir / name);
    if (series && series->uid() == uid)
      return true;
  }
  return false;
}

std::string newUuid() {
  uuid_t uuid;
  uuid_generate_random(uuid);
  char text[37];
  uuid_unparse_upper(uuid, text);
  return text;
}

std::string fileNameForUid(const std::string& uid, const std::filesystem::path& calendarDir) {
  const bool plain = !uid.empty() && uid.size() <= 200 && uid.front() != '.' &&
                     std::all_of(uid.begin(), uid.end(), [](char c) {
                       return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                              (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '+' ||
                              c == '-';
                     });
  std::string name = plain ? uid + std::string(kEventFileExtension) : newUuid() + ".ics";
  struct stat info;
  while (::lstat((calendarDir / name).c_str(), &info) == 0)
    name = newUuid() + ".ics";
  return name;
}

}  // namespace tembra::local
