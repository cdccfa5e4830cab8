// Store creation, settings changes and the index rebuilt.
#include "access/local/admin.h"

#include <sys/stat.h>

#include <algorithm>
#include <functional>

#include "access/local/event_files.h"
#include "access/local/files.h"
#include "access/local/ical.h"
#include "access/local/index.h"
#include "access/local/journal.h"
#include "access/local/layout.h"
#include "access/local/series.h"
#include "access/local/settings.h"
#include "records/utf8.h"

namespace tembra::local {
namespace {

// Empty but for the lock, an unfinished creation and what dead writers left behind.
bool isEmptyStoreFolder(const std::filesystem::path& root) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(root, error)) {
    const std::string name = entry.path().filename().string();
    if (name != kLockFileName && name != kCreationFolder && !isTemporaryName(name))
      return false;
  }
  return !error;
}

// Makes a folder inside the store, and any missing one above it, as private as the nearest
// folder above that exists.
std::optional<std::string> makeFolder(const std::filesystem::path& path) {
  std::filesystem::path existing = path.parent_path();
  while (!existing.empty() && existing != existing.parent_path() && !isPresent(existing))
    existing = existing.parent_path();
  return makeFolders(path, folderMode(existing));
}

// A new store holds a person's calendar: its folder, and any folder made above it, is theirs alone.
constexpr mode_t kNewStoreMode = 0700;

// Runs `change` on the settings under the store lock and saves them when it succeeds.
std::optional<std::string> changeSettings(
    const std::filesystem::path& root,
    const std::function<std::optional<std::string>(Settings&)>& change) {
  std::optional<StoreLock> lock;
  if (auto error = lockStore(root, lock))
    return error;
  SettingsState state;
  Settings settings = loadSettings(root, &state);
  if (state == SettingsState::unreadable) {
    return (root / kSettingsFileName).string() + " is not a readable settings file";
  }
  if (auto error = change(settings))
    return error;
  return saveSettings(root, settings);
}

std::optional<std::string> writeCalendarFolder(const std::filesystem::path& dir,
                                               const std::string& title,
                                               const std::optional<std::string>& color) {
  if (auto error = makeFolder(dir))
    return error;
  if (auto error = writeFileAtomically(dir, kDisplayNameFile, title))
    return error;
  if (color)
    return writeFileAtomically(dir, kColorFile, *color);
  return std::nullopt;
}

