// A small owning layer over SQLite for the store's index: the connection and its statements are
// closed by their owners, and every failure is thrown as IndexFailure for the store to catch.
#pragma once

#include <sqlite3.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tembra::local::sql {

// Which file a path named: its device and inode.
struct FileIdentity {
  dev_t device;
  ino_t inode;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// SQLite could not do what was asked; the index is then dropped and rebuilt or bypassed.
struct IndexFailure : std::runtime_error {
  IndexFailure(const std::string& what, int code) : std::runtime_error(what), code(code) {}
  int code;  // SQLite's extended result code
  // Of a damaged database: its path, and the file its connection had open, when the path still
  // named that file as the failure was raised.
  std::filesystem::path database;
  std::optional<FileIdentity> file;

  // The file is not a usable database: it must be removed and built again. A page whose checksum
  // does not match reads as SQLITE_IOERR_DATA.
  bool damaged() const {
    const int primary = code & 0xFF;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || code == SQLITE_IOERR_DATA;
  }
};

class Statement {
 public:
  Statement(sqlite3* db, std::string_view text);

  Statement& bind(int index, double value);
  Statement& bind(int index, std::int64_t value);
  Statement& bind(int index, std::string_view value);
  Statement& bind(int index, const std::optional<std::string>& value);
  Statement& bindNull(int index);
  // True while rows come; false once the statement is done.
  bool step();
  // Runs the statement to its end and makes it ready to run again.
  void run();
  void reset();

  double real(int column) const { return sqlite3_column_double(statement_.get(), column); }
  std::int64_t integer(int column) const { return sqlite3_column_int64(statement_.get(), column); }
  bool isNull(int column) const {
    return sqlite3_column_type(statement_.get(), column) == SQLITE_NULL;
  }
  std::string text(int column) const;
  // The text without a copy, valid until the statement steps or resets.
  std::string_view view(int column) const;
  std::optional<std::string> optionalText(int column) const;

 private:
  struct Finalize {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
  };
  sqlite3* db_;
  std::unique_ptr<sqlite3_stmt, Finalize> statement_;
};

// The database file and the journals SQLite keeps beside it.
std::vector<std::filesystem::path> databaseFiles(const std::filesystem::path& file);

// Removes a damaged database and its journals, provided its path still names the file that was
// found damaged: another process may have removed that one since and built a new one. The caller
// holds the lock under which removals are made; what is not a regular file stays.
void removeDamaged(const IndexFailure& failure);

class Database {
 public:
  // Opens (creating when missing) the database file through the checksum VFS, keeping its WAL
  // and shared memory between connections; a file in its place, or in that of its journals, that
  // is not a regular file is refused, and one whose pages carry no checksums is damaged.
  explicit Database(const std::filesystem::path& file);

  void exec(const char* sql);
  Statement prepare(std::string_view sql) { return Statement(db_.get(), sql); }
  // A statement prepared once per connection and reused, reset and ready to bind.
  Statement& cached(const std::string& sql);
  std::int64_t lastInsertId() const { return sqlite3_last_insert_rowid(db_.get()); }
  // For a user that finds the database breaking its own rules: it is damaged.
  [[noreturn]] void damaged(std::string_view what) const;

 private:
  struct Close {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
  };
  // Declared before the statements, so that they are finalised before the connection closes.
  std::unique_ptr<sqlite3, Close> db_;
  std::map<std::string, std::unique_ptr<Statement>> statements_;
};

// Runs a transaction that commits at commit() and otherwise rolls back: a write transaction, or
// with `reading` one that only reads and sees one state of the database throughout.
class Transaction {
 public:
  explicit Transaction(Database& db, bool reading = false) : db_(db) {
    db_.exec(reading ? "BEGIN DEFERRED" : "BEGIN IMMEDIATE");
  }
  ~Transaction() {
    if (!done_) {
      try {
        db_.exec("ROLLBACK");
      } catch (const IndexFailure&) {
        // Nothing more can be done; SQLite rolls back on its own when the connection closes.
      }
    }
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void commit() {
    db_.exec("COMMIT");
    done_ = true;
  }

 private:
  Database& db_;
  bool done_ = false;
};

}  // namespace tembra::local::sql
