// The local store's answers to the store interface.
#include "access/local/local_store.h"

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <thread>

#include "access/authorization_state.h"
#include "access/local/admin.h"
#include "access/local/event_files.h"
#include "access/local/files.h"
#include "access/local/index_handle.h"
#include "access/local/journal.h"
#include "access/local/layout.h"
#include "access/local/settings.h"
#include "access/local/store_messages.h"
#include "access/store_factory.h"
#include "records/utf8.h"

namespace tembra::local {
namespace {

// `changed` applied to `series` at `occurrence` (none: a new series), then the rule it sets, if
// it sets one: a single event becomes a series from its start, and what the change saved is the
// series' first occurrence. `saved` is where it landed.
std::optional<StoreError> applyChange(Series& series, const Event& changed,
                                      const std::optional<Occurrence>& occurrence, bool setsRule,
                                      Instant now, std::optional<Occurrence>& saved) {
  saved = series.apply(changed, occurrence, now);
  if (!saved)
    return StoreError{kUnstorableDate};
  if (!setsRule || changed.recurrenceRule->empty())
    return std::nullopt;
  if (!series.setRule(*changed.recurrenceRule, now))
    return StoreError{kUnkeptRule};
  saved = series.first();
  if (!saved)
    return StoreError{kUnkeptRule};
  return std::nullopt;
}

class LocalStore final : public CalendarStore {
 public:
  explicit LocalStore(std::filesystem::path root) : root_(std::move(root)), index_(root_) {}

  int authorizationStatus(EntityType) override {
    if (!open())
      return statusCode(AuthorizationState::restricted);
    return settings_.authorization;
  }

  void requestFullAccessToEvents(AccessCompletion completion) override {
    answer(std::move(completion));
  }

  void requestAccess(EntityType, AccessCompletion completion) override {
    answer(std::move(completion));
  }

  // Nothing to bring up to date: answer() keeps the settings it saved, and the calendars and
  // events are read from the files at each operation.
  void accessGranted() override {}

  Answer<std::vector<Calendar>> calendars(EntityType) override {
    const ReadWatch watch;
    return answer(watch, [&] { return allCalendars(); });
  }

  Answer<std::optional<Calendar>> defaultCalendarForNewEvents() override {
    const ReadWatch watch;
    return answer(watch, [&] {
      return settings_.defaultCalendar ? calendarAt(*settings_.defaultCalendar) : std::nullopt;
    });
  }

  Answer<std::optional<Calendar>> calendarWithIdentifier(const std::string& identifier) override {
    const ReadWatch watch;
    return answer(watch, [&] { return calendarAt(identifier); });
  }

  Answer<std::optional<Event>> eventWithIdentifier(const std::string& identifier) override {
    const ReadWatch watch;
    return answer(watch, [&]() -> std::optional<Event> {
      const auto path = parseEventId(identifier);
      const auto calendar = path ? calendarAt(path->calendar.id()) : std::nullopt;
      const auto series = calendar ? readSeries(fileOf(*path)) : std::nullopt;
      const auto first = series ? series->first() : std::nullopt;
      if (!first)
        return std::nullopt;
      return eventFrom(*series, *first, path->id(), *calendar);
    });
  }

  Answer<std::optional<Event>> occurrenceWithIdentifier(const std::string& identifier,
                                                        Instant occurrenceDate) override {
    const ReadWatch watch;
    return answer(watch, [&]() -> std::optional<Event> {
      const auto path = parseEventId(identifier);
      const auto calendar = path ? calendarAt(path->calendar.id()) : std::nullopt;
      const auto series = calendar ? readSeries(fileOf(*path)) : std::nullopt;
      const auto occurrence = series ? series->occurrenceAt(occurrenceDate) : std::nullopt;
      if (!occurrence)
        return std::nullopt;
      return eventFrom(*series, *occurrence, path->id(), *calendar);
    });
  }

  std::optional<std::string> ruleProblem(const std::string& rule) override {
    // libical walks the occurrences: a rule it does not read has none.
    const icalrecurrencetype parsed = icalrecurrencetype_from_string(rule.c_str());
    if (parsed.freq == ICAL_NO_RECURRENCE)
      return kUnkeptRule;
    return std::nullopt;
  }

  Answer<std::vector<Event>> eventsMatching(const EventPredicate& predicate) override {
    return eventWindow(predicate).then([](EventWindow window) { return window.expanded(); });
  }

