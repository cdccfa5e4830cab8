// The SQLite index of the local store.
#include "access/local/index.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <tuple>
#include <unordered_map>

#include "access/local/event_files.h"

namespace tembra::local {
namespace {

// Bump when the schema or what is stored changes; an index of another version is rebuilt.
// Occurrences are kept in the order of their start, so that a window is one contiguous read, and
// the texts they share (a component: one VEVENT) in the order of their first occurrence, so that a
// window's texts lie together too; each component also carries what it needs of its file, the
// version of the file included.
constexpr std::int64_t kIndexVersion = 8;

// Repeating series without end are held this far ahead of the time they were indexed; windows
// beyond that read those series from their files.
constexpr double kHorizonAhead = 2 * 366 * 86400.0;
// At most this many occurrences of one series are held.
constexpr std::size_t kMostOccurrences = 20'000;
// Occurrences longer than this are found by a separate, small query; the others by their start.
constexpr double kLongEvent = 8 * 86400.0;

constexpr Instant kBeginningOfTime{-1e13};
constexpr Instant kEndOfTime{1e13};

constexpr std::int64_t kSecond = 1'000'000'000;
constexpr std::int64_t kRacyWithin = std::chrono::nanoseconds(kCoarseTimeWithin).count();
// Writes in place change no folder: every file of a calendar is looked at again this often.
constexpr std::int64_t kCheckAllEvery = 60 * kSecond;
// Rows gathered before they are sorted and written: enough for large runs in key order.
constexpr std::size_t kBatchRows = 1'000'000;
// SQLite's page cache while the index is being built or caught up, in KiB, and otherwise.
constexpr int kBuildingCacheKiB = 262'144;
constexpr int kCacheKiB = 2'000;

constexpr const char* kSchema = R"(
CREATE TABLE folders(
  calendar TEXT PRIMARY KEY,
  modified INTEGER NOT NULL,
  checked INTEGER NOT NULL,
  swept INTEGER NOT NULL);
CREATE TABLE files(
  id INTEGER PRIMARY KEY,
  calendar TEXT NOT NULL,
  name TEXT NOT NULL,
  listed INTEGER NOT NULL,
  inode INTEGER NOT NULL,
  size INTEGER NOT NULL,
  modified INTEGER NOT NULL,
  changed INTEGER NOT NULL,
  suspect INTEGER NOT NULL,
  readable INTEGER NOT NULL,
  uid TEXT,
  repeats INTEGER NOT NULL DEFAULT 0,
  horizon REAL);
CREATE UNIQUE INDEX files_names ON files(calendar, name);
CREATE INDEX files_listing ON files(calendar, name, listed, suspect);
CREATE INDEX files_suspect ON files(calendar) WHERE suspect = 1;
CREATE INDEX files_open ON files(horizon) WHERE horizon IS NOT NULL;
CREATE TABLE components(
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
  name TEXT NOT NULL,
  inode INTEGER NOT NULL,
  size INTEGER NOT NULL,
  modified INTEGER NOT NULL,
  changed INTEGER NOT NULL,
  rule TEXT,
  PRIMARY KEY(first, id)) WITHOUT ROWID;
CREATE INDEX components_file ON components(file);
CREATE TABLE occurrences(
  start REAL NOT NULL,
  file INTEGER NOT NULL,
  original REAL NOT NULL,
  component_first REAL NOT NULL,
  component INTEGER NOT NULL,
  end REAL NOT NULL,
  detached INTEGER NOT NULL,
  long INTEGER NOT NULL,
  PRIMARY KEY(start, file, original)) WITHOUT ROWID;
CREATE INDEX occurrences_long ON occurrences(end) WHERE long = 1;
CREATE INDEX occurrences_file ON occurrences(file);
)";

// The clock file systems stamp changes with, where it can be read: a change made after a reading
// of it has a time no earlier than that reading.
std::int64_t fileSystemNow() {
  struct timespec now;
#if defined(CLOCK_REALTIME_COARSE)
  ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
#else
  ::clock_gettime(CLOCK_REALTIME, &now);
#endif
  return static_cast<std::int64_t>(now.tv_sec) * kSecond + now.tv_nsec;
}

// A zone name as part of a file name: "Asia/Shanghai" gives "Asia-Shanghai".
std::string fileNamePart(const std::string& zone) {
  std::string part;
  for (const char c : zone.substr(0, 100)) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '+' || c == '-';
    part += plain ? c : c == '/' ? '-' : '_';
  }
  return part.empty() ? "_" : part;
}

