// The index gives what a full read of the files gives, whatever happened to the files or to it.
#include "access/local/index.h"

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>

#include <gtest/gtest.h>

#include "access/local/admin.h"
#include "access/local/checksum_vfs.h"
#include "access/local/event_files.h"
#include "access/local/files.h"
#include "access/local/import.h"
#include "access/local/local_store.h"
#include "support/black_box.h"
#include "support/store_generator.h"

namespace tembra::local {
namespace {

// Everything the store reports of an event, as one line.
std::string describe(const Event& event) {
  char times[160];
  std::snprintf(times, sizeof times, "%.3f-%.3f mod=%.3f occ=%.3f", event.startDate->seconds,
                event.endDate->seconds,
                event.lastModifiedDate ? event.lastModifiedDate->seconds : -1,
                event.occurrenceDate ? event.occurrenceDate->seconds : -1);
  std::string line = event.eventIdentifier.value_or("?");
  line += " cal=";
  line += event.calendar->calendarIdentifier;
  line += " [" + event.title.value_or("") + "|" + event.notes.value_or("") + "|" +
          event.location.value_or("") + "] ";
  line += times;
  if (event.isAllDay)
    line += " allday";
  if (event.hasRecurrenceRules)
    line += " repeats";
  if (event.isDetached)
    line += " detached";
  line += " uid=" + event.calendarItemExternalIdentifier.value_or("") + " alarms=";
  for (const Alarm& alarm : event.alarms) {
    line += alarm.absoluteDate ? 'a' : 'r';
    line += std::to_string(alarm.absoluteDate ? alarm.absoluteDate->seconds : alarm.relativeOffset);
    line += ',';
  }
  return line;
}

std::vector<std::string> describeAll(const std::vector<Event>& events) {
  std::vector<std::string> lines;
  for (const Event& event : events)
    lines.push_back(describe(event));
  return lines;
}

struct Window {
  const char* name;
  double from, to;
};

const Window kWindows[] = {
    {"week", 1717977600, 1718582400},            // 2024-06-10 .. 2024-06-17
    {"month", 1730419200, 1733011200},           // 2024-11
    {"year", 1735689600, 1767225600},            // 2025
    {"everything", 1e9, 1.9e9},                  // 2001 .. 2030
    {"beyond_horizon", 1893456000, 1896134400},  // 2030-01
    {"far_future", 3786912000, 3789590400},      // 2090-01
    {"empty", 1000000000, 1000000001},
};

class IndexTest : public ::testing::Test {
 protected:
  void SetUp() override { generated = testing::generateStore(folder.path(), 240, 7); }

  // Checks a fresh store handle (as a new run would use) against a full read of the files.
  void expectSameAsFiles(const std::string& when) {
    auto store = createLocalStore(folder.path());
    const std::vector<Calendar> calendars = store->calendars(EntityType::event).value();
    for (const Window& window : kWindows) {
      const Instant from{window.from}, to{window.to};
      const auto indexed = describeAll(
          store->eventsMatching(store->predicateForEvents(from, to, std::nullopt)).value());
      const auto read = describeAll(eventsInWindow(folder.path(), calendars, from, to));
      EXPECT_EQ(indexed, read) << when << ", window " << window.name;
      if (window.name == std::string("month")) {
        EXPECT_FALSE(read.empty());
      }
    }
    // One calendar only.
    const auto one = store
                         ->eventsMatching(store->predicateForEvents(
                             Instant{kWindows[2].from}, Instant{kWindows[2].to},
                             std::vector<Calendar>{calendars[1]}))
                         .value();
    EXPECT_EQ(describeAll(one),
              describeAll(eventsInWindow(folder.path(), {calendars[1]}, Instant{kWindows[2].from},
                                         Instant{kWindows[2].to})))
        << when;
    // Lookups of every file.
    for (const Calendar& calendar : calendars) {
      const auto path = *parseCalendarId(calendar.calendarIdentifier);
      for (const std::string& name : eventFileNames(folder.path() / calendar.calendarIdentifier)) {
        const std::string id = path.id() + "/" + name;
        const auto indexed = store->eventWithIdentifier(id).value();
        const auto series = readSeries(folder.path() / id);
        const auto first = series ? series->first() : std::nullopt;
        ASSERT_EQ(indexed.has_value(), first.has_value()) << when << " " << id;
        if (first) {
          EXPECT_EQ(describe(*indexed), describe(eventFrom(*series, *first, id, calendar))) << when;
        }
      }
    }
  }