  Answer<EventWindow> eventWindow(const EventPredicate& predicate) override {
    const ReadWatch watch;
    return answer(watch, [&] { return windowOf(predicate); });
  }

  bool canKeep(const Event& event) override { return Series::canHold(event); }

  Event newEvent() override { return Event{}; }

  // A write that met an error of the files while it read cannot tell "not there" or "no such
  // calendar": what it did not find may be what it could not read.
  std::optional<StoreError> saveEvent(Event& event, Span span) override {
    const ReadWatch watch;
    return unlessUnread(watch, saveNow(event, span));
  }

  std::optional<StoreError> removeEvent(const Event& event, Span span) override {
    const ReadWatch watch;
    return unlessUnread(watch, removeNow(event, span));
  }

 private:
  // What `find` finds, once the store is open, unless a read met an error of the files.
  template <typename Find>
  auto answer(const ReadWatch& watch, const Find& find) -> Answer<decltype(find())> {
    if (!open())
      return StoreError{openProblem_};
    auto found = find();
    if (watch.failure())
      return StoreError{kReadFailed + *watch.failure()};
    return found;
  }

  std::optional<StoreError> unlessUnread(const ReadWatch& watch, std::optional<StoreError> error) {
    if (error && watch.failure())
      return StoreError{kReadFailed + *watch.failure()};
    return error;
  }

  std::vector<Calendar> allCalendars() {
    std::vector<Calendar> calendars;
    for (const CalendarFolder& folder : listCalendarFolders(root_, settings_))
      calendars.push_back(calendarFrom(folder, settings_));
    return calendars;
  }

  std::optional<Calendar> calendarAt(const std::string& identifier) {
    const auto path = parseCalendarId(identifier);
    const auto folder = path ? readCalendarFolder(root_, *path) : std::nullopt;
    if (!folder)
      return std::nullopt;
    return calendarFrom(*folder, settings_);
  }

  EventWindow windowOf(const EventPredicate& predicate) {
    const std::vector<Calendar> calendars =
        predicate.calendars ? *predicate.calendars : allCalendars();
    std::map<std::string, Calendar> byId;
    for (const Calendar& calendar : calendars)
      byId.emplace(calendar.calendarIdentifier, calendar);
    if (auto window = index_.window(byId, predicate.startDate, predicate.endDate))
      return std::move(*window);
    return EventWindow::of(
        eventsInWindow(root_, calendars, predicate.startDate, predicate.endDate));
  }