bool isIndexFileName(const std::string& name) {
  if (!name.starts_with(".index."))
    return false;
  for (const char* end : {".sqlite", ".sqlite-wal", ".sqlite-shm", ".sqlite-journal"}) {
    if (name.ends_with(end))
      return true;
  }
  return false;
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

// A file's row: the version it was read from, and whether it must be looked at again next run.
struct FileRow {
  std::int64_t id = 0;
  std::string name;
  std::uint64_t listed = 0;  // the inode the folder listing gave
  FileVersion version;
  bool suspect = false, readable = false;
};

constexpr const char* kFileColumns =
    "id, name, listed, inode, size, modified, changed, suspect, readable";

FileRow fileRowFrom(const sql::Statement& rows) {
  FileRow row;
  row.id = rows.integer(0);
  row.name = rows.text(1);
  row.listed = static_cast<std::uint64_t>(rows.integer(2));
  row.version = {static_cast<std::uint64_t>(rows.integer(3)), rows.integer(4), rows.integer(5),
                 rows.integer(6)};
  row.suspect = rows.integer(7) != 0;
  row.readable = rows.integer(8) != 0;
  return row;
}

// A readable file whose times are safely older than a check that found it unchanged: a later
// change will show in them.
bool settles(const FileRow& row, const FileVersion& version, std::int64_t now) {
  return row.readable && version.latest() + kRacyWithin < now;
}

struct ComponentRow {
  double first;
  std::int64_t id, file;
  std::string event, calendar, uid;
  bool repeats, allDay;
  std::optional<double> horizon, lastModified;
  std::optional<std::string> title, notes, location;
  std::string alarms;
  std::string name;
  FileVersion version;
  std::optional<std::string> rule;
};

struct OccurrenceRow {
  double start;
  std::int64_t file;
  double original, componentFirst;
  std::int64_t component;
  double end;
  bool detached, isLong;
};

void bindOptional(sql::Statement& statement, int index, const std::optional<double>& value) {
  if (value) {
    statement.bind(index, *value);
  } else {
    statement.bindNull(index);
  }
}

}  // namespace

struct Index::Folder {
  CalendarPath path;
  UniqueFd fd;  // closed: the folder could not be opened
};

// Component and occurrence rows waiting to be written in key order.
struct Index::Batch {
  std::vector<ComponentRow> components;
  std::vector<OccurrenceRow> occurrences;
};

// What one run does for one calendar folder.
struct Index::Plan {
  const Folder* folder;
  std::int64_t modified;          // the folder's time, read before its entries
  bool list = false;              // list the folder again
  bool sweep = false;             // look at every file
  std::vector<FileRow> suspects;  // files to look at again
};

Index::Index(const std::filesystem::path& root) : root_(root), db_(fileFor(root)) {
  db_.exec("PRAGMA journal_mode=WAL");
  // The index is a cache of durable files: after a power loss it may miss its last changes,
  // which the files' versions then reveal, but it stays consistent.
  db_.exec("PRAGMA synchronous=NORMAL");
  db_.exec("CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL)");
  const std::string version = std::to_string(kIndexVersion);
  const std::string zone = localZoneName();
  const auto current = [&] {
    auto read = db_.prepare("SELECT key, value FROM meta WHERE key IN ('version', 'zone')");
    int matches = 0;
    while (read.step())
      matches += read.text(1) == (read.text(0) == "version" ? version : zone);
    return matches == 2;
  };
  if (current())
    return;
  // Made by another version (or, should two zones share one file, for another zone): start again,
  // deciding once more under the write lock, which another run may have taken to do the same.
  sql::Transaction transaction(db_);
  if (current())
    return;
  db_.exec(
      "DROP TABLE IF EXISTS occurrences; DROP TABLE IF EXISTS components;"
      "DROP TABLE IF EXISTS files; DROP TABLE IF EXISTS folders");
  db_.exec(kSchema);
  auto write = db_.prepare("INSERT OR REPLACE INTO meta(key, value) VALUES (?, ?)");
  write.bind(1, std::string_view("version")).bind(2, std::string_view(version)).run();
  write.bind(1, std::string_view("zone")).bind(2, std::string_view(zone)).run();
  transaction.commit();
}

