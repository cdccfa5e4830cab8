// Where the store lives, how tembra-store makes and changes it, and how it reports misuse.
#include "access/local/admin.h"

#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "access/local/files.h"
#include "access/local/local_store.h"
#include "access/local/settings.h"
#include "support/black_box.h"

namespace tembra::local {
namespace {

using tembra::testing::ProcessResult;
using tembra::testing::TempStore;

// Sets or clears environment variables while it lives.
class ScopedEnvironment {
 public:
  void set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        ::setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        ::unsetenv(it->first.c_str());
      }
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(DefaultStorePath, PrefersTembraStoreThenXdgDataHomeThenHome) {
  ScopedEnvironment environment;
  environment.set("TEMBRA_STORE", "/a/store");
  environment.set("XDG_DATA_HOME", "/data");
  environment.set("HOME", "/home/me");
  EXPECT_EQ(defaultStorePath(), std::filesystem::path("/a/store"));
  environment.set("TEMBRA_STORE", "");
  EXPECT_EQ(defaultStorePath(), std::filesystem::path("/data/tembra"));
  environment.set("XDG_DATA_HOME", nullptr);
  EXPECT_EQ(defaultStorePath(), std::filesystem::path("/home/me/.local/share/tembra"));
  environment.set("HOME", nullptr);
  EXPECT_FALSE(defaultStorePath());
  // Relative paths would name another store in each folder a host runs in: a relative
  // XDG_DATA_HOME is ignored, a relative TEMBRA_STORE names none and says why.
  environment.set("HOME", "/home/me");
  environment.set("XDG_DATA_HOME", "data");
  EXPECT_EQ(defaultStorePath(), std::filesystem::path("/home/me/.local/share/tembra"));
  EXPECT_FALSE(storePathProblem());
  environment.set("TEMBRA_STORE", "store");
  EXPECT_FALSE(defaultStorePath());
  EXPECT_EQ(storePathProblem(), "本地日历库的位置（TEMBRA_STORE）必须是绝对路径: store");
}

TEST(CreateStore, AnEmptyFolderCountsAsAbsentAndAFullOneIsKept) {
  TempStore empty;
  std::filesystem::create_directories(empty.path());
  ASSERT_FALSE(createStoreIfAbsent(empty.path(), false));
  EXPECT_EQ(loadSettings(empty.path()).defaultCalendar, "local/calendar");

  TempStore synced;  // a folder another tool filled first
  std::filesystem::create_directories(synced.path() / "acme" / "work");
  ASSERT_FALSE(createStoreIfAbsent(synced.path(), false));
  EXPECT_FALSE(std::filesystem::exists(synced.path() / "local"));
  auto store = createLocalStore(synced.path());
  ASSERT_EQ(store->calendars(EntityType::event).value().size(), 1u);
  EXPECT_FALSE(store->defaultCalendarForNewEvents().value());

  TempStore bare;
  ASSERT_FALSE(createStoreIfAbsent(bare.path(), true));
  EXPECT_TRUE(createLocalStore(bare.path())->calendars(EntityType::event).value().empty());
  // Made once, a store is not made again.
  ASSERT_FALSE(createStoreIfAbsent(bare.path(), false));
  EXPECT_TRUE(createLocalStore(bare.path())->calendars(EntityType::event).value().empty());
}

TEST(TembraStore, ReportsMisuseOnStandardErrorWithAFailingStatus) {
  TempStore store;
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{}, 2},
      {{"frobnicate"}, 2},
      {{"set-access", "allowed"}, 2},
      {{"set-answer", "maybe"}, 2},
      {{"add-calendar"}, 2},
      {{"add-calendar", "--title", "X", "--color", "orange"}, 1},
      {{"set-default", "no/such"}, 1},
      {{"import", "local/calendar", "/no/such/file.ics"}, 1},
      {{"init", "--full"}, 2},
  };
  for (const Case& c : cases) {
    const ProcessResult result = store.admin(c.args);
    EXPECT_EQ(result.status, c.status) << ::testing::PrintToString(c.args);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(result.err.starts_with("tembra-store: ")) << result.err;
  }
}

TEST(TembraStore, ImportRefusesWhatItCannotStoreAndWritesNothing) {
  TempStore store;
  store.adminOk({"init"});
  const std::filesystem::path file = store.path() / "in.ics";
  std::ofstream(file)
      << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:x\r\nBEGIN:VEVENT\r\nUID:ok\r\n"
         "DTSTART:20250101T090000Z\r\nEND:VEVENT\r\nBEGIN:VEVENT\r\nUID:no-start\r\n"
         "SUMMARY:x\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
  const ProcessResult result = store.admin({"import", "local/calendar", file.string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("no-start"), std::string::npos) << result.err;
  std::size_t events = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(store.path() / "local" / "calendar")) {
    events += entry.path().extension() == ".ics";
  }
  EXPECT_EQ(events, 0u);
}

}  // namespace
}  // namespace tembra::local
