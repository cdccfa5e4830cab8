// The index's file: opening it, checking its schema and version, where each zone's lies, and
// what it holds.
#include "access/local/index.h"

#include <sys/stat.h>
#include <unistd.h>

#include "access/local/index_rows.h"

namespace tembra::local {
namespace {

// Bump when the schema or what is stored changes; an index of another version is rebuilt.
// Occurrences are kept in the order of their start, so that a window is one contiguous read, and
// the texts they share (a component: one VEVENT) in the order of their first occurrence, so that a
// window's texts lie together too; each component also carries what it needs of its file, the
// version of the file included.
constexpr std::int64_t kIndexVersion = 8;

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

}  // namespace

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

Index::Census Index::census() {
  Census census;
  auto& files = db_.cached(std::string("SELECT ") + FileRow::kColumns +
                           " FROM files ORDER BY calendar, name");
  while (files.step()) {
    ++census.files;
    const FileRow row = FileRow::read(files);
    if (!row.readable)
      census.unreadable.push_back(row.calendar + "/" + row.name);
  }
  files.reset();
  return census;
}

}  // namespace tembra::local