  std::optional<StoreError> saveNow(Event& event, Span span) {
    std::optional<StoreLock> lock;
    if (auto error = lockForWriting(lock))
      return error;
    if (!event.calendar)
      return StoreError{kNoSuchCalendar};
    const auto target = calendarAt(event.calendar->calendarIdentifier);
    if (!target)
      return StoreError{kNoSuchCalendar};
    if (!target->allowsContentModifications)
      return StoreError{readOnlyMessage(*target)};
    const Instant now = currentSecond();
    const CalendarPath targetPath = *parseCalendarId(target->calendarIdentifier);

    if (!event.eventIdentifier) {
      Series series = Series::create(newUuid());
      std::optional<Occurrence> saved;
      if (auto error = applyChange(series, event, std::nullopt, event.recurrenceRule.has_value(),
                                   now, saved))
        return error;
      const std::string name = fileNameForUid(series.uid(), folderOf(targetPath));
      if (auto error = writeSeries(targetPath, name, series))
        return error;
      event = eventFrom(series, *saved, targetPath.id() + "/" + name, *target);
      return std::nullopt;
    }

    const auto path = parseEventId(*event.eventIdentifier);
    if (!path)
      return kGone;
    const auto source = calendarAt(path->calendar.id());
    if (!source)
      return kGone;
    if (!source->allowsContentModifications)
      return StoreError{readOnlyMessage(*source)};
    std::optional<Series> series;
    if (auto error = readForChange(*path, series))
      return error;
    const auto occurrence = occurrenceOf(*series, event);
    if (!occurrence)
      return kGone;
    // The fields the request set, onto the event as it stands now, under the lock: another
    // writer may have changed others since the event was fetched.
    const Event changed =
        withChangesOf(event, eventFrom(*series, *occurrence, path->id(), *source));
    const bool ruleChanged = event.changes && event.changes->recurrenceRule;

    if (series->repeats() && (span == Span::futureEvents || ruleChanged)) {
      const auto firstOne = series->first();
      if (firstOne && firstOne->originalStart != occurrence->originalStart &&
          span == Span::futureEvents) {
        return saveSplit(event, *path, std::move(*series), *occurrence, targetPath, *target, now);
      }
      // Every occurrence: the series is changed whole, and moves whole.
      auto saved = changeWhole(*series, event, changed, *occurrence, now);
      if (!saved)
        return StoreError{kUnstorableDate};
      return saveWhole(event, *path, std::move(*series), *saved, targetPath, *target);
    }

    if (targetPath.id() == path->calendar.id() || series->repeats()) {
      if (targetPath.id() == path->calendar.id()) {
        std::optional<Occurrence> saved;
        if (auto error = applyChange(*series, changed, occurrence, ruleChanged, now, saved))
          return error;
        if (auto error = writeSeries(targetPath, path->file, *series))
          return error;
        event = eventFrom(*series, *saved, path->id(), *target);
        return std::nullopt;
      }
      // One occurrence of a repeating event moved to another calendar leaves its series and
      // becomes an event of its own there.
      Series moved = Series::create(newUuid());
      const auto saved = moved.apply(changed, std::nullopt, now);
      if (!saved)
        return StoreError{kUnstorableDate};
      const std::string name = fileNameForUid(moved.uid(), folderOf(targetPath));
      const Move move{path->id(), targetPath.id() + "/" + name, occurrence->originalStart};
      const auto leave = [&] {
        series->exclude(*occurrence, currentSecond());
        return storeOrRemove(*path, *series);
      };
      if (auto error = journalledMove(
              root_, move, [&] { return writeSeries(targetPath, name, moved); }, leave))
        return error;
      event = eventFrom(moved, *saved, targetPath.id() + "/" + name, *target);
      return std::nullopt;
    }
    std::optional<Occurrence> saved;
    if (auto error = applyChange(*series, changed, occurrence, ruleChanged, now, saved))
      return error;
    return saveWhole(event, *path, std::move(*series), *saved, targetPath, *target);
  }

  std::optional<StoreError> removeNow(const Event& event, Span span) {
    std::optional<StoreLock> lock;
    if (auto error = lockForWriting(lock))
      return error;
    const auto path = event.eventIdentifier ? parseEventId(*event.eventIdentifier) : std::nullopt;
    if (!path)
      return kGone;
    const auto calendar = calendarAt(path->calendar.id());
    if (!calendar)
      return kGone;  // with its calendar: nothing left to remove
    if (!calendar->allowsContentModifications)
      return StoreError{readOnlyMessage(*calendar)};
    struct stat info;
    if (::lstat(fileOf(*path).c_str(), &info) != 0) {
      noteReadError("cannot look at " + fileOf(*path).string());
      return kGone;
    }
    std::optional<Series> series;
    if (auto error = readForChange(*path, series))
      return error;
    if (!series->repeats()) {
      return deleteEventFile(path->calendar, path->file);
    }
    const auto occurrence = occurrenceOf(*series, event);
    if (!occurrence)
      return kGone;
    if (span == Span::futureEvents) {
      // It and those after it: from the first, the whole series.
      const auto firstOne = series->first();
      if (!firstOne || firstOne->originalStart == occurrence->originalStart)
        return deleteEventFile(path->calendar, path->file);
      series->endBefore(occurrence->originalStart, currentSecond());
      return storeOrRemove(*path, *series);
    }
    series->exclude(*occurrence, currentSecond());
    return storeOrRemove(*path, *series);
  }

  std::filesystem::path folderOf(const CalendarPath& path) const {
    return root_ / path.source / path.calendar;
  }
  std::filesystem::path fileOf(const EventPath& path) const {
    return folderOf(path.calendar) / path.file;
  }

  // Takes the store lock and reads the settings afresh under it, since another process may have
  // changed them since this one started. What a writer that died left undone is finished first.
  std::optional<StoreError> lockForWriting(std::optional<StoreLock>& lock) {
    if (!open())
      return StoreError{kStoreUnavailable};
    std::string error;
    lock = StoreLock::acquire(root_, error);
    if (!lock)
      return StoreError{kWriteFailed + error};
    if (auto unfinished = recover())
      return unfinished;
    settings_ = loadSettings(root_);
    return std::nullopt;
  }

