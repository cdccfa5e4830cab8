// A damaged database is removed only while its path still names the file found damaged, and the
// WAL beside a database stays there between connections.
#include "access/local/sqlite.h"

#include <fstream>

#include <gtest/gtest.h>

#include "access/local/files.h"
#include "support/black_box.h"

namespace tembra::local::sql {
namespace {

namespace fs = std::filesystem;

enum class Replaced { never, beforeTheFailure, afterIt };

struct RemovalCase {
  const char* name;
  Replaced replaced;
  bool removed;
};

class RemoveDamaged : public ::testing::TestWithParam<RemovalCase> {};

TEST_P(RemoveDamaged, OnlyTheFileFoundDamaged) {
  testing::TempStore folder;
  fs::create_directories(folder.path());
  const fs::path file = folder.path() / "db.sqlite";
  {
    Database db(file);
    db.exec("PRAGMA journal_mode=WAL; CREATE TABLE t(text TEXT)");
    db.exec("INSERT INTO t SELECT printf('%.500c', 'x') FROM (SELECT 1 UNION SELECT 2)");
  }
  std::fstream(file, std::ios::in | std::ios::out | std::ios::binary).seekp(5000).put('!');
  // Another process's new database, put in the place of the damaged one.
  const auto replace = [&] {
    std::ofstream(folder.path() / "new") << "new";
    fs::rename(folder.path() / "new", file);
  };
  std::optional<IndexFailure> failure;
  try {
    Database db(file);
    db.exec("SELECT COUNT(*) FROM sqlite_schema");  // the first page, whole
    if (GetParam().replaced == Replaced::beforeTheFailure)
      replace();
    db.exec("SELECT COUNT(*) FROM t WHERE text > ''");
  } catch (const IndexFailure& caught) {
    failure = caught;
  }
  ASSERT_TRUE(failure && failure->damaged());
  if (GetParam().replaced == Replaced::afterIt)
    replace();
  removeDamaged(*failure);
  EXPECT_EQ(isPresent(file), !GetParam().removed);
  EXPECT_EQ(isPresent(file.string() + "-wal"), !GetParam().removed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RemoveDamaged,
    ::testing::Values(RemovalCase{"StillInPlace", Replaced::never, true},
                      RemovalCase{"ReplacedBeforeTheFailure", Replaced::beforeTheFailure, false},
                      RemovalCase{"ReplacedAfterIt", Replaced::afterIt, false}),
    [](const auto& info) { return std::string(info.param.name); });

// A run neither makes nor deletes the WAL and the shared memory, and leaves no frames for the next
// one to recover and copy into the database again.
TEST(IndexDatabase, TheWalStaysInPlaceAndEmptyBetweenConnections) {
  testing::TempStore folder;
  fs::create_directories(folder.path());
  const fs::path file = folder.path() / "db.sqlite";
  Database(file).exec("PRAGMA journal_mode=WAL; CREATE TABLE t(n); INSERT INTO t VALUES (1)");
  EXPECT_TRUE(isPresent(file.string() + "-shm"));
  ASSERT_TRUE(isPresent(file.string() + "-wal"));
  EXPECT_EQ(fs::file_size(file.string() + "-wal"), 0u);
}

}  // namespace
}  // namespace tembra::local::sql
