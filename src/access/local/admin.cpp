// Store creation and settings changes.
#include "access/local/admin.h"

#include <sys/stat.h>

#include <functional>
#include <map>
#include <set>

#include "access/local/event_files.h"
#include "access/local/files.h"
#include "access/local/ical.h"
#include "access/local/index.h"
#include "access/local/journal.h"
#include "access/local/layout.h"
#include "access/local/series.h"
#include "access/local/settings.h"

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

std::optional<std::string> makeFolder(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (error)
    return "cannot create " + path.string() + ": " + error.message();
  return std::nullopt;
}

// Creates the store when it is absent, then takes its lock and finishes what dead writers left.
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
  if (auto error = makeFolder(root))
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

namespace {

// The TZIDs the component and its children use.
void collectTzids(icalcomponent* component, std::set<std::string>& tzids) {
  for (icalcomponent* each : ical::descendants(component)) {
    for (icalproperty* property : ical::properties(each, ICAL_ANY_PROPERTY)) {
      if (auto tzid = ical::parameterText(property, ICAL_TZID_PARAMETER))
        tzids.insert(*tzid);
    }
  }
}

// One file's text for the events of one UID, with the calendar's properties (but METHOD, which
// stored objects must not carry) and the VTIMEZONEs the events use.
std::string seriesText(icalcomponent* source, const std::vector<icalcomponent*>& events) {
  ical::Component calendar(icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
  for (icalproperty* property = icalcomponent_get_first_property(source, ICAL_ANY_PROPERTY);
       property; property = icalcomponent_get_next_property(source, ICAL_ANY_PROPERTY)) {
    if (icalproperty_isa(property) == ICAL_METHOD_PROPERTY)
      continue;
    icalcomponent_add_property(calendar.get(), icalproperty_new_clone(property));
  }
  if (!icalcomponent_get_first_property(calendar.get(), ICAL_VERSION_PROPERTY)) {
    icalcomponent_add_property(calendar.get(), icalproperty_new_version("2.0"));
  }
  if (!icalcomponent_get_first_property(calendar.get(), ICAL_PRODID_PROPERTY)) {
    icalcomponent_add_property(calendar.get(), icalproperty_new_prodid("-//tembra//tembra//EN"));
  }
  std::set<std::string> tzids;
  for (icalcomponent* event : events)
    collectTzids(event, tzids);
  for (icalcomponent* zone : ical::children(source, ICAL_VTIMEZONE_COMPONENT)) {
    const char* tzid =
        icalcomponent_get_first_property(zone, ICAL_TZID_PROPERTY)
            ? icalproperty_get_tzid(icalcomponent_get_first_property(zone, ICAL_TZID_PROPERTY))
            : nullptr;
    if (tzid && tzids.count(tzid)) {
      icalcomponent_add_component(calendar.get(), icalcomponent_new_clone(zone));
    }
  }
  for (icalcomponent* event : events) {
    icalcomponent_add_component(calendar.get(), icalcomponent_new_clone(event));
  }
  return ical::serialize(calendar.get());
}

}  // namespace

std::optional<std::string> importEvents(const std::filesystem::path& root,
                                        const std::string& calendarId, std::string_view text,
                                        std::vector<std::string>& ids) {
  if (auto error = createStoreIfAbsent(root, false))
    return error;
  const auto path = parseCalendarId(calendarId);
  if (!path || !isCalendarFolder(root, *path))
    return "no calendar with identifier " + calendarId;
  ical::Component source = ical::parse(text);
  if (!source)
    return std::string("the file is not iCalendar text");
  if (ical::hasParseErrors(source.get()))
    return std::string("the file has iCalendar errors");

  std::map<std::string, std::vector<icalcomponent*>> byUid;
  std::vector<std::string> order;
  for (icalcomponent* event : ical::children(source.get(), ICAL_VEVENT_COMPONENT)) {
    const char* uid = icalcomponent_get_uid(event);
    std::string key = uid && *uid ? uid : "";
    if (key.empty()) {
      key = newUuid();
      icalcomponent_set_uid(event, key.c_str());
    }
    if (!byUid.count(key))
      order.push_back(key);
    byUid[key].push_back(event);
  }
  if (order.empty())
    return std::string("the file holds no event");

  std::vector<std::pair<std::string, std::string>> files;  // UID, text
  for (const std::string& uid : order) {
    std::string fileText = seriesText(source.get(), byUid[uid]);
    if (!Series::parse(fileText))
      return "the event " + uid + " cannot be stored: it lacks a start";
    files.emplace_back(uid, std::move(fileText));
  }

  std::optional<StoreLock> lock;
  if (auto error = lockStore(root, lock))
    return error;
  const std::filesystem::path dir = root / path->source / path->calendar;
  std::map<std::string, std::string> existing;  // UID to file name
  for (const std::string& name : eventFileNames(dir)) {
    if (auto series = readSeries(dir / name))
      existing.emplace(series->uid(), name);
  }
  for (const auto& [uid, fileText] : files) {
    const auto known = existing.find(uid);
    const std::string name = known != existing.end() ? known->second : fileNameForUid(uid, dir);
    if (auto error = writeFileAtomically(dir, name, fileText))
      return error;
    existing[uid] = name;
    ids.push_back(path->id() + "/" + name);
  }
  return std::nullopt;
}

std::optional<std::string> rebuildIndex(const std::filesystem::path& root) {
  std::optional<StoreLock> lock;
  if (auto error = lockStore(root, lock))
    return error;
  const std::vector<CalendarPath> calendars = calendarPaths(root);
  try {
    Index::remove(root);
    Index index(root);
    index.refresh(calendars);
  } catch (const sql::IndexFailure& failure) {
    return std::string("cannot build the index: ") + failure.what();
  }
  return std::nullopt;
}

}  // namespace tembra::local