  // Under the lock: finishes an interrupted move and removes dead writers' temporary files. An
  // index already open learns of the files the recovery changed.
  std::optional<StoreError> recover() {
    const bool moving = moveUnfinished(root_);
    if (auto error = finishInterruptedWrites(root_))
      return StoreError{kWriteFailed + *error};
    if (moving)
      index_.refreshIfOpen();
    return std::nullopt;
  }

  // The file as it is now, under the lock; a file that cannot be read is never rewritten.
  std::optional<StoreError> readForChange(const EventPath& path, std::optional<Series>& series) {
    const auto text = readFile(fileOf(path));
    if (!text)
      return kGone;
    series = Series::parse(*text);
    if (!series)
      return StoreError{kUnreadableFile + path.id()};
    // Another tool may have written the file without a UID; a server refuses it so, and tembra
    // never writes it back that way.
    if (series->uid().empty())
      series->setUid(newUuid());
    return std::nullopt;
  }

  // The series changed for every occurrence from `named` on (the first): its rule when the
  // request set one, then the fields it set, each occurrence's dates moved as far as `named`'s.
  // The occurrence `named` became; none when a date cannot be written.
  static std::optional<Occurrence> changeWhole(Series& series, const Event& event,
                                               const Event& changed, const Occurrence& named,
                                               Instant now) {
    if (event.changes && event.changes->recurrenceRule) {
      if (!series.setRule(*changed.recurrenceRule, now))
        return std::nullopt;
      if (!series.repeats()) {
        // The single event of the first occurrence, with the fields the request set.
        const auto only = series.first();
        return only ? series.apply(withChangesOf(event, series.eventAt(*only)), only, now)
                    : std::nullopt;
      }
    }
    const auto first = series.occurrenceAt(named.originalStart);
    if (!first)
      return series.first();
    const auto saved = series.applyToAll(event, *first, now);
    return saved ? saved : series.first();
  }

  // Writes a series changed whole: where it was, or into the other calendar its event moves to,
  // keeping its UID there unless that calendar holds it already.
  std::optional<StoreError> saveWhole(Event& event, const EventPath& path, Series series,
                                      const Occurrence& saved, const CalendarPath& targetPath,
                                      const Calendar& target) {
    if (targetPath.id() == path.calendar.id()) {
      if (auto error = writeSeries(targetPath, path.file, series))
        return error;
      event = eventFrom(series, saved, path.id(), target);
      return std::nullopt;
    }
    // A calendar holds a UID once: a server refuses a second copy, and a sync tool stops on the
    // collection. An event moved to where its UID already is becomes a copy with a UID of its own.
    if (holdsUid(folderOf(targetPath), series.uid()))
      series.setUid(newUuid());
    const std::string name = fileNameForUid(series.uid(), folderOf(targetPath));
    const Move move{path.id(), targetPath.id() + "/" + name, std::nullopt};
    const auto leave = [&] { return deleteEventFile(path.calendar, path.file); };
    if (auto error = journalledMove(
            root_, move, [&] { return writeSeries(targetPath, name, series); }, leave))
      return error;
    const auto again = series.occurrenceAt(saved.originalStart);
    event = eventFrom(series, again ? *again : saved, targetPath.id() + "/" + name, target);
    return std::nullopt;
  }

  // A save for this occurrence and those after it, not the first: they become a series of their
  // own (a new UID, related to the old one), in the calendar the event moves to if it moves, and
  // the series left behind ends before them. Journalled as a move that ends the old series.
  std::optional<StoreError> saveSplit(Event& event, const EventPath& path, Series series,
                                      const Occurrence& named, const CalendarPath& targetPath,
                                      const Calendar& target, Instant now) {
    std::optional<Series> part = series.partFrom(named.originalStart, newUuid(), now);
    if (!part)
      return StoreError{kUnreadableFile + path.id()};
    const auto from = part->occurrenceAt(named.originalStart);
    if (!from)
      return kGone;
    const Event changed = withChangesOf(event, eventFrom(*part, *from, path.id(), target));
    const auto saved = changeWhole(*part, event, changed, *from, now);
    if (!saved)
      return StoreError{kUnstorableDate};
    series.endBefore(named.originalStart, now);
    const std::string name = fileNameForUid(part->uid(), folderOf(targetPath));
    const Move move{path.id(), targetPath.id() + "/" + name, named.originalStart, true};
    const auto leave = [&] { return storeOrRemove(path, series); };
    if (auto error = journalledMove(
            root_, move, [&] { return writeSeries(targetPath, name, *part); }, leave))
      return error;
    event = eventFrom(*part, *saved, targetPath.id() + "/" + name, target);
    return std::nullopt;
  }

