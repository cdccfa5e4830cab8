// Writers killed at random moments: whatever moment a kill hits, every event file reads, no UID is
// in two files, nothing reported saved is lost, the next write leaves no temporary file behind,
// and the store keeps its default calendar.
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "access/local/admin.h"
#include "access/local/event_files.h"
#include "access/local/files.h"
#include "access/local/journal.h"
#include "access/local/layout.h"
#include "access/local/settings.h"
#include "support/black_box.h"
#include "support/store_generator.h"

namespace tembra::local {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::ProcessResult;
using testing::TempStore;

constexpr int kKilled = 128 + 9;

// What a file of the store holds for one UID.
struct Found {
  std::string id;
  std::string title;
};

// Every event of the store by UID, read as the store reads them; fails the test on a file that
// does not read, a UID in two files, or a temporary file where none may be.
std::map<std::string, Found> scan(const fs::path& root, bool afterSuccess) {
  std::map<std::string, Found> found;
  for (const CalendarPath& calendar : calendarPaths(root)) {
    const fs::path dir = root / calendar.source / calendar.calendar;
    for (const FolderEntry& entry : folderEntries(dir)) {
      if (afterSuccess) {
        EXPECT_FALSE(isTemporaryName(entry.name)) << "left behind: " << entry.name;
      }
    }
    for (const std::string& name : eventFileNames(dir)) {
      const auto series = readSeries(dir / name);
      if (!series) {
        ADD_FAILURE() << "unreadable: " << calendar.id() << "/" << name;
        continue;
      }
      const Found here{calendar.id() + "/" + name,
                       series->eventAt(*series->first()).title.value_or("")};
      const auto [at, added] = found.emplace(series->uid(), here);
      EXPECT_TRUE(added) << series->uid() << " in " << at->second.id << " and " << here.id;
    }
  }
  const Settings settings = loadSettings(root);
  EXPECT_EQ(settings.defaultCalendar, "local/calendar");
  if (afterSuccess) {
    EXPECT_FALSE(moveUnfinished(root));
  }
  return found;
}

class StoreCrashes : public ::testing::Test {
 protected:
  ProcessResult run(const std::vector<std::string>& args, std::chrono::milliseconds killAfter) {
    return testing::runProgram(TEMBRA_BINARY, args,
                               {{"TEMBRA_STORE", store.path().string()}, {"TZ", store.zone}}, "",
                               killAfter);
  }