// Moves a store put together in the creation folder into place. Each step is a rename, so a run
// that dies between them leaves what the next run recognises and finishes.
std::optional<std::string> finishCreation(const std::filesystem::path& root) {
  const std::filesystem::path staging = root / kCreationFolder;
  if (isPresent(staging / kStarterSourceFolder) && !isPresent(root / kStarterSourceFolder)) {
    if (::rename((staging / kStarterSourceFolder).c_str(), (root / kStarterSourceFolder).c_str())) {
      return systemError("cannot create " + (root / kStarterSourceFolder).string());
    }
    if (auto error = syncFolder(root))
      return error;
  }
  if (::rename((staging / kSettingsFileName).c_str(), (root / kSettingsFileName).c_str()) != 0)
    return systemError("cannot create " + (root / kSettingsFileName).string());
  if (auto error = syncFolder(root))
    return error;
  std::error_code ignored;
  std::filesystem::remove_all(staging, ignored);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> createStoreIfAbsent(const std::filesystem::path& root, bool empty) {
  if (isPresent(root / kSettingsFileName))
    return std::nullopt;
  if (auto error = makeFolders(root, kNewStoreMode))
    return error;
  std::string lockError;
  auto lock = StoreLock::acquire(root, lockError);
  if (!lock)
    return lockError;
  // Another process may have created it while this one waited for the lock.
  if (isPresent(root / kSettingsFileName))
    return std::nullopt;
  const std::filesystem::path staging = root / kCreationFolder;
  // A creation that died after it had put everything together is finished as it was begun.
  if (isPresent(staging / kSettingsFileName))
    return finishCreation(root);
  // A folder that other tools filled (a sync, khal) is a store without settings.
  if (!isEmptyStoreFolder(root))
    return std::nullopt;

  std::error_code ignored;
  std::filesystem::remove_all(staging, ignored);
  if (auto error = makeFolder(staging))
    return error;
  Settings settings;
  if (!empty) {
    const std::string id = std::string(kStarterSourceFolder) + "/" + kStarterCalendarFolder;
    if (auto error = writeCalendarFolder(staging / kStarterSourceFolder / kStarterCalendarFolder,
                                         kStarterCalendarTitle, kStarterCalendarColor)) {
      return error;
    }
    if (auto error = syncFolder(staging / kStarterSourceFolder))
      return error;
    settings.sourceTitles[kStarterSourceFolder] = kStarterSourceTitle;
    settings.calendarOrder.push_back(id);
    settings.defaultCalendar = id;
  }
  // Written last: the creation folder is complete once it holds the settings.
  if (auto error = saveSettings(staging, settings))
    return error;
  return finishCreation(root);
}

std::optional<std::string> lockStore(const std::filesystem::path& root,
                                     std::optional<StoreLock>& lock) {
  if (auto error = createStoreIfAbsent(root, false))
    return error;
  std::string error;
  lock = StoreLock::acquire(root, error);
  if (!lock)
    return error;
  return finishInterruptedWrites(root);
}

std::optional<std::string> addCalendar(const std::filesystem::path& root,
                                       const NewCalendar& request, std::string& id) {
  if (request.color && !parseColor(*request.color))
    return "not a colour of the form #RRGGBB: " + *request.color;
  return changeSettings(root, [&](Settings& settings) -> std::optional<std::string> {
    std::string source;
    for (const auto& [folder, title] : settings.sourceTitles) {
      if (title == request.source)
        source = folder;
    }
    if (source.empty()) {
      std::vector<std::string> taken = subfolders(root);
      for (const auto& entry : settings.sourceTitles)
        taken.push_back(entry.first);
      source = folderNameFor(request.source.value_or(""), request.source ? "source" : "no-source",
                             taken);
      settings.sourceTitles[source] = request.source;
    }
    const std::string calendar =
        folderNameFor(request.title, "calendar", subfolders(root / source));
    if (auto error = writeCalendarFolder(root / source / calendar, request.title, request.color)) {
      return error;
    }
    id = source + "/" + calendar;
    settings.calendarOrder.push_back(id);
    if (request.readOnly)
      settings.readOnly.push_back(id);
    return std::nullopt;
  });
}

std::optional<std::string> setAuthorization(const std::filesystem::path& root, int code) {
  return changeSettings(root, [&](Settings& settings) -> std::optional<std::string> {
    settings.authorization = code;
    return std::nullopt;
  });
}

std::optional<std::string> setAnswer(const std::filesystem::path& root, bool grant) {
  return changeSettings(root, [&](Settings& settings) -> std::optional<std::string> {
    settings.grantsAccess = grant;
    return std::nullopt;
  });
}

std::optional<std::string> setDefaultCalendar(const std::filesystem::path& root,
                                              const std::optional<std::string>& id) {
  return changeSettings(root, [&](Settings& settings) -> std::optional<std::string> {
    if (id) {
      auto path = parseCalendarId(*id);
      if (!path || !isCalendarFolder(root, *path))
        return "no calendar with identifier " + *id;
    }
    settings.defaultCalendar = id;
    return std::nullopt;
  });
}

std::optional<std::string> rebuildIndex(const std::filesystem::path& root, Progress* progress,
                                        Index::Census* census) {
  Progress quiet;
  Progress& shown = progress ? *progress : quiet;
  std::optional<StoreLock> lock;
  if (auto error = lockStore(root, lock))
    return error;
  const std::vector<CalendarPath> calendars = calendarPaths(root);
  std::size_t files = 0;
  for (const CalendarPath& calendar : calendars)
    files += eventFileNames(root / calendar.source / calendar.calendar).size();
  try {
    Index::remove(root);
    Index index(root);
    std::size_t done = 0;
    index.afterEachRead([&] { shown.advance(++done); });
    shown.step("indexing the files", files);
    index.refresh(calendars);
    if (census)
      *census = index.census();
  } catch (const sql::IndexFailure& failure) {
    return std::string("cannot build the index: ") + failure.what();
  }
  return std::nullopt;
}

}  // namespace tembra::local