  // The occurrence an event stands for: its place in a repeating series, else the one event.
  static std::optional<Occurrence> occurrenceOf(const Series& series, const Event& event) {
    if (series.repeats() && event.occurrenceDate)
      return series.occurrenceAt(*event.occurrenceDate);
    return series.first();
  }

  std::optional<StoreError> writeSeries(const CalendarPath& calendar, const std::string& name,
                                        const Series& series) {
    if (auto error = writeFileAtomically(folderOf(calendar), name, series.text())) {
      return StoreError{kWriteFailed + *error};
    }
    index_.record(calendar, name);
    return std::nullopt;
  }

  // A series with no occurrence left has no reason to keep its file.
  std::optional<StoreError> storeOrRemove(const EventPath& path, const Series& series) {
    if (series.first())
      return writeSeries(path.calendar, path.file, series);
    return deleteEventFile(path.calendar, path.file);
  }

  std::optional<StoreError> deleteEventFile(const CalendarPath& calendar, const std::string& name) {
    if (auto error = removeFile(folderOf(calendar), name))
      return StoreError{kWriteFailed + *error};
    index_.record(calendar, name);
    return std::nullopt;
  }

  static Instant currentSecond() { return Instant{static_cast<double>(std::time(nullptr))}; }

  static std::string readOnlyMessage(const Calendar& calendar) {
    return "日历「" + calendar.title.value_or("") + "」是只读的，不能更改其中的事件";
  }

  // Creates the store on first use and reads its settings once.
  bool open() {
    if (opened_)
      return usable_;
    opened_ = true;
    if (root_.empty()) {
      openProblem_ = kStoreUnavailable;
      return false;
    }
    if (auto problem = createStoreIfAbsent(root_, false)) {
      openProblem_ = kWriteFailed + *problem;
      return false;
    }
    usable_ = true;
    // A move cut short shows its event in two calendars until it is finished; readers finish it
    // too, under the lock, so that what they list is the state before the move or after it.
    if (moveUnfinished(root_)) {
      std::string ignored;
      if (auto lock = StoreLock::acquire(root_, ignored))
        finishInterruptedWrites(root_);
    }
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
      const AuthorizationState answered =
          granted ? AuthorizationState::fullAccess : AuthorizationState::denied;
      std::string lockError;
      auto lock = StoreLock::acquire(root_, lockError);
      if (!lock) {
        error = StoreError{lockError};
      } else {
        SettingsState state;
        Settings current = loadSettings(root_, &state);
        current.authorization = statusCode(answered);
        if (state == SettingsState::unreadable) {
          error = StoreError{kUnreadableSettings};
        } else if (auto saveError = saveSettings(root_, current)) {
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
  IndexHandle index_;
  bool opened_ = false;
  bool usable_ = false;
  std::string openProblem_;  // why the store could not be opened
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
    return store->is_absolute() ? store : std::nullopt;
  if (auto data = fromEnvironment("XDG_DATA_HOME"); data && data->is_absolute())
    return *data / "tembra";
  if (auto home = fromEnvironment("HOME"))
    return *home / ".local" / "share" / "tembra";
  return std::nullopt;
}

std::optional<std::string> storePathProblem() {
  const auto store = fromEnvironment("TEMBRA_STORE");
  if (!store || store->is_absolute())
    return std::nullopt;
  return kRelativeStore + repairUtf8(store->string());
}

std::unique_ptr<CalendarStore> createLocalStore(std::filesystem::path root) {
  return std::make_unique<LocalStore>(std::move(root));
}

}  // namespace tembra::local

namespace tembra {

std::optional<std::string> systemStoreProblem() {
  return local::storePathProblem();
}

std::unique_ptr<CalendarStore> createSystemStore() {
  // Without a place for the store every operation finds nothing and access reads as restricted.
  return local::createLocalStore(local::defaultStorePath().value_or(std::filesystem::path()));
}

}  // namespace tembra
