// Calendar folders and identifiers.
#include "access/local/layout.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>

#include "access/local/files.h"
#include "records/utf8.h"

namespace tembra::local {
namespace {

// Splits on "/" into exactly `parts` usable names.
std::optional<std::vector<std::string>> splitId(std::string_view id, std::size_t parts) {
  std::vector<std::string> names;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t slash = id.find('/', begin);
    const std::string_view name =
        id.substr(begin, slash == std::string_view::npos ? slash : slash - begin);
    if (!isUsableName(name))
      return std::nullopt;
    names.emplace_back(name);
    if (slash == std::string_view::npos)
      break;
    begin = slash + 1;
  }
  if (names.size() != parts)
    return std::nullopt;
  return names;
}

bool isRealFolder(const std::filesystem::path& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) {
    noteReadError("cannot look at " + path.string());
    return false;
  }
  return S_ISDIR(info.st_mode);
}

// Metadata files hold one value; a trailing line break from an editor is not part of it.
std::optional<std::string> readMetadata(const std::filesystem::path& path) {
  std::optional<std::string> text = readFile(path);
  if (!text)
    return std::nullopt;
  while (!text->empty() && (text->back() == '\n' || text->back() == '\r'))
    text->pop_back();
  return repairUtf8(*text);
}

}  // namespace

bool isUsableName(std::string_view name) {
  return !name.empty() && name.size() <= 255 && name.front() != '.' &&
         name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos &&
         isValidUtf8(name);
}

std::optional<CalendarPath> parseCalendarId(std::string_view id) {
  auto names = splitId(id, 2);
  if (!names)
    return std::nullopt;
  return CalendarPath{(*names)[0], (*names)[1]};
}

std::optional<EventPath> parseEventId(std::string_view id) {
  auto names = splitId(id, 3);
  if (!names || !(*names)[2].ends_with(kEventFileExtension))
    return std::nullopt;
  return EventPath{{(*names)[0], (*names)[1]}, (*names)[2]};
}

std::vector<std::string> subfolders(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (FolderEntry& entry : folderEntries(dir)) {
    if (isUsableName(entry.name) &&
        (entry.type == DT_DIR || (entry.type == DT_UNKNOWN && isRealFolder(dir / entry.name)))) {
      names.push_back(std::move(entry.name));
    }
  }
  return names;
}

bool isCalendarFolder(const std::filesystem::path& root, const CalendarPath& path) {
  return isRealFolder(root / path.source) && isRealFolder(root / path.source / path.calendar);
}

std::optional<CalendarFolder> readCalendarFolder(const std::filesystem::path& root,
                                                 const CalendarPath& path) {
  if (!isCalendarFolder(root, path))
    return std::nullopt;
  const std::filesystem::path dir = root / path.source / path.calendar;
  return CalendarFolder{path, readMetadata(dir / kDisplayNameFile), readMetadata(dir / kColorFile)};
}

std::vector<CalendarPath> calendarPaths(const std::filesystem::path& root) {
  std::vector<CalendarPath> paths;
  for (const std::string& source : subfolders(root)) {
    for (const std::string& calendar : subfolders(root / source))
      paths.push_back(CalendarPath{source, calendar});
  }
  // By identifier: "a-b/x" comes before "a/x", although the folder "a" comes before "a-b".
  std::sort(paths.begin(), paths.end(),
            [](const CalendarPath& a, const CalendarPath& b) { return a.id() < b.id(); });
  return paths;
}

std::vector<CalendarFolder> listCalendarFolders(const std::filesystem::path& root,
                                                const Settings& settings) {
  std::vector<std::string> found;
  for (const CalendarPath& path : calendarPaths(root))
    found.push_back(path.id());
  std::vector<std::string> ordered;
  for (const std::string& id : settings.calendarOrder) {
    if (std::binary_search(found.begin(), found.end(), id) &&
        std::find(ordered.begin(), ordered.end(), id) == ordered.end()) {
      ordered.push_back(id);
    }
  }
  for (const std::string& id : found) {
    if (std::find(ordered.begin(), ordered.end(), id) == ordered.end())
      ordered.push_back(id);
  }
  std::vector<CalendarFolder> folders;
  for (const std::string& id : ordered) {
    if (auto folder = readCalendarFolder(root, *parseCalendarId(id))) {
      folders.push_back(std::move(*folder));
    }
  }
  return folders;
}

Calendar calendarFrom(const CalendarFolder& folder, const Settings& settings) {
  Calendar calendar;
  calendar.calendarIdentifier = folder.path.id();
  calendar.title = folder.displayName.value_or(folder.path.calendar);
  if (auto known = settings.sourceTitles.find(folder.path.source);
      known != settings.sourceTitles.end()) {
    if (known->second)
      calendar.source = Source{*known->second};
  } else {
    calendar.source = Source{folder.path.source};
  }
  if (folder.color)
    calendar.color = parseColor(*folder.color);
  calendar.allowsContentModifications = !settings.isReadOnly(calendar.calendarIdentifier);
  return calendar;
}

std::string folderNameFor(std::string_view title, std::string_view fallback,
                          const std::vector<std::string>& taken) {
  std::string base;
  for (const char c : title) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) && u < 0x80) {
      base += static_cast<char>(std::tolower(u));
    } else if ((c == ' ' || c == '-' || c == '_') && !base.empty() && base.back() != '-') {
      base += '-';
    }
  }
  while (!base.empty() && base.back() == '-')
    base.pop_back();
  if (base.size() > 64)
    base.resize(64);
  if (base.empty())
    base = fallback;
  std::string name = base;
  for (int suffix = 2; std::find(taken.begin(), taken.end(), name) != taken.end(); ++suffix) {
    name = base + "-" + std::to_string(suffix);
  }
  return name;
}

}  // namespace tembra::local