Index::~Index() = default;

std::filesystem::path Index::fileFor(const std::filesystem::path& root) {
  return root / (".index." + fileNamePart(localZoneName()) + ".sqlite");
}

void Index::remove(const std::filesystem::path& root) {
  for (const FolderEntry& entry : folderEntries(root)) {
    // Only files: anything else in their place is not the index's, and stays.
    const std::filesystem::path path = root / entry.name;
    struct stat info;
    if (isIndexFileName(entry.name) && ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
      ::unlink(path.c_str());
  }
}

Index::Folder& Index::folder(const CalendarPath& calendar) {
  std::unique_ptr<Folder>& open = folders_[calendar.id()];
  if (!open) {
    open = std::make_unique<Folder>(
        Folder{calendar, openFolder(root_ / calendar.source / calendar.calendar)});
  }
  return *open;
}

void Index::refresh(const std::vector<CalendarPath>& calendars) {
  const std::int64_t now = fileSystemNow();
  struct Seen {
    std::int64_t modified, checked, swept;
  };
  std::map<std::string, Seen> known;
  auto& seen = db_.cached("SELECT calendar, modified, checked, swept FROM folders");
  while (seen.step())
    known.emplace(seen.text(0), Seen{seen.integer(1), seen.integer(2), seen.integer(3)});
  seen.reset();

  std::vector<Plan> plans;
  for (const CalendarPath& calendar : calendars) {
    const Folder& each = folder(calendar);
    const auto version = each.fd ? versionOfOpen(each.fd.get()) : std::nullopt;
    if (!version)
      continue;
    Plan plan{&each, version->modified, false, false, {}};
    const auto found = known.find(calendar.id());
    if (found == known.end()) {
      plan.list = plan.sweep = true;
    } else {
      const Seen before = found->second;
      known.erase(found);
      plan.list =
          before.modified != version->modified || before.modified + kRacyWithin >= before.checked;
      plan.sweep = now - before.swept >= kCheckAllEvery;
    }
    if (!plan.list && !plan.sweep) {
      auto& suspects = db_.cached(std::string("SELECT ") + kFileColumns +
                                  " FROM files WHERE calendar = ? AND suspect = 1");
      suspects.bind(1, std::string_view(calendar.id()));
      while (suspects.step()) {
        FileRow row = fileRowFrom(suspects);
        const auto current = fileVersionAt(each.fd.get(), row.name);
        if (!current || *current != row.version || settles(row, *current, now))
          plan.suspects.push_back(std::move(row));
      }
      suspects.reset();
    }
    if (plan.list || plan.sweep || !plan.suspects.empty())
      plans.push_back(std::move(plan));
  }
  if (plans.empty() && known.empty())
    return;

  sql::Transaction transaction(db_);
  db_.exec(("PRAGMA cache_size=-" + std::to_string(kBuildingCacheKiB)).c_str());
  for (const auto& [gone, before] : known) {
    auto files = db_.prepare("SELECT id FROM files WHERE calendar = ?");
    files.bind(1, std::string_view(gone));
    std::vector<std::int64_t> ids;
    while (files.step())
      ids.push_back(files.integer(0));
    for (const std::int64_t id : ids)
      dropFile(id);
    db_.prepare("DELETE FROM folders WHERE calendar = ?").bind(1, std::string_view(gone)).run();
  }
  Batch batch;
  for (const Plan& plan : plans)
    carryOut(plan, now, batch);
  flush(batch);
  transaction.commit();
  db_.exec(("PRAGMA cache_size=-" + std::to_string(kCacheKiB)).c_str());
}

void Index::carryOut(const Plan& plan, std::int64_t now, Batch& batch) {
  const CalendarPath& calendar = plan.folder->path;
  const int dir = plan.folder->fd.get();
  const std::string id = calendar.id();
  // A file that has a row: read again when it changed, trusted from now on when it settled.
  const auto check = [&](const FileRow& row) {
    const auto version = fileVersionAt(dir, row.name);
    if (!version) {
      readIn(calendar, row.name, 0, now, batch);
    } else if (*version != row.version) {
      readIn(calendar, row.name, row.listed == row.version.inode ? 0 : row.listed, now, batch);
    } else if (row.suspect && settles(row, *version, now)) {
      db_.cached(
             "UPDATE files SET suspect = 0 WHERE id = ? AND inode = ? AND size = ? AND "
             "modified = ? AND changed = ?")
          .bind(1, row.id)
          .bind(2, static_cast<std::int64_t>(row.version.inode))
          .bind(3, row.version.size)
          .bind(4, row.version.modified)
          .bind(5, row.version.changed)
          .run();
    }
  };
  const auto allRows = [&] {
    std::vector<FileRow> rows;
    auto& select = db_.cached(std::string("SELECT ") + kFileColumns +
                              " FROM files WHERE calendar = ? ORDER BY name");
    select.bind(1, std::string_view(id));
    while (select.step())
      rows.push_back(fileRowFrom(select));
    select.reset();
    return rows;
  };

  if (!plan.list) {
    for (const FileRow& row : plan.sweep ? allRows() : plan.suspects)
      check(row);
    if (plan.sweep) {
      db_.cached("UPDATE folders SET swept = ? WHERE calendar = ?")
          .bind(1, now)
          .bind(2, std::string_view(id))
          .run();
    }
    return;
  }

  // The listing and the rows, both in name order, side by side. What a listing compares comes
  // from an index alone; a row is read whole only when its file is to be looked at.
  std::vector<FolderEntry> entries = folderEntries(dir);
  std::erase_if(entries, [](const FolderEntry& entry) { return !isEventFileEntry(entry); });
  struct Listed {
    std::string name;
    std::uint64_t inode;
    std::int64_t id;
    bool suspect;
  };
  std::vector<Listed> rows;
  auto& select = db_.cached(
      "SELECT name, listed, id, suspect FROM files INDEXED BY files_listing WHERE calendar = ? "
      "ORDER BY name");
  select.bind(1, std::string_view(id));
  while (select.step()) {
    rows.push_back({select.text(0), static_cast<std::uint64_t>(select.integer(1)),
                    select.integer(2), select.integer(3) != 0});
  }
  select.reset();
  const auto checkRow = [&](std::int64_t rowId) {
    auto& whole = db_.cached(std::string("SELECT ") + kFileColumns + " FROM files WHERE id = ?");
    whole.bind(1, rowId);
    const std::optional<FileRow> row =
        whole.step() ? std::optional(fileRowFrom(whole)) : std::nullopt;
    whole.reset();
    if (row)
      check(*row);
  };
  auto row = rows.begin();
  for (const FolderEntry& entry : entries) {
    for (; row != rows.end() && row->name < entry.name; ++row)
      dropFile(row->id);
    if (row != rows.end() && row->name == entry.name) {
      if (row->inode != entry.inode) {
        readIn(calendar, entry.name, entry.inode, now, batch);
      } else if (row->suspect || plan.sweep) {
        checkRow(row->id);
      }
      ++row;
    } else {
      readIn(calendar, entry.name, entry.inode, now, batch);
    }
  }
  for (; row != rows.end(); ++row)
    dropFile(row->id);
  db_.cached(
         "INSERT OR IGNORE INTO folders(calendar, modified, checked, swept) VALUES (?, 0, 0, ?)")
      .bind(1, std::string_view(id))
      .bind(2, now)
      .run();
  db_.cached(
         "UPDATE folders SET modified = ?, checked = ?, swept = CASE WHEN ? THEN ? ELSE swept "
         "END WHERE calendar = ?")
      .bind(1, plan.modified)
      .bind(2, now)
      .bind(3, std::int64_t{plan.sweep})
      .bind(4, now)
      .bind(5, std::string_view(id))
      .run();
}

Index::Census Index::census() {
  Census census;
  auto& files = db_.cached("SELECT calendar, name, readable FROM files ORDER BY calendar, name");
  while (files.step()) {
    ++census.files;
    if (files.integer(2) == 0)
      census.unreadable.push_back(files.text(0) + "/" + files.text(1));
  }
  files.reset();
  return census;
}

void Index::readIn(const CalendarPath& calendar, const std::string& name, std::uint64_t listed,
                   std::int64_t now, Batch& batch) {
  readInOnce(calendar, name, listed, now, batch);
  if (afterEachRead_)
    afterEachRead_();
}

void Index::readInOnce(const CalendarPath& calendar, const std::string& name, std::uint64_t listed,
                       std::int64_t now, Batch& batch) {
  auto& existing = db_.cached("SELECT id FROM files WHERE calendar = ? AND name = ?");
  existing.bind(1, std::string_view(calendar.id())).bind(2, std::string_view(name));
  const std::optional<std::int64_t> previous =
      existing.step() ? std::optional(existing.integer(0)) : std::nullopt;
  existing.reset();
  if (previous)
    dropFile(*previous);

  const Folder& folder = this->folder(calendar);
  if (!folder.fd)
    return;
  std::function<void()> hook;
  if (whileReading_)
    hook = [&] { whileReading_(name); };
  const std::optional<FileContent> content = readFileAt(folder.fd.get(), name, hook);
  if (!content)
    return;
  // What changed while it was read is not believed: its row says so, and it is read again.
  const std::optional<Series> series =
      content->steady ? Series::parse(content->bytes) : std::nullopt;
  const bool suspect =
      !content->steady || !series || content->version.latest() + kRacyWithin >= now;

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
      "INSERT INTO files(calendar, name, listed, inode, size, modified, changed, suspect, "
      "readable, uid, repeats, horizon) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  insert.bind(1, std::string_view(calendar.id()))
      .bind(2, std::string_view(name))
      .bind(3, static_cast<std::int64_t>(listed ? listed : content->version.inode))
      .bind(4, static_cast<std::int64_t>(content->version.inode))
      .bind(5, content->version.size)
      .bind(6, content->version.modified)
      .bind(7, content->version.changed)
      .bind(8, std::int64_t{suspect})
      .bind(9, std::int64_t{series.has_value()});
  if (series) {
    insert.bind(10, std::string_view(series->uid())).bind(11, std::int64_t{series->repeats()});
  } else {
    insert.bindNull(10).bind(11, std::int64_t{0});
  }
  bindOptional(insert, 12, horizon);
  insert.run();
  if (!series)
    return;
  const std::int64_t fileId = db_.lastInsertId();

  const std::string eventId = calendar.id() + "/" + name;
  // Occurrences share the row of their component, but where its alarms are measured from the end
  // and their lengths differ (days across a change of clocks, RDATEs of periods), each length has
  // a row of its own.
  std::map<std::pair<icalcomponent*, double>, std::pair<double, std::int64_t>> components;
  std::map<icalcomponent*, bool> measuredFromEnd;
  for (const Occurrence& each : occurrences) {
    auto [fromEnd, first] = measuredFromEnd.try_emplace(each.component, false);
    if (first)
      fromEnd->second = hasAlarmFromEnd(each.component);
    const std::pair key(each.component,
                        fromEnd->second ? each.end.seconds - each.start.seconds : 0.0);
    auto found = components.find(key);
    if (found == components.end()) {
      const Event event = series->eventAt(each);
      // Unique among components: a file has far fewer than 2^20 of them.
      const std::int64_t id =
          fileId * (std::int64_t{1} << 20) + static_cast<std::int64_t>(components.size());
      batch.components.push_back(ComponentRow{
          each.start.seconds, id, fileId, eventId, calendar.id(), series->uid(), series->repeats(),
          event.isAllDay, horizon,
          event.lastModifiedDate ? std::optional(event.lastModifiedDate->seconds) : std::nullopt,
          event.title, event.notes, event.location, encodeAlarms(event.alarms), name,
          content->version, event.recurrenceRule});
      found = components.emplace(key, std::pair(each.start.seconds, id)).first;
    }
    batch.occurrences.push_back(OccurrenceRow{each.start.seconds, fileId,
                                              each.originalStart.seconds, found->second.first,
                                              found->second.second, each.end.seconds, each.detached,
                                              each.end.seconds - each.start.seconds > kLongEvent});
  }
  if (batch.components.size() + batch.occurrences.size() >= kBatchRows)
    flush(batch);
}

void Index::flush(Batch& batch) {
  // In key order, each b-tree grows at its end instead of splitting pages all over.
  std::sort(batch.components.begin(), batch.components.end(),
            [](const ComponentRow& a, const ComponentRow& b) {
              return std::tie(a.first, a.id) < std::tie(b.first, b.id);
            });
  std::sort(batch.occurrences.begin(), batch.occurrences.end(),
            [](const OccurrenceRow& a, const OccurrenceRow& b) {
              return std::tie(a.start, a.file, a.original) < std::tie(b.start, b.file, b.original);
            });
  auto& component = db_.cached(
      "INSERT INTO components(first, id, file, event, calendar, uid, repeats, horizon, title, "
      "notes, location, all_day, alarms, last_modified, name, inode, size, modified, changed, "
      "rule) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  for (const ComponentRow& row : batch.components) {
    component.bind(1, row.first)
        .bind(2, row.id)
        .bind(3, row.file)
        .bind(4, std::string_view(row.event))
        .bind(5, std::string_view(row.calendar))
        .bind(6, std::string_view(row.uid))
        .bind(7, std::int64_t{row.repeats});
    bindOptional(component, 8, row.horizon);
    component.bind(9, row.title)
        .bind(10, row.notes)
        .bind(11, row.location)
        .bind(12, std::int64_t{row.allDay})
        .bind(13, std::string_view(row.alarms));
    bindOptional(component, 14, row.lastModified);
    component.bind(15, std::string_view(row.name))
        .bind(16, static_cast<std::int64_t>(row.version.inode))
        .bind(17, row.version.size)
        .bind(18, row.version.modified)
        .bind(19, row.version.changed)
        .bind(20, row.rule)
        .run();
  }
  auto& occurrence = db_.cached(
      "INSERT INTO occurrences(start, file, original, component_first, component, end, detached, "
      "long) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
  for (const OccurrenceRow& row : batch.occurrences) {
    occurrence.bind(1, row.start)
        .bind(2, row.file)
        .bind(3, row.original)
        .bind(4, row.componentFirst)
        .bind(5, row.component)
        .bind(6, row.end)
        .bind(7, std::int64_t{row.detached})
        .bind(8, std::int64_t{row.isLong})
        .run();
  }
  batch.components.clear();
  batch.occurrences.clear();
}

void Index::dropFile(std::int64_t id) {
  db_.cached("DELETE FROM occurrences WHERE file = ?").bind(1, id).run();
  db_.cached("DELETE FROM components WHERE file = ?").bind(1, id).run();
  db_.cached("DELETE FROM files WHERE id = ?").bind(1, id).run();
}

void Index::record(const CalendarPath& calendar, const std::string& name) {
  const std::int64_t now = fileSystemNow();
  sql::Transaction transaction(db_);
  Batch batch;
  readIn(calendar, name, 0, now, batch);
  flush(batch);
  transaction.commit();
}

EventWindow Index::window(const std::map<std::string, Calendar>& calendars, Instant from,
                          Instant to) {
  // The files the answer comes from are looked at first; any that changed since they were read
  // (written in place, which no folder shows) are read again and the window asked again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::vector<std::pair<CalendarPath, std::string>> stale;
    EventWindow events = windowOnce(calendars, from, to, stale);
    if (stale.empty())
      return events;
    const std::int64_t now = fileSystemNow();
    sql::Transaction transaction(db_);
    Batch batch;
    for (const auto& [calendar, name] : stale)
      readIn(calendar, name, 0, now, batch);
    flush(batch);
    transaction.commit();
  }
  // Files that change faster than they can be read: the caller reads them all itself.
  throw sql::IndexFailure("the files of the window keep changing", SQLITE_BUSY);
}

EventWindow Index::windowOnce(const std::map<std::string, Calendar>& calendars, Instant from,
                              Instant to,
                              std::vector<std::pair<CalendarPath, std::string>>& stale) {
  // One read transaction for the whole window: one lock, and one state of the index.
  sql::Transaction reading(db_, true);

  // The occurrences first, each with the number of the component it shares with the other
  // occurrences of its series: a year of a weekly series is fifty rows of one component.
  // Most occurrences are found by their start; the few long ones by their end.
  struct Key {
    double first;
    std::int64_t id;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    std::size_t operator()(const Key& key) const {
      return std::hash<double>()(key.first) * 31 + std::hash<std::int64_t>()(key.id);
    }
  };
  std::unordered_map<Key, std::uint32_t, KeyHash> numbers;
  std::vector<Key> keys;  // by number
  EventWindow window;
  auto& rows = db_.cached(
      "SELECT component_first, component, start, end, original, detached FROM occurrences"
      " WHERE start < :to AND start >= :lower AND (end > :from OR start >= :from)"
      " UNION ALL SELECT component_first, component, start, end, original, detached"
      " FROM occurrences WHERE long = 1 AND end > :from AND start < :lower");
  rows.bind(1, to.seconds).bind(2, from.seconds - kLongEvent).bind(3, from.seconds);
  while (rows.step()) {
    const Key key{rows.real(0), rows.integer(1)};
    const auto [found, added] = numbers.try_emplace(key, keys.size());
    if (added)
      keys.push_back(key);
    window.occurrences.push_back({Instant{rows.real(2)}, Instant{rows.real(3)},
                                  Instant{rows.real(4)}, found->second, rows.integer(5) != 0});
  }
  rows.reset();

  // Then each component once, as one event of the window.
  std::map<std::string, std::shared_ptr<const Calendar>, std::less<>> shared;
  for (const auto& [id, calendar] : calendars) {
    shared.emplace(id, std::make_shared<const Calendar>(calendar));
  }
  struct Source {
    std::int64_t file = 0;
    const Calendar* calendar = nullptr;  // null: not asked for, or read from its file
    std::string name;                    // of the file, in the folder of `calendar`
    FileVersion version;
  };
  std::vector<Source> sources(keys.size());
  window.events.resize(keys.size());
  std::vector<char> taken(keys.size());
  // Column `at` onwards of a component's row, for the event of that number.
  const auto take = [&](sql::Statement& row, int at, std::uint32_t number) {
    taken[number] = true;
    Event& event = window.events[number];
    Source& source = sources[number];
    const auto calendar = shared.find(row.view(at + 1));
    // A series held only up to a horizon before the window's end is read from its file.
    const bool open = !row.isNull(at + 4) && row.real(at + 4) < to.seconds;
    if (calendar == shared.end() || open)
      return;
    event.eventIdentifier = row.text(at);
    event.calendar = CalendarRef(calendar->second);
    source.calendar = calendar->second.get();
    event.calendarItemExternalIdentifier = row.optionalText(at + 2);
    if (event.calendarItemExternalIdentifier && event.calendarItemExternalIdentifier->empty())
      event.calendarItemExternalIdentifier.reset();
    event.hasRecurrenceRules = row.integer(at + 3) != 0;
    event.title = row.optionalText(at + 5);
    event.notes = row.optionalText(at + 6);
    event.location = row.optionalText(at + 7);
    event.isAllDay = row.integer(at + 8) != 0;
    event.alarms = decodeAlarms(row.text(at + 9));
    if (!row.isNull(at + 10))
      event.lastModifiedDate = Instant{row.real(at + 10)};
    source.file = row.integer(at + 11);
    source.name = row.text(at + 12);
    source.version = {static_cast<std::uint64_t>(row.integer(at + 13)), row.integer(at + 14),
                      row.integer(at + 15), row.integer(at + 16)};
    event.recurrenceRule = row.optionalText(at + 17);
  };
  // Most components begin in the window, and are read in one pass over its part of the table;
  // series that began before it are looked up one by one.
  const std::string columns =
      "event, calendar, uid, repeats, horizon, title, notes, location, all_day, alarms, "
      "last_modified, file, name, inode, size, modified, changed, rule FROM components ";
  auto& inWindow = db_.cached("SELECT first, id, " + columns + "WHERE first >= ? AND first < ?");
  inWindow.bind(1, from.seconds).bind(2, to.seconds);
  while (inWindow.step()) {
    const auto found = numbers.find(Key{inWindow.real(0), inWindow.integer(1)});
    if (found != numbers.end())
      take(inWindow, 2, found->second);
  }
  inWindow.reset();
  auto& byKey = db_.cached("SELECT " + columns + "WHERE first = ? AND id = ?");
  for (std::uint32_t number = 0; number < keys.size(); ++number) {
    if (taken[number])
      continue;
    byKey.bind(1, keys[number].first).bind(2, keys[number].id);
    // Written in one transaction with its occurrences: without it, the index is damaged.
    if (!byKey.step())
      db_.damaged("an occurrence without its component");
    take(byKey, 0, number);
    byKey.reset();
  }
  // Occurrences of calendars not asked for go, and only a series has occurrence dates.
  std::erase_if(window.occurrences, [&](const EventWindow::Occurrence& occurrence) {
    return sources[occurrence.event].calendar == nullptr;
  });
  for (EventWindow::Occurrence& occurrence : window.occurrences) {
    if (!window.events[occurrence.event].hasRecurrenceRules)
      occurrence.occurrenceDate.reset();
  }

  // Each file answered from must still be the version that was read.
  std::erase_if(sources, [](const Source& source) { return source.calendar == nullptr; });
  std::sort(sources.begin(), sources.end(),
            [](const Source& a, const Source& b) { return a.file < b.file; });
  sources.erase(std::unique(sources.begin(), sources.end(),
                            [](const Source& a, const Source& b) { return a.file == b.file; }),
                sources.end());
  std::map<const Calendar*, const Folder*> folderOf;
  for (const Source& source : sources) {
    const Folder*& folder = folderOf[source.calendar];
    if (!folder)
      folder = &this->folder(*parseCalendarId(source.calendar->calendarIdentifier));
    const auto now = folder->fd ? fileVersionAt(folder->fd.get(), source.name) : std::nullopt;
    if (!now || *now != source.version)
      stale.emplace_back(folder->path, source.name);
  }
  if (!stale.empty())
    return {};

  auto& open =
      db_.cached("SELECT calendar, name FROM files WHERE horizon IS NOT NULL AND horizon < ?");
  open.bind(1, to.seconds);
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
      Event event = eventFrom(*series, occurrence, calendar->first + "/" + name, calendar->second);
      window.occurrences.push_back({event.startDate, event.endDate, event.occurrenceDate,
                                    static_cast<std::uint32_t>(window.events.size()),
                                    event.isDetached});
      window.events.push_back(std::move(event));
    }
  }
  open.reset();
  reading.commit();

  const std::vector<Event>& events = window.events;
  std::sort(window.occurrences.begin(), window.occurrences.end(),
            [&](const EventWindow::Occurrence& a, const EventWindow::Occurrence& b) {
              if (a.startDate != b.startDate)
                return a.startDate < b.startDate;
              if (a.endDate != b.endDate)
                return a.endDate < b.endDate;
              return events[a.event].eventIdentifier < events[b.event].eventIdentifier;
            });
  return window;
}

}  // namespace tembra::local
