// Page checksums keep what SQLite itself checks intact: a WAL left by a process that died.
#include "access/local/checksum_vfs.h"

#include <gtest/gtest.h>

#include "access/local/sqlite.h"
#include "support/black_box.h"

namespace tembra::local::sql {
namespace {

namespace fs = std::filesystem;

// The frames SQLite writes checksum the pages as its cache holds them, and the VFS then gives the
// pages checksums of their own: unless the frames' checksums follow, recovering the WAL stops at
// the first page written twice and loses the transactions from there on.
TEST(ChecksumVfs, AWalLeftByADeadProcessKeepsEveryTransaction) {
  testing::TempStore folder;
  fs::create_directories(folder.path());
  const fs::path file = folder.path() / "db.sqlite", left = folder.path() / "left.sqlite";
  constexpr int kTransactions = 40;
  {
    Database db(file);
    db.exec("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0");
    db.exec("CREATE TABLE t(n INTEGER PRIMARY KEY, text TEXT NOT NULL)");
    for (int n = 0; n < kTransactions; ++n)
      db.prepare("INSERT INTO t(text) VALUES (?)")
          .bind(1, std::string_view(std::string(300, static_cast<char>('a' + n % 26))))
          .run();
    // What a process killed now leaves: nothing of the WAL is in the database yet.
    fs::copy_file(file, left);
    fs::copy_file(file.string() + "-wal", left.string() + "-wal");
  }
  Database recovered(left);
  auto rows = recovered.prepare("SELECT COUNT(*) FROM t");
  ASSERT_TRUE(rows.step());
  EXPECT_EQ(rows.integer(0), kTransactions);
}

}  // namespace
}  // namespace tembra::local::sql