  TempStore store;
  std::mt19937 random{20251209};
};

TEST_F(StoreCrashes, KilledWritesLeaveTheOldStateOrTheNew) {
  store.adminOk({"set-access", "fullAccess"});
  const std::string work = store.adminOk({"add-calendar", "--title", "Work"});
  const std::string calendars[] = {"local/calendar", work};
  const auto calendarOf = [](const Found& event) {
    return event.id.substr(0, event.id.rfind('/'));
  };
  int kills = 0;
  for (int step = 0; step < 300; ++step) {
    const auto found = scan(store.path(), false);
    std::vector<std::string> uids;
    for (const auto& [uid, event] : found)
      uids.push_back(uid);
    const int action = uids.size() < 4 ? 0 : static_cast<int>(random() % 4);
    const std::string uid = uids.empty() ? "" : uids[random() % uids.size()];
    const std::string title = "t" + std::to_string(step);
    std::string target;  // the calendar the event is in once the write is done
    std::vector<std::string> args;
    if (action == 0) {
      args = {"create", "--input",
              json{{"title", title}, {"start", "2025-03-01T09:00:00Z"}}.dump()};
    } else if (action == 3) {
      args = {"delete", "--id", found.at(uid).id};
    } else {
      target = calendarOf(found.at(uid));
      json input{{"id", found.at(uid).id}, {"title", title}};
      if (action == 2) {  // a move to the other calendar
        target = calendars[target == calendars[0] ? 1 : 0];
        input["calendarId"] = target;
      }
      args = {"update", "--input", input.dump()};
    }
    const bool kill = random() % 3 != 0;
    const ProcessResult result =
        run(args, kill ? std::chrono::milliseconds(random() % 60) : std::chrono::seconds(60));
    ASSERT_TRUE(result.status == 0 || result.status == kKilled) << result.out;
    const bool done = result.status == 0;
    kills += !done;
    // A move cut short is finished by the next run, whatever it does.
    if (!done) {
      ASSERT_EQ(run({"status"}, std::chrono::seconds(60)).status, 0);
    }

    // Every other event is as it was; the one written to is as it was or as it was to become.
    const auto after = scan(store.path(), done);
    for (const auto& [each, event] : found) {
      if (each == uid)
        continue;
      ASSERT_EQ(after.count(each), 1u) << "lost " << each;
      EXPECT_EQ(after.at(each).id, event.id);
      EXPECT_EQ(after.at(each).title, event.title);
    }
    if (action == 0) {
      EXPECT_EQ(after.size(), found.size() + (done ? 1 : after.size() > found.size()));
      for (const auto& [each, event] : after)
        EXPECT_TRUE(found.count(each) || event.title == title) << event.title;
      continue;
    }
    const Found& before = found.at(uid);
    const auto now = after.find(uid);
    if (action == 3) {
      if (now != after.end()) {
        EXPECT_FALSE(done) << "deleted, yet there";
        EXPECT_EQ(now->second.id, before.id);
      }
      continue;
    }
    ASSERT_NE(now, after.end()) << "lost " << uid;
    const bool changed = now->second.title == title && calendarOf(now->second) == target;
    const bool unchanged = now->second.title == before.title && now->second.id == before.id;
    EXPECT_TRUE(done ? changed : changed || unchanged)
        << before.id << " " << before.title << " became " << now->second.id << " "
        << now->second.title;
  }
  EXPECT_GT(kills, 100);

  // The index, built and updated through all of it, agrees with the files.
  const ProcessResult listed =
      run({"list", "--from", "2025-01-01T00:00:00Z", "--to", "2026-01-01T00:00:00Z"},
          std::chrono::seconds(60));
  ASSERT_EQ(listed.status, 0) << listed.out;
  std::set<std::string> ids;
  for (const json& event : json::parse(listed.out))
    ids.insert(event["id"].get<std::string>());
  std::set<std::string> onDisk;
  for (const auto& [uid, event] : scan(store.path(), false))
    onDisk.insert(event.id);
  EXPECT_EQ(ids, onDisk);
}

// An import killed at any moment leaves every file it had begun old or new, and the temporary files
// it had written are removed by the next writer; the next import brings in every event.
TEST_F(StoreCrashes, AKilledImportLeavesWholeFiles) {
  store.adminOk({"set-access", "fullAccess"});
  const fs::path ics = store.path() / "export.ics";
  constexpr std::size_t kEvents = 300;
  { std::ofstream(ics, std::ios::binary) << testing::generatedCalendarText(3, kEvents); }
  const auto import = [&](std::chrono::milliseconds limit) {
    return testing::runProgram(
        TEMBRA_STORE_BINARY,
        {"--store", store.path().string(), "import", "local/calendar", ics.string()},
        {{"TZ", store.zone}}, "", limit);
  };
  int kills = 0;
  for (int attempt = 0; attempt < 12; ++attempt) {
    const ProcessResult result = import(std::chrono::milliseconds(random() % 800));
    ASSERT_TRUE(result.status == 0 || result.status == kKilled) << result.err;
    kills += result.status == kKilled;
    const auto found = scan(store.path(), false);
    EXPECT_LE(found.size(), kEvents);
  }
  EXPECT_GT(kills, 3);

  ASSERT_EQ(import(std::chrono::seconds(60)).status, 0);
  EXPECT_EQ(scan(store.path(), true).size(), kEvents);
  const ProcessResult listed =
      run({"list", "--from", "2024-01-01T00:00:00Z", "--to", "2027-01-01T00:00:00Z"},
          std::chrono::seconds(60));
  ASSERT_EQ(listed.status, 0) << listed.out;
  std::set<std::string> ids;
  for (const json& event : json::parse(listed.out))
    ids.insert(event["id"].get<std::string>());
  EXPECT_EQ(ids.size(), kEvents);
}

// The first run creates the store; killed at any moment, the next run still finds the starter
// calendar as the default calendar for new events.
TEST_F(StoreCrashes, AKilledFirstRunLeavesAStoreWithItsDefaultCalendar) {
  int kills = 0;
  for (int attempt = 0; attempt < 60; ++attempt) {
    TempStore fresh;
    const auto runIn = [&](const std::vector<std::string>& args, std::chrono::milliseconds limit) {
      return testing::runProgram(TEMBRA_BINARY, args, {{"TEMBRA_STORE", fresh.path().string()}}, "",
                                 limit);
    };
    kills += runIn({"status"}, std::chrono::milliseconds(random() % 40)).status == kKilled;
    const ProcessResult created = runIn(
        {"create", "--input", R"({"start":"2025-03-01T09:00:00Z"})"}, std::chrono::seconds(60));
    ASSERT_EQ(created.status, 0) << created.out;
    EXPECT_EQ(json::parse(created.out)["calendarId"], "local/calendar");
    EXPECT_FALSE(isPresent(fresh.path() / kCreationFolder));
  }
  EXPECT_GT(kills, 20);
}

}  // namespace
}  // namespace tembra::local
