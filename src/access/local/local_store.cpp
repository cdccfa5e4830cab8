// The local store's answers to the store interface.
#include "access/local/local_store.h"

#include <cstdlib>
#include <thread>

#include "access/local/admin.h"
#include "access/local/files.h"
#include "access/local/layout.h"
#include "access/local/settings.h"
#include "access/store_factory.h"

namespace tembra::local {
namespace {

constexpr int kRestricted = 1;
constexpr int kDenied = 2;
constexpr int kFullAccess = 3;

class LocalStore final : public CalendarStore {
 public:
  explicit LocalStore(std::filesystem::path root) : root_(std::move(root)) {}

  int authorizationStatus(EntityType) override {
    if (!open())
      return kRestricted;
    return settings_.authorization;
  }

  void requestFullAccessToEvents(AccessCompletion completion) override {
    answer(std::move(completion));
  }

  void requestAccess(EntityType, AccessCompletion completion) override {
    answer(std::move(completion));
  }

  std::vector<Calendar> calendars(EntityType) override {
    std::vector<Calendar> calendars;
    if (!open())
      return calendars;
    for (const CalendarFolder& folder : listCalendarFolders(root_, settings_)) {
      calendars.push_back(calendarFrom(folder, settings_));
    }
    return calendars;
  }

  std::optional<Calendar> defaultCalendarForNewEvents() override {
    if (!open() || !settings_.defaultCalendar)
      return std::nullopt;
    return calendarWithIdentifier(*settings_.defaultCalendar);
  }

  std::optional<Calendar> calendarWithIdentifier(const std::string& identifier) override {
    if (!open())
      return std::nullopt;
    const auto path = parseCalendarId(identifier);
    if (!path)
      return std::nullopt;
    const auto folder = readCalendarFolder(root_, *path);
    if (!folder)
      return std::nullopt;
    return calendarFrom(*folder, settings_);
  }

  std::optional<Event> eventWithIdentifier(const std::string&) override { return std::nullopt; }

  std::vector<Event> eventsMatching(const EventPredicate&) override { return {}; }

  Event newEvent() override { return Event{}; }

  std::optional<StoreError> saveEvent(Event&, Span) override {
    return StoreError{"本地日历库尚不能保存事件"};
  }

  std::optional<StoreError> removeEvent(const Event&, Span) override {
    return StoreError{"本地日历库尚不能删除事件"};
  }

 private:
  // Creates the store on first use and reads its settings once.
  bool open() {
    if (opened_)
      return usable_;
    opened_ = true;
    usable_ = !root_.empty() && !createStoreIfAbsent(root_, false);
    if (usable_)
      settings_ = loadSettings(root_);
    return usable_;
  }

  // A permission request answered the way the store's settings say a person would, remembered
  // for later runs; the completion runs on a thread of its own, as the platform's does.
  void answer(AccessCompletion completion) {
    bool granted = false;
    std::optional<StoreError> error;
    if (open()) {
      granted = settings_.grantsAccess;
      const int code = granted ? kFullAccess : kDenied;
      std::string lockError;
      auto lock = StoreLock::acquire(root_, lockError);
      if (!lock) {
        error = StoreError{lockError};
      } else {
        Settings current = loadSettings(root_);
        current.authorization = code;
        if (auto saveError = saveSettings(root_, current)) {
          error = StoreError{*saveError};
        } else {
          settings_ = std::move(current);
        }
      }
      if (error)
        granted = false;
    }
    std::thread([completion = std::move(completion), granted, error] {
      completion(granted, error);
    }).detach();
  }

  std::filesystem::path root_;
  bool opened_ = false;
  bool usable_ = false;
  Settings settings_;
};

std::optional<std::filesystem::path> fromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value)
    return std::nullopt;
  return std::filesystem::path(value);
}

}  // namespace

std::optional<std::filesystem::path> defaultStorePath() {
  if (auto store = fromEnvironment("TEMBRA_STORE"))
    return store;
  if (auto data = fromEnvironment("XDG_DATA_HOME"))
    return *data / "tembra";
  if (auto home = fromEnvironment("HOME"))
    return *home / ".local" / "share" / "tembra";
  return std::nullopt;
}

std::unique_ptr<CalendarStore> createLocalStore(std::filesystem::path root) {
  return std::make_unique<LocalStore>(std::move(root));
}

}  // namespace tembra::local

namespace tembra {

std::unique_ptr<CalendarStore> createSystemStore() {
  // Without a place for the store every operation finds nothing and access reads as restricted.
  return local::createLocalStore(local::defaultStorePath().value_or(std::filesystem::path()));
}

}  // namespace tembra