  std::filesystem::path calendarDir(std::size_t index) const {
    return folder.path() / generated.calendarIds[index];
  }

  testing::TempStore folder;
  testing::GeneratedStore generated;
};

TEST_F(IndexTest, MatchesTheFilesAfterEveryKindOfChange) {
  expectSameAsFiles("first build");
  {
    // The answers above came from the index, not from a fallback to reading the files.
    sql::Database db(Index::fileFor(folder.path()));
    auto files = db.prepare("SELECT COUNT(*) FROM files WHERE readable = 1");
    ASSERT_TRUE(files.step());
    EXPECT_EQ(files.integer(0), static_cast<std::int64_t>(generated.events));
  }
  expectSameAsFiles("unchanged");

  // Through the store: create, update, remove one occurrence, delete.
  {
    auto store = createLocalStore(folder.path());
    Event created = store->newEvent();
    created.calendar = store->defaultCalendarForNewEvents().value();
    created.title = "new";
    created.startDate = Instant{1731000000};
    created.endDate = Instant{1731003600};
    ASSERT_FALSE(store->saveEvent(created, Span::thisEvent));
    auto month = store
                     ->eventsMatching(store->predicateForEvents(
                         Instant{kWindows[1].from}, Instant{kWindows[1].to}, std::nullopt))
                     .value();
    ASSERT_GE(month.size(), 3u);
    month[0].title = "changed";
    ASSERT_FALSE(store->saveEvent(month[0], Span::thisEvent));
    ASSERT_FALSE(store->removeEvent(month[1], Span::thisEvent));
    for (const Event& event : month) {
      if (event.hasRecurrenceRules && event.eventIdentifier != month[0].eventIdentifier &&
          event.eventIdentifier != month[1].eventIdentifier) {
        ASSERT_FALSE(store->removeEvent(event, Span::thisEvent));
        break;
      }
    }
  }
  expectSameAsFiles("after the store's own writes");

  // Another tool adds a file, removes one, and replaces one by renaming over it.
  std::ofstream(calendarDir(1) / "added-by-khal.ics") << testing::generatedEventText(99, 1);
  std::filesystem::remove(calendarDir(2) / "gen-2.ics");
  std::ofstream(calendarDir(0) / ".gen-0.ics.swp") << testing::generatedEventText(99, 2);
  std::filesystem::rename(calendarDir(0) / ".gen-0.ics.swp", calendarDir(0) / "gen-0.ics");
  expectSameAsFiles("after another tool's changes");

  Index::remove(folder.path());
  expectSameAsFiles("after the index was deleted");

  std::ofstream(Index::fileFor(folder.path()), std::ios::trunc) << std::string(8192, 'x');
  expectSameAsFiles("after the index was corrupted");
}

// An import left the index as it was, and the next list read every file it had written.
TEST_F(IndexTest, AnImportLeavesItHoldingEveryFileOfTheFolder) {
  expectSameAsFiles("first build");
  // Another tool's file, which the index has not seen when the import begins.
  std::ofstream(calendarDir(0) / "added-by-khal.ics") << testing::generatedEventText(99, 1);
  std::vector<std::string> ids;
  ASSERT_FALSE(importEvents(folder.path(), generated.calendarIds[0],
                            testing::generatedCalendarText(5, 40), ids));
  ASSERT_EQ(ids.size(), 40u);

  // The index as the import left it, not brought up to date: what the next run finds there.
  const std::vector<Calendar> calendars =
      createLocalStore(folder.path())->calendars(EntityType::event).value();
  std::map<std::string, Calendar> byId;
  for (const Calendar& calendar : calendars)
    byId.emplace(calendar.calendarIdentifier, calendar);
  const Window& everything = kWindows[3];
  Index index(folder.path());
  EXPECT_EQ(
      describeAll(index.window(byId, Instant{everything.from}, Instant{everything.to}).expanded()),
      describeAll(eventsInWindow(folder.path(), calendars, Instant{everything.from},
                                 Instant{everything.to})));
  expectSameAsFiles("after the import");
}

// Writes bytes into a file without replacing it, as `cat new > file` does, and sets the folder's
// time back: nothing but the file's own size and times tells.
void writeInPlace(const std::filesystem::path& file, const std::string& bytes) {
  const auto folderTime = std::filesystem::last_write_time(file.parent_path());
  std::ofstream(file, std::ios::trunc | std::ios::binary) << bytes;
  std::filesystem::last_write_time(file.parent_path(), folderTime);
}

// The file's text with its first SUMMARY replaced, and the length of the one it had.
std::string retitled(const std::filesystem::path& file, const std::string& title,
                     std::size_t* oldLength = nullptr) {
  std::string text = *readFile(file);
  const auto summary = text.find("SUMMARY:") + 8;
  const auto length = text.find("\r\n", summary) - summary;
  if (oldLength)
    *oldLength = length;
  text.replace(summary, length, title);
  return text;
}

// Changes another tool makes without telling the folder; each must show in the next run.
struct InPlaceChange {
  const char* name;
  std::function<void(const std::filesystem::path& dir)> change;
};

const InPlaceChange kInPlaceChanges[] = {
    {"retitled",
     [](const auto& dir) {
       writeInPlace(dir / "gen-3.ics", retitled(dir / "gen-3.ics", "Edited"));
     }},
    {"retitled_with_the_same_size_and_time",
     [](const auto& dir) {
       const auto file = dir / "gen-3.ics";
       const auto time = std::filesystem::last_write_time(file);
       std::size_t length = 0;
       retitled(file, "", &length);
       writeInPlace(file, retitled(file, std::string(length, 'Z')));
       std::filesystem::last_write_time(file, time);
     }},
    {"emptied", [](const auto& dir) { writeInPlace(dir / "gen-3.ics", ""); }},
    {"half_written_then_completed",
     [](const auto& dir) {
       // A new file caught half-written by a run, finished afterwards.
       const std::string text = testing::generatedEventText(99, 1);
       std::ofstream(dir / "late.ics", std::ios::binary) << text.substr(0, text.size() / 2);
       auto store = createLocalStore(dir.parent_path().parent_path());
       store->eventsMatching(store->predicateForEvents(Instant{1e9}, Instant{1.9e9}, std::nullopt))
           .value();
       writeInPlace(dir / "late.ics", text);
     }},
};

TEST_F(IndexTest, ChangesInPlaceShowInTheNextRun) {
  expectSameAsFiles("first build");
  for (const InPlaceChange& each : kInPlaceChanges) {
    each.change(calendarDir(0));
    expectSameAsFiles(each.name);
  }
}

TEST_F(IndexTest, AnEventMovedInPlaceIsFoundWhenTheCalendarIsCheckedAgain) {
  expectSameAsFiles("first build");
  // Moved in place far from where it was: no window it now falls in answers from its file
  // until every file of the calendar is looked at again, which a minute's wait brings about.
  const auto file = calendarDir(0) / "gen-3.ics";
  std::string text = *readFile(file);
  for (const char* property : {"DTSTART", "DTEND"}) {
    const auto at = text.find(std::string(property));
    if (at != std::string::npos)
      text.replace(text.find(':', at) + 1, 4, "2029");
  }
  writeInPlace(file, text);
  sql::Database(Index::fileFor(folder.path())).exec("UPDATE folders SET swept = 0");
  expectSameAsFiles("moved in place");
}

// A file replaced, or written in place, between the reading of its bytes and the taking of its
// version: what was read must not pass for the new version.
TEST_F(IndexTest, AFileChangedWhileItIsReadIsReadAgain) {
  const std::pair<const char*, bool> kWays[] = {{"replaced", true}, {"written in place", false}};
  for (const auto& [way, replace] : kWays) {
    Index::remove(folder.path());
    const auto dir = calendarDir(0);
    const std::string title = std::string("Changed while read, ") + way;
    bool changed = false;
    {
      Index index(folder.path());
      index.whileReading([&](const std::string& name) {
        if (name != "gen-3.ics" || changed)
          return;
        changed = true;
        const std::string text = retitled(dir / name, title);
        if (replace) {
          ASSERT_FALSE(writeFileAtomically(dir, name, text));
        } else {
          const auto time = std::filesystem::last_write_time(dir / name);
          writeInPlace(dir / name, text);
          std::filesystem::last_write_time(dir / name, time);
        }
      });
      index.refresh(calendarPaths(folder.path()));
    }
    ASSERT_TRUE(changed) << way;
    expectSameAsFiles(way);
    const auto event = createLocalStore(folder.path())
                           ->eventWithIdentifier(generated.calendarIds[0] + "/gen-3.ics")
                           .value();
    ASSERT_TRUE(event);
    EXPECT_EQ(event->title, title);
  }
}

TEST_F(IndexTest, ATimeZoneChangeRebuildsTheIndex) {
  { Index index(folder.path()); }
  sql::Database db(Index::fileFor(folder.path()));
  db.exec("UPDATE meta SET value = 'Mars/Olympus' WHERE key = 'zone'");
  db.exec(
      "INSERT INTO folders(calendar, modified, checked, swept) VALUES ('stale/folder', 1, 1, 1)");
  Index reopened(folder.path());
  auto rows = db.prepare("SELECT COUNT(*) FROM folders");
  ASSERT_TRUE(rows.step());
  EXPECT_EQ(rows.integer(0), 0);
}

// Runs in two zones at once over one store each keep their own answers: all-day and floating
// events fall at other instants in each, and neither zone's run may leave the other's answers.
TEST(IndexZones, RunsInTwoZonesAtOnceKeepTheirOwnAnswers) {
  testing::TempStore store;
  testing::generateStore(store.path(), 150, 11);
  store.adminOk({"set-access", "fullAccess"});
  const std::vector<std::string> list{"list", "--from", "2024-01-01T00:00:00Z", "--to",
                                      "2025-01-01T00:00:00Z"};
  const char* const kZones[] = {"UTC", "Asia/Shanghai"};
  std::map<std::string, std::string> expected;
  for (const char* zone : kZones) {
    store.zone = zone;
    expected[zone] = store.tembra(list).out;
    Index::remove(store.path());  // each answer from the files alone
  }
  ASSERT_NE(expected["UTC"], expected["Asia/Shanghai"]);

  std::vector<pid_t> children;
  for (const char* zone : kZones) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      store.zone = zone;
      int wrong = 0;
      for (int run = 0; run < 12; ++run)
        wrong += store.tembra(list).out != expected[zone];
      ::_exit(wrong);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wrong answers: " << status;
  }
  for (const char* zone : kZones) {
    store.zone = zone;
    EXPECT_EQ(store.tembra(list).out, expected[zone]) << "afterwards, in " << zone;
  }
}

// Changes a few bytes of a file at random places, the same for the same seed.
void damage(const std::filesystem::path& file, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  const auto size = std::filesystem::file_size(file);
  std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
  for (int changed = 0; changed < 4; ++changed) {
    const auto at = static_cast<std::streamoff>(random() % size);
    char byte = 0;
    stream.seekg(at);
    stream.get(byte);
    stream.seekp(at);
    stream.put(static_cast<char>(byte ^ static_cast<char>(1 + random() % 255)));
  }
}

class IndexDamage : public ::testing::Test {
 protected:
  void SetUp() override {
    generated = testing::generateStore(folder.path(), 80, 5);
    expected = describeAll(eventsInWindow(
        folder.path(), createLocalStore(folder.path())->calendars(EntityType::event).value(), from,
        to));
    ASSERT_GT(expected.size(), generated.events);
    ASSERT_EQ(list(), expected);
  }

