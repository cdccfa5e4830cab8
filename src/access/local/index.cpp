// The SQLite index of the local store.
#include "access/local/index.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <set>
#include <unordered_map>

#include "access/local/event_files.h"
#include "access/local/files.h"

namespace tembra::local {
namespace {

// Bump when the schema or what is stored changes; an index of another version is rebuilt.
// Occurrences are kept in the order of their start, so that a window is one contiguous read, and
// the texts they share (a component: one VEVENT) in the order of their first occurrence, so that a
// window's texts lie together too; each component also carries what it needs of its file.
constexpr std::int64_t kIndexVersion = 3;

// Repeating series without end are held this far ahead of the time they were indexed; windows
// beyond that read those series from their files.
constexpr double kHorizonAhead = 2 * 366 * 86400.0;
// At most this many occurrences of one series are held.
constexpr std::size_t kMostOccurrences = 20'000;
// Occurrences longer than this are found by a separate, small query; the others by their start.
constexpr double kLongEvent = 8 * 86400.0;

constexpr Instant kBeginningOfTime{-1e13};
constexpr Instant kEndOfTime{1e13};

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS folders(calendar TEXT PRIMARY KEY, modified INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS files(
  id INTEGER PRIMARY KEY,
  calendar TEXT NOT NULL,
  name TEXT NOT NULL,
  modified INTEGER NOT NULL,
  size INTEGER NOT NULL,
  inode INTEGER NOT NULL,
  readable INTEGER NOT NULL,
  uid TEXT,
  repeats INTEGER NOT NULL DEFAULT 0,
  horizon REAL,
  UNIQUE(calendar, name));
CREATE INDEX IF NOT EXISTS files_open ON files(horizon) WHERE horizon IS NOT NULL;
CREATE TABLE IF NOT EXISTS components(
  first REAL NOT NULL,
  id INTEGER NOT NULL,
  file INTEGER NOT NULL,
  event TEXT NOT NULL,
  calendar TEXT NOT NULL,
  uid TEXT,
  repeats INTEGER NOT NULL,
  horizon REAL,
  title TEXT, notes TEXT, location TEXT,
  all_day INTEGER NOT NULL,
  alarms TEXT NOT NULL,
  last_modified REAL,
  PRIMARY KEY(first, id)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS components_file ON components(file);
CREATE TABLE IF NOT EXISTS occurrences(
  start REAL NOT NULL,
  file INTEGER NOT NULL,
  original REAL NOT NULL,
  component_first REAL NOT NULL,
  component INTEGER NOT NULL,
  end REAL NOT NULL,
  detached INTEGER NOT NULL,
  long INTEGER NOT NULL,
  PRIMARY KEY(start, file, original)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS occurrences_long ON occurrences(end) WHERE long = 1;
CREATE INDEX IF NOT EXISTS occurrences_file ON occurrences(file);
)";

std::int64_t nanoseconds(const struct timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

// The modification time to the nanosecond; macOS names the field differently.
std::int64_t modifiedNanoseconds(const struct stat& info) {
#if defined(__APPLE__)
  return nanoseconds(info.st_mtimespec);
#else
  return nanoseconds(info.st_mtim);
#endif
}

std::optional<std::int64_t> folderModified(const std::filesystem::path& dir) {
  struct stat info;
  if (::lstat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
    return std::nullopt;
  return modifiedNanoseconds(info);
}

std::string encodeAlarms(const std::vector<Alarm>& alarms) {
  std::string text;
  char buffer[64];
  for (const Alarm& alarm : alarms) {
    if (alarm.absoluteDate) {
      std::snprintf(buffer, sizeof buffer, "a%.17g;", alarm.absoluteDate->seconds);
    } else {
      std::snprintf(buffer, sizeof buffer, "r%.17g;", alarm.relativeOffset);
    }
    text += buffer;
  }
  return text;
}

std::vector<Alarm> decodeAlarms(const std::string& text) {
  std::vector<Alarm> alarms;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find(';', at);
    if (end == std::string::npos)
      break;
    const double value = std::strtod(text.c_str() + at + 1, nullptr);
    alarms.push_back(text[at] == 'a' ? Alarm::withAbsoluteDate(Instant{value})
                                     : Alarm::withRelativeOffset(value));
    at = end + 1;
  }
  return alarms;
}

bool before(const Event& a, const Event& b) {
  if (a.startDate != b.startDate)
    return a.startDate < b.startDate;
  if (a.endDate != b.endDate)
    return a.endDate < b.endDate;
  return a.eventIdentifier < b.eventIdentifier;
}

}  // namespace

Index::Index(const std::filesystem::path& root) : root_(root), db_(root / kIndexFileName) {
  db_.exec("PRAGMA journal_mode=WAL");
  // The index is a cache of durable files: after a power loss it may miss its last changes,
  // which the folder times then reveal, but it stays consistent.
  db_.exec("PRAGMA synchronous=NORMAL");
  db_.exec("CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL)");
  const std::string version = std::to_string(kIndexVersion);
  const std::string zone = localZoneName();
  auto read = db_.prepare("SELECT value FROM meta WHERE key = ?");
  const auto valueOf = [&](const char* key) -> std::optional<std::string> {
    read.bind(1, std::string_view(key));
    std::optional<std::string> value;
    if (read.step())
      value = read.text(0);
    read.reset();
    return value;
  };
  if (valueOf("version") == version && valueOf("zone") == zone) {
    db_.exec(kSchema);
    return;
  }
  // Made by another version, or for another zone (all-day and floating times are held as
  // instants of the local zone): start again.
  sql::Transaction transaction(db_);
  db_.exec(
      "DROP TABLE IF EXISTS occurrences; DROP TABLE IF EXISTS components;"
      "DROP TABLE IF EXISTS files; DROP TABLE IF EXISTS folders");
  db_.exec(kSchema);
  auto write = db_.prepare("INSERT OR REPLACE INTO meta(key, value) VALUES (?, ?)");
  write.bind(1, std::string_view("version")).bind(2, std::string_view(version)).run();
  write.bind(1, std::string_view("zone")).bind(2, std::string_view(zone)).run();
  transaction.commit();
}

void Index::remove(const std::filesystem::path& root) {
  for (const std::filesystem::path& path : sql::databaseFiles(root / kIndexFileName)) {
    // Only files: anything else in their place is not the index's, and stays.
    struct stat info;
    if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
      ::unlink(path.c_str());
  }
}

void Index::refresh(const std::vector<CalendarPath>& calendars) {
  std::map<std::string, std::int64_t> known;
  auto folders = db_.prepare("SELECT calendar, modified FROM folders");
  while (folders.step())
    known.emplace(folders.text(0), folders.integer(1));

  std::vector<std::pair<CalendarPath, std::int64_t>> changed;
  for (const CalendarPath& calendar : calendars) {
    const auto modified = folderModified(root_ / calendar.source / calendar.calendar);
    if (!modified)
      continue;
    const auto found = known.find(calendar.id());
    if (found == known.end() || found->second != *modified)
      changed.emplace_back(calendar, *modified);
    if (found != known.end())
      known.erase(found);
  }
  if (changed.empty() && known.empty())
    return;

  sql::Transaction transaction(db_);
  for (const auto& [gone, modified] : known) {
    auto files = db_.prepare("SELECT id FROM files WHERE calendar = ?");
    files.bind(1, std::string_view(gone));
    std::vector<std::int64_t> ids;
    while (files.step())
      ids.push_back(files.integer(0));
    for (const std::int64_t id : ids)
      dropFile(id);
    db_.prepare("DELETE FROM folders WHERE calendar = ?").bind(1, std::string_view(gone)).run();
  }
  for (const auto& [calendar, modified] : changed)
    scanFolder(calendar, modified);
  transaction.commit();
}

void Index::scanFolder(const CalendarPath& calendar, std::int64_t modified) {
  // The folder's time was read before its entries, so a change made meanwhile shows next time.
  const std::filesystem::path dir = root_ / calendar.source / calendar.calendar;
  struct Known {
    std::int64_t id, modified, size, inode;
  };
  std::map<std::string, Known> known;
  auto rows = db_.prepare("SELECT name, id, modified, size, inode FROM files WHERE calendar = ?");
  rows.bind(1, std::string_view(calendar.id()));
  while (rows.step()) {
    known.emplace(rows.text(0),
                  Known{rows.integer(1), rows.integer(2), rows.integer(3), rows.integer(4)});
  }
  for (const std::string& name : eventFileNames(dir)) {
    struct stat info;
    if (::lstat((dir / name).c_str(), &info) != 0 || !S_ISREG(info.st_mode))
      continue;
    const auto found = known.find(name);
    if (found != known.end()) {
      const Known row = found->second;
      const bool same = row.modified == modifiedNanoseconds(info) && row.size == info.st_size &&
                        row.inode == static_cast<std::int64_t>(info.st_ino);
      known.erase(found);
      if (same)
        continue;
      dropFile(row.id);
    }
    const std::optional<Series> series = readSeries(dir / name);
    insertFile(calendar, name, dir / name, series ? &*series : nullptr);
  }
  for (const auto& [name, row] : known)
    dropFile(row.id);
  db_.cached("INSERT OR REPLACE INTO folders(calendar, modified) VALUES (?, ?)")
      .bind(1, std::string_view(calendar.id()))
      .bind(2, modified)
      .run();
}

void Index::dropFile(std::int64_t id) {
  db_.cached("DELETE FROM occurrences WHERE file = ?").bind(1, id).run();
  db_.cached("DELETE FROM components WHERE file = ?").bind(1, id).run();
  db_.cached("DELETE FROM files WHERE id = ?").bind(1, id).run();
}

void Index::insertFile(const CalendarPath& calendar, const std::string& name,
                       const std::filesystem::path& file, const Series* series) {
  struct stat info;
  if (::lstat(file.c_str(), &info) != 0)
    return;
  std::vector<Occurrence> occurrences;
  std::optional<double> horizon;
  if (series) {
    const Instant end = series->bounded()
                            ? kEndOfTime
                            : Instant{static_cast<double>(std::time(nullptr)) + kHorizonAhead};
    occurrences = series->occurrences(kBeginningOfTime, end);
    if (!series->bounded())
      horizon = end.seconds;
    if (occurrences.size() > kMostOccurrences) {
      horizon = occurrences[kMostOccurrences].start.seconds;
      occurrences.resize(kMostOccurrences);
    }
  }
  auto& insert = db_.cached(
      "INSERT INTO files(calendar, name, modified, size, inode, readable, uid, repeats, horizon) "
      "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
  insert.bind(1, std::string_view(calendar.id()))
      .bind(2, std::string_view(name))
      .bind(3, modifiedNanoseconds(info))
      .bind(4, static_cast<std::int64_t>(info.st_size))
      .bind(5, static_cast<std::int64_t>(info.st_ino))
      .bind(6, std::int64_t{series ? 1 : 0});
  if (series) {
    insert.bind(7, std::string_view(series->uid())).bind(8, std::int64_t{series->repeats()});
  } else {
    insert.bindNull(7).bind(8, std::int64_t{0});
  }
  if (horizon) {
    insert.bind(9, *horizon);
  } else {
    insert.bindNull(9);
  }
  insert.run();
  if (!series)
    return;
  const std::int64_t fileId = db_.lastInsertId();

  struct Stored {
    double first;
    std::int64_t id;
  };
  auto& component = db_.cached(
      "INSERT INTO components(first, id, file, event, calendar, uid, repeats, horizon, title, "
      "notes, location, all_day, alarms, last_modified) "
      "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  auto& occurrence = db_.cached(
      "INSERT INTO occurrences(start, file, original, component_first, component, end, detached, "
      "long) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
  const std::string eventId = calendar.id() + "/" + name;
  std::map<icalcomponent*, Stored> components;
  for (const Occurrence& each : occurrences) {
    auto found = components.find(each.component);
    if (found == components.end()) {
      const Event event = series->eventAt(each);
      // Unique among components: a file has far fewer than 2^20 of them.
      const Stored stored{each.start.seconds, fileId * (std::int64_t{1} << 20) +
                                                  static_cast<std::int64_t>(components.size())};
      component.bind(1, stored.first)
          .bind(2, stored.id)
          .bind(3, fileId)
          .bind(4, std::string_view(eventId))
          .bind(5, std::string_view(calendar.id()))
          .bind(6, std::string_view(series->uid()))
          .bind(7, std::int64_t{series->repeats()});
      if (horizon) {
        component.bind(8, *horizon);
      } else {
        component.bindNull(8);
      }
      component.bind(9, event.title)
          .bind(10, event.notes)
          .bind(11, event.location)
          .bind(12, std::int64_t{event.isAllDay})
          .bind(13, std::string_view(encodeAlarms(event.alarms)));
      if (event.lastModifiedDate) {
        component.bind(14, event.lastModifiedDate->seconds);
      } else {
        component.bindNull(14);
      }
      component.run();
      found = components.emplace(each.component, stored).first;
    }
    occurrence.bind(1, each.start.seconds)
        .bind(2, fileId)
        .bind(3, each.originalStart.seconds)
        .bind(4, found->second.first)
        .bind(5, found->second.id)
        .bind(6, each.end.seconds)
        .bind(7, std::int64_t{each.detached})
        .bind(8, std::int64_t{each.end.seconds - each.start.seconds > kLongEvent})
        .run();
  }
}

std::vector<Event> Index::window(const std::map<std::string, Calendar>& calendars, Instant from,
                                 Instant to) {
  // One read transaction for the whole window: one lock, and one state of the index.
  sql::Transaction reading(db_, true);
  // Occurrences are read alone and the component they share (its texts and file) once each: a
  // year of a weekly series is fifty rows of one component.
  struct Component {
    std::string event;
    std::shared_ptr<const Calendar> calendar;  // null: not asked for, or read from its file
    std::optional<std::string> uid, title, notes, location;
    bool repeats = false, allDay = false;
    std::vector<Alarm> alarms;
    std::optional<Instant> lastModified;
  };
  struct Row {
    double start, end, original;
    bool detached;
    const Component* component;
  };
  std::map<std::string, std::shared_ptr<const Calendar>, std::less<>> shared;
  for (const auto& [id, calendar] : calendars) {
    shared.emplace(id, std::make_shared<const Calendar>(calendar));
  }
  std::map<std::pair<double, std::int64_t>, Component> components;
  auto& componentRow = db_.cached(
      "SELECT event, calendar, uid, repeats, horizon, title, notes, location, all_day, alarms, "
      "last_modified FROM components WHERE first = ? AND id = ?");
  const auto componentOf = [&](double first, std::int64_t id) -> const Component& {
    auto [found, added] = components.try_emplace({first, id});
    if (!added)
      return found->second;
    componentRow.bind(1, first).bind(2, id);
    if (componentRow.step()) {
      Component& each = found->second;
      each.event = componentRow.text(0);
      const auto calendar = shared.find(componentRow.text(1));
      // A series held only up to a horizon before the window's end is read from its file.
      const bool open = !componentRow.isNull(4) && componentRow.real(4) < to.seconds;
      if (calendar != shared.end() && !open)
        each.calendar = calendar->second;
      each.uid = componentRow.optionalText(2);
      if (each.uid && each.uid->empty())
        each.uid.reset();
      each.repeats = componentRow.integer(3) != 0;
      each.title = componentRow.optionalText(5);
      each.notes = componentRow.optionalText(6);
      each.location = componentRow.optionalText(7);
      each.allDay = componentRow.integer(8) != 0;
      each.alarms = decodeAlarms(componentRow.text(9));
      if (!componentRow.isNull(10))
        each.lastModified = Instant{componentRow.real(10)};
    }
    componentRow.reset();
    return found->second;
  };

  // Most occurrences are found by their start; the few long ones by their end.
  auto& rows = db_.cached(
      "SELECT component_first, component, start, end, original, detached FROM occurrences"
      " WHERE start < :to AND start >= :lower AND (end > :from OR start >= :from)"
      " UNION ALL SELECT component_first, component, start, end, original, detached"
      " FROM occurrences WHERE long = 1 AND end > :from AND start < :lower");
  rows.bind(1, to.seconds).bind(2, from.seconds - kLongEvent).bind(3, from.seconds);
  std::vector<Row> found;
  while (rows.step()) {
    const Component& component = componentOf(rows.real(0), rows.integer(1));
    if (!component.calendar)
      continue;
    found.push_back(
        Row{rows.real(2), rows.real(3), rows.real(4), rows.integer(5) != 0, &component});
  }
  rows.reset();
  std::sort(found.begin(), found.end(), [](const Row& a, const Row& b) {
    if (a.start != b.start)
      return a.start < b.start;
    if (a.end != b.end)
      return a.end < b.end;
    return a.component->event < b.component->event;
  });

  std::vector<Event> events;
  events.reserve(found.size());
  for (const Row& row : found) {
    const Component& each = *row.component;
    Event& event = events.emplace_back();
    event.eventIdentifier = each.event;
    event.calendar = CalendarRef(each.calendar);
    event.title = each.title;
    event.notes = each.notes;
    event.location = each.location;
    event.startDate = Instant{row.start};
    event.endDate = Instant{row.end};
    event.isAllDay = each.allDay;
    event.alarms = each.alarms;
    event.lastModifiedDate = each.lastModified;
    event.calendarItemExternalIdentifier = each.uid;
    event.hasRecurrenceRules = each.repeats;
    event.isDetached = row.detached;
    if (event.hasRecurrenceRules)
      event.occurrenceDate = Instant{row.original};
  }

  auto& open =
      db_.cached("SELECT calendar, name FROM files WHERE horizon IS NOT NULL AND horizon < ?");
  open.bind(1, to.seconds);
  std::vector<Event> extra;
  while (open.step()) {
    const auto calendar = calendars.find(open.text(0));
    if (calendar == calendars.end())
      continue;
    const std::string name = open.text(1);
    const auto path = parseCalendarId(calendar->first);
    const auto series = readSeries(root_ / path->source / path->calendar / name);
    if (!series)
      continue;
    for (const Occurrence& occurrence : series->occurrences(from, to)) {
      extra.push_back(
          eventFrom(*series, occurrence, calendar->first + "/" + name, calendar->second));
    }
  }
  open.reset();
  reading.commit();
  if (!extra.empty()) {
    std::sort(extra.begin(), extra.end(), before);
    std::vector<Event> merged;
    merged.reserve(events.size() + extra.size());
    std::merge(std::make_move_iterator(events.begin()), std::make_move_iterator(events.end()),
               std::make_move_iterator(extra.begin()), std::make_move_iterator(extra.end()),
               std::back_inserter(merged), before);
    events = std::move(merged);
  }
  return events;
}

void Index::record(const CalendarPath& calendar, const std::string& name, const Series* series) {
  sql::Transaction transaction(db_);
  auto row = db_.prepare("SELECT id FROM files WHERE calendar = ? AND name = ?");
  row.bind(1, std::string_view(calendar.id())).bind(2, std::string_view(name));
  if (row.step())
    dropFile(row.integer(0));
  row.reset();
  if (series)
    insertFile(calendar, name, root_ / calendar.source / calendar.calendar / name, series);
  transaction.commit();
}

void Index::recordFolder(const CalendarPath& calendar) {
  const auto modified = folderModified(root_ / calendar.source / calendar.calendar);
  if (!modified)
    return;
  db_.cached("INSERT OR REPLACE INTO folders(calendar, modified) VALUES (?, ?)")
      .bind(1, std::string_view(calendar.id()))
      .bind(2, *modified)
      .run();
}

void Index::record(const CalendarPath& calendar, const std::vector<std::string>& names,
                   const std::function<std::optional<Series>(std::size_t)>& seriesOf) {
  sql::Transaction transaction(db_);
  auto& row = db_.cached("SELECT id FROM files WHERE calendar = ? AND name = ?");
  for (std::size_t at = 0; at < names.size(); ++at) {
    row.bind(1, std::string_view(calendar.id())).bind(2, std::string_view(names[at]));
    const std::optional<std::int64_t> id =
        row.step() ? std::optional<std::int64_t>(row.integer(0)) : std::nullopt;
    row.reset();
    if (id)
      dropFile(*id);
    const std::optional<Series> series = seriesOf(at);
    insertFile(calendar, names[at], root_ / calendar.source / calendar.calendar / names[at],
               series ? &*series : nullptr);
  }
  transaction.commit();
}

}  // namespace tembra::local
