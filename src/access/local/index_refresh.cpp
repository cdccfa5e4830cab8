// Bringing the index up to date with the calendar folders: which folders to list again and which
// files to look at again, judged by named freshness rules, and each file read into rows.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <tuple>

#include "access/local/event_files.h"
#include "access/local/index.h"
#include "access/local/index_rows.h"

namespace tembra::local {
namespace {

// Repeating series without end are held this far ahead of the time they were indexed; windows
// beyond that read those series from their files.
constexpr double kHorizonAhead = 2 * 366 * 86400.0;
// At most this many occurrences of one series are held.
constexpr std::size_t kMostOccurrences = 20'000;

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

// The freshness rules, in the manner of git's racily clean entries.

// A time as recent as the check that saw it (`checked`) proves nothing: a later change in the
// same tick of the file system's clock leaves it as it was.
bool isRacy(std::int64_t time, std::int64_t checked) {
  return time + kRacyWithin >= checked;
}

// A folder whose time moved, or was racy when it was last listed, is listed again.
bool folderNeedsListing(std::int64_t modified, std::int64_t listedModified, std::int64_t listedAt) {
  return listedModified != modified || isRacy(listedModified, listedAt);
}

// Every file of a calendar is looked at once a minute: a write in place changes no folder.
bool sweepIsDue(std::int64_t swept, std::int64_t now) {
  return now - swept >= kCheckAllEvery;
}

// A readable file whose times are safely older than a check that found it unchanged: a later
// change will show in them, so its row is trusted from now on.
bool settles(const FileRow& row, const FileVersion& version, std::int64_t now) {
  return row.readable && !isRacy(version.latest(), now);
}

// A file's row no longer proves what its file holds: the file is gone or changed, or the row
// settles now and must be marked so.
bool needsLook(const FileRow& row, const std::optional<FileVersion>& current, std::int64_t now) {
  return !current || *current != row.version || settles(row, *current, now);
}

// A row is written as suspect, to be looked at again next run, when the file changed while it was
// read, holds no series the store can read, or has a racy time.
bool isSuspect(const FileContent& content, bool readable, std::int64_t now) {
  return !content.steady || !readable || isRacy(content.version.latest(), now);
}

}  // namespace

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
      plan.list = folderNeedsListing(version->modified, before.modified, before.checked);
      plan.sweep = sweepIsDue(before.swept, now);
    }
    if (!plan.list && !plan.sweep) {
      auto& suspects = db_.cached(std::string("SELECT ") + FileRow::kColumns +
                                  " FROM files WHERE calendar = ? AND suspect = 1");
      suspects.bind(1, std::string_view(calendar.id()));
      while (suspects.step()) {
        FileRow row = FileRow::read(suspects);
        if (needsLook(row, fileVersionAt(each.fd.get(), row.name), now))
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
    auto& select = db_.cached(std::string("SELECT ") + FileRow::kColumns +
                              " FROM files WHERE calendar = ? ORDER BY name");
    select.bind(1, std::string_view(id));
    while (select.step())
      rows.push_back(FileRow::read(select));
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
  // from an index alone (files_listing covers it); a row is read whole only when its file is to be
  // looked at.
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
    auto& whole =
        db_.cached(std::string("SELECT ") + FileRow::kColumns + " FROM files WHERE id = ?");
    whole.bind(1, rowId);
    const std::optional<FileRow> row =
        whole.step() ? std::optional(FileRow::read(whole)) : std::nullopt;
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

void Index::record(const CalendarPath& calendar, const std::string& name) {
  readAgain({{calendar, name}});
}

void Index::readAgain(const FileNames& files) {
  const std::int64_t now = fileSystemNow();
  sql::Transaction transaction(db_);
  Batch batch;
  for (const auto& [calendar, name] : files)
    readIn(calendar, name, 0, now, batch);
  flush(batch);
  transaction.commit();
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

  FileRow file;
  file.calendar = calendar.id();
  file.name = name;
  file.listed = listed ? listed : content->version.inode;
  file.version = content->version;
  file.suspect = isSuspect(*content, series.has_value(), now);
  file.readable = series.has_value();
  std::vector<Occurrence> occurrences;
  if (series) {
    file.uid = series->uid();
    file.repeats = series->repeats();
    const Instant end = series->bounded()
                            ? kEndOfTime
                            : Instant{static_cast<double>(std::time(nullptr)) + kHorizonAhead};
    occurrences = series->occurrences(kBeginningOfTime, end);
    if (!series->bounded())
      file.horizon = end.seconds;
    if (occurrences.size() > kMostOccurrences) {
      file.horizon = occurrences[kMostOccurrences].start.seconds;
      occurrences.resize(kMostOccurrences);
    }
  }
  auto& insert = db_.cached(insertInto("files", FileRow::kColumns));
  file.bind(insert);
  insert.run();
  if (!series)
    return;
  const std::int64_t fileId = db_.lastInsertId();

  const std::string eventId = calendar.id() + "/" + name;
  // Occurrences share the row of their component, but where its alarms are measured from the end
  // and their lengths differ (days across a change of clocks, RDATEs of periods), each length has
  // a row of its own.
  std::map<std::pair<icalcomponent*, double>, ComponentKey> components;
  std::map<icalcomponent*, bool> measuredFromEnd;
  for (const Occurrence& each : occurrences) {
    auto [fromEnd, first] = measuredFromEnd.try_emplace(each.component, false);
    if (first)
      fromEnd->second = hasAlarmFromEnd(each.component);
    const std::pair key(each.component,
                        fromEnd->second ? each.end.seconds - each.start.seconds : 0.0);
    auto found = components.find(key);
    if (found == components.end()) {
      Event event = series->eventAt(each);
      ComponentRow component;
      // Unique among components: a file has far fewer than 2^20 of them.
      component.key = {each.start.seconds, fileId * (std::int64_t{1} << 20) +
                                               static_cast<std::int64_t>(components.size())};
      component.file = fileId;
      component.event = eventId;
      component.calendar = file.calendar;
      component.uid = series->uid();
      component.repeats = series->repeats();
      component.horizon = file.horizon;
      component.title = std::move(event.title);
      component.notes = std::move(event.notes);
      component.location = std::move(event.location);
      component.allDay = event.isAllDay;
      component.alarms = encodeAlarms(event.alarms);
      if (event.lastModifiedDate)
        component.lastModified = event.lastModifiedDate->seconds;
      component.name = name;
      component.version = content->version;
      component.rule = std::move(event.recurrenceRule);
      found = components.emplace(key, component.key).first;
      batch.components.push_back(std::move(component));
    }
    batch.occurrences.push_back(OccurrenceRow{
        each.start.seconds, fileId, each.originalStart.seconds, found->second, each.end.seconds,
        each.detached, each.end.seconds - each.start.seconds > kLongEvent});
  }
  if (batch.components.size() + batch.occurrences.size() >= kBatchRows)
    flush(batch);
}

void Index::flush(Batch& batch) {
  // In key order, each b-tree grows at its end instead of splitting pages all over.
  std::sort(batch.components.begin(), batch.components.end(),
            [](const ComponentRow& a, const ComponentRow& b) {
              return std::tie(a.key.first, a.key.id) < std::tie(b.key.first, b.key.id);
            });
  std::sort(batch.occurrences.begin(), batch.occurrences.end(),
            [](const OccurrenceRow& a, const OccurrenceRow& b) {
              return std::tie(a.start, a.file, a.original) < std::tie(b.start, b.file, b.original);
            });
  auto& component = db_.cached(insertInto("components", ComponentRow::kColumns));
  for (const ComponentRow& row : batch.components) {
    row.bind(component);
    component.run();
  }
  auto& occurrence = db_.cached(insertInto("occurrences", OccurrenceRow::kColumns));
  for (const OccurrenceRow& row : batch.occurrences) {
    row.bind(occurrence);
    occurrence.run();
  }
  batch.components.clear();
  batch.occurrences.clear();
}

void Index::dropFile(std::int64_t id) {
  db_.cached("DELETE FROM occurrences WHERE file = ?").bind(1, id).run();
  db_.cached("DELETE FROM components WHERE file = ?").bind(1, id).run();
  db_.cached("DELETE FROM files WHERE id = ?").bind(1, id).run();
}

}  // namespace tembra::local
