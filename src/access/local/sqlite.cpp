// SQLite connection and statements.
#include "access/local/sqlite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "access/local/checksum_vfs.h"
#include "access/local/files.h"

namespace tembra::local::sql {
namespace {

// The file a connection has open, while its path still names it.
std::optional<FileIdentity> openFile(sqlite3* db, const std::filesystem::path& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0)
    return std::nullopt;
  // Asked after the path was read: had it changed in between, the file reads as moved.
  int moved = 1;
  if (sqlite3_file_control(db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) != SQLITE_OK || moved)
    return std::nullopt;
  return FileIdentity{info.st_dev, info.st_ino};
}

IndexFailure failure(sqlite3* db, std::string_view what, int code) {
  IndexFailure failure(std::string(what), code);
  if (failure.damaged()) {
    failure.database = sqlite3_db_filename(db, "main");
    failure.file = openFile(db, failure.database);
  }
  return failure;
}

[[noreturn]] void raise(sqlite3* db, std::string_view what) {
  if (!db)
    throw IndexFailure(std::string(what) + ": out of memory", SQLITE_NOMEM);
  throw failure(db, std::string(what) + ": " + sqlite3_errmsg(db), sqlite3_extended_errcode(db));
}

}  // namespace

std::vector<std::filesystem::path> databaseFiles(const std::filesystem::path& file) {
  std::vector<std::filesystem::path> files;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"})
    files.emplace_back(file.string() + suffix);
  return files;
}

void removeDamaged(const IndexFailure& failure) {
  struct stat info;
  if (!failure.damaged() || !failure.file || ::lstat(failure.database.c_str(), &info) != 0 ||
      !S_ISREG(info.st_mode) || FileIdentity{info.st_dev, info.st_ino} != *failure.file) {
    return;
  }
  // The database first: a process that opens it meanwhile gets no new WAL beside it (see
  // checksumVfs), and one that makes a new database at the path finds no journals of the old.
  for (const std::filesystem::path& path : databaseFiles(failure.database)) {
    if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
      ::unlink(path.c_str());
  }
}

Database::Database(const std::filesystem::path& file) {
  // SQLite would open a FIFO in the place of its files and wait on it for ever.
  for (const std::filesystem::path& path : databaseFiles(file)) {
    struct stat info;
    if (::lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
      throw IndexFailure(path.string() + " is not a regular file", SQLITE_CANTOPEN);
  }
  // SQLite would make a new database readable by all, and its WAL and shared memory take the
  // database's mode: made here first, it is as private as the store's other files.
  if (!isPresent(file)) {
    UniqueFd made(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                         newFileMode(file.parent_path())));
  }
  const char* vfs = checksumVfs();
  if (!vfs)
    throw IndexFailure("cannot open the index: SQLite has no file system", SQLITE_CANTOPEN);
  sqlite3* db = nullptr;
  const int status = sqlite3_open_v2(
      file.c_str(), &db,
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX, vfs);
  // One connection, used by one thread: SQLite need not lock it on every call.
  db_.reset(db);
  if (status != SQLITE_OK)
    raise(db, "cannot open the index");
  // Several tembra processes share the index: wait for a writer rather than fail.
  sqlite3_busy_timeout(db, 10'000);
  // The last connection to close would otherwise delete the WAL and the shared memory, and the
  // next run make them again. It empties the WAL instead, once its pages are in the database, so
  // that the next run has no frames to recover and copy again.
  int persist = 1;
  sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
  exec("PRAGMA journal_size_limit=0");
  // The reserved bytes as the database's header gives them (SQLite read it on opening): 8 for
  // the checksums, or none yet in a new, empty file. An index of an earlier version has none.
  int reserved = -1;
  sqlite3_file_control(db, "main", SQLITE_FCNTL_RESERVE_BYTES, &reserved);
  if (reserved == kChecksumBytes)
    return;
  sqlite3_file* opened = nullptr;
  sqlite3_int64 size = 0;
  if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &opened) != SQLITE_OK ||
      !opened || opened->pMethods->xFileSize(opened, &size) != SQLITE_OK) {
    throw IndexFailure("cannot read the size of the index", SQLITE_IOERR);
  }
  if (size > 0)
    damaged("the index's pages carry no checksums");
  int wanted = kChecksumBytes;
  sqlite3_file_control(db, "main", SQLITE_FCNTL_RESERVE_BYTES, &wanted);
}

void Database::damaged(std::string_view what) const {
  throw failure(db_.get(), what, SQLITE_CORRUPT);
}

void Database::exec(const char* sql) {
  if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    raise(db_.get(), sql);
  }
}

Statement& Database::cached(const std::string& sql) {
  auto& statement = statements_[sql];
  if (!statement) {
    statement = std::make_unique<Statement>(db_.get(), sql);
  } else {
    statement->reset();
  }
  return *statement;
}

Statement::Statement(sqlite3* db, std::string_view text) : db_(db) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v3(db, text.data(), static_cast<int>(text.size()), SQLITE_PREPARE_PERSISTENT,
                         &statement, nullptr) != SQLITE_OK) {
    raise(db, "cannot prepare a statement");
  }
  statement_.reset(statement);
}

Statement& Statement::bind(int index, double value) {
  if (sqlite3_bind_double(statement_.get(), index, value) != SQLITE_OK)
    raise(db_, "bind");
  return *this;
}

Statement& Statement::bind(int index, std::int64_t value) {
  if (sqlite3_bind_int64(statement_.get(), index, value) != SQLITE_OK)
    raise(db_, "bind");
  return *this;
}

Statement& Statement::bind(int index, std::string_view value) {
  if (sqlite3_bind_text(statement_.get(), index, value.data(), static_cast<int>(value.size()),
                        SQLITE_TRANSIENT) != SQLITE_OK) {
    raise(db_, "bind");
  }
  return *this;
}

Statement& Statement::bind(int index, const std::optional<std::string>& value) {
  return value ? bind(index, std::string_view(*value)) : bindNull(index);
}

Statement& Statement::bindNull(int index) {
  if (sqlite3_bind_null(statement_.get(), index) != SQLITE_OK)
    raise(db_, "bind");
  return *this;
}

bool Statement::step() {
  const int status = sqlite3_step(statement_.get());
  if (status == SQLITE_ROW)
    return true;
  if (status == SQLITE_DONE)
    return false;
  raise(db_, "step");
}

void Statement::run() {
  while (step()) {
  }
  reset();
}

void Statement::reset() {
  sqlite3_reset(statement_.get());
  sqlite3_clear_bindings(statement_.get());
}

std::string Statement::text(int column) const {
  return std::string(view(column));
}

std::string_view Statement::view(int column) const {
  const auto* data = sqlite3_column_text(statement_.get(), column);
  const int size = sqlite3_column_bytes(statement_.get(), column);
  return data
             ? std::string_view(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size))
             : std::string_view();
}

std::optional<std::string> Statement::optionalText(int column) const {
  if (isNull(column))
    return std::nullopt;
  return text(column);
}

}  // namespace tembra::local::sql
