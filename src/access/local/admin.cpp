// Store creation and settings changes.
#include "access/local/admin.h"

#include <sys/stat.h>

#include <functional>

#include "access/local/files.h"
#include "access/local/layout.h"
#include "access/local/settings.h"

namespace tembra::local {
namespace {

bool isEmptyStoreFolder(const std::filesystem::path& root) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(root, error)) {
    if (entry.path().filename() != kLockFileName)
      return false;
  }
  return !error;
}

std::optional<std::string> makeFolder(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (error)
    return "cannot create " + path.string() + ": " + error.message();
  return std::nullopt;
}

// Runs `change` on the settings under the store lock and saves them when it succeeds.
std::optional<std::string> changeSettings(
    const std::filesystem::path& root,
    const std::function<std::optional<std::string>(Settings&)>& change) {
  if (auto error = createStoreIfAbsent(root, false))
    return error;
  std::string lockError;
  auto lock = StoreLock::acquire(root, lockError);
  if (!lock)
    return lockError;
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

}  // namespace

std::optional<std::string> createStoreIfAbsent(const std::filesystem::path& root, bool empty) {
  struct stat info;
  if (::stat((root / kSettingsFileName).c_str(), &info) == 0)
    return std::nullopt;
  if (auto error = makeFolder(root))
    return error;
  std::string lockError;
  auto lock = StoreLock::acquire(root, lockError);
  if (!lock)
    return lockError;
  // Another process may have created it while this one waited for the lock.
  if (!isEmptyStoreFolder(root))
    return std::nullopt;

  Settings settings;
  if (!empty) {
    const std::string id = std::string(kStarterSourceFolder) + "/" + kStarterCalendarFolder;
    if (auto error = writeCalendarFolder(root / kStarterSourceFolder / kStarterCalendarFolder,
                                         kStarterCalendarTitle, kStarterCalendarColor)) {
      return error;
    }
    settings.sourceTitles[kStarterSourceFolder] = kStarterSourceTitle;
    settings.calendarOrder.push_back(id);
    settings.defaultCalendar = id;
  }
  // The settings file is written last: its presence is what marks the store as made.
  return saveSettings(root, settings);
}

std::optional<std::string> addCalendar(const std::filesystem::path& root, const NewCalendar& spec,
                                       std::string& id) {
  if (spec.color && !parseColor(*spec.color))
    return "not a colour of the form #RRGGBB: " + *spec.color;
  return changeSettings(root, [&](Settings& settings) -> std::optional<std::string> {
    std::string source;
    for (const auto& [folder, title] : settings.sourceTitles) {
      if (title == spec.source)
        source = folder;
    }
    if (source.empty()) {
      std::vector<std::string> taken = subfolders(root);
      for (const auto& entry : settings.sourceTitles)
        taken.push_back(entry.first);
      source = folderNameFor(spec.source.value_or(""), spec.source ? "source" : "no-source", taken);
      settings.sourceTitles[source] = spec.source;
    }
    const std::string calendar = folderNameFor(spec.title, "calendar", subfolders(root / source));
    if (auto error = writeCalendarFolder(root / source / calendar, spec.title, spec.color)) {
      return error;
    }
    id = source + "/" + calendar;
    settings.calendarOrder.push_back(id);
    if (spec.readOnly)
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

}  // namespace tembra::local