  // A wide window, as a new run lists it.
  std::vector<std::string> list() const {
    auto store = createLocalStore(folder.path());
    return describeAll(
        store->eventsMatching(store->predicateForEvents(from, to, std::nullopt)).value());
  }

  testing::TempStore folder;
  testing::GeneratedStore generated;
  const std::filesystem::path index = Index::fileFor(folder.path());
  // Within what the index holds of series without end, so that the index answers alone.
  const Instant from{1.7e9}, to{1.8e9};
  std::vector<std::string> expected;
};

// A fault found by hand: with bytes of the index changed, lists came back short, or with texts
// that were not UTF-8, until a reindex. Bytes are changed in the index file, and in its WAL while
// another connection holds it open with transactions of its own there. The run after either lists
// what the files hold, and so does the run after it, from an index that is whole or whose damage
// lies where no list reads, and is noticed when read.
TEST_F(IndexDamage, ChangedBytesNeverShortenAList) {
  const std::string built = *readFile(index);
  for (const char* damaged : {"", "-wal"}) {
    for (std::uint64_t seed = 0; seed < 10; ++seed) {
      const std::string when = std::string("damaged") + damaged + ", seed " + std::to_string(seed);
      Index::remove(folder.path());
      std::ofstream(index, std::ios::binary) << built;
      std::optional<sql::Database> holder;
      if (*damaged) {
        holder.emplace(index);
        // Two transactions that leave what they change as it was.
        for (int twice = 0; twice < 2; ++twice)
          holder->exec("UPDATE occurrences SET detached = 1 - detached");
      }
      damage(index.string() + damaged, seed);
      EXPECT_EQ(list(), expected) << when;
      holder.reset();
      EXPECT_EQ(list(), expected) << when << ", the run after";
      try {
        sql::Database db(index);
        auto files = db.prepare("SELECT COUNT(*) FROM files WHERE readable = 1");
        ASSERT_TRUE(files.step());
        EXPECT_EQ(files.integer(0), static_cast<std::int64_t>(generated.events)) << when;
      } catch (const sql::IndexFailure& failure) {
        EXPECT_TRUE(failure.damaged()) << when << ": " << failure.what();
      }
    }
  }
}

// An index of an earlier version, whose pages hold no checksums, is built again: here one that
// says it is up to date and holds no event.
TEST_F(IndexDamage, AnIndexWithoutChecksumsIsBuiltAgain) {
  const std::filesystem::path earlier = folder.path() / "earlier.sqlite";
  {
    sqlite3* opened = nullptr;
    ASSERT_EQ(sqlite3_open(earlier.c_str(), &opened), SQLITE_OK);
    const std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(opened, sqlite3_close);
    // SQLite's own VFS reads the index past its checksums, and makes pages that reserve none.
    const std::string copy = "ATTACH '" + index.string() +
                             "' AS built; CREATE TABLE meta AS SELECT * FROM built.meta;"
                             "CREATE TABLE folders AS SELECT * FROM built.folders";
    ASSERT_EQ(sqlite3_exec(db.get(), copy.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  }
  Index::remove(folder.path());
  std::filesystem::rename(earlier, index);
  EXPECT_EQ(list(), expected);
  // Built again, with room for the checksums (the header's reserved bytes, at offset 20).
  EXPECT_EQ(readFile(index)->at(20), sql::kChecksumBytes);
}

// Occurrences whose texts are gone cannot be listed: the index is damaged and built again.
TEST_F(IndexDamage, OccurrencesWithoutTheirComponentAreNoticed) {
  sql::Database(index).exec("DELETE FROM components");
  EXPECT_EQ(list(), expected);
  EXPECT_EQ(list(), expected);
  sql::Database db(index);
  auto components = db.prepare("SELECT COUNT(*) FROM components");
  ASSERT_TRUE(components.step());
  EXPECT_GT(components.integer(0), 0);
}

}  // namespace
}  // namespace tembra::local
