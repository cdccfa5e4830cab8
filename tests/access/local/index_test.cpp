// The index gives what a full read of the files gives, whatever happened to the files or to it.
#include "access/local/index.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "access/local/admin.h"
#include "access/local/event_files.h"
#include "access/local/files.h"
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
    const std::vector<Calendar> calendars = store->calendars(EntityType::event);
    for (const Window& window : kWindows) {
      const Instant from{window.from}, to{window.to};
      const auto indexed =
          describeAll(store->eventsMatching(store->predicateForEvents(from, to, std::nullopt)));
      const auto read = describeAll(eventsInWindow(folder.path(), calendars, from, to));
      EXPECT_EQ(indexed, read) << when << ", window " << window.name;
      if (window.name == std::string("month")) {
        EXPECT_FALSE(read.empty());
      }
    }
    // One calendar only.
    const auto one = store->eventsMatching(store->predicateForEvents(
        Instant{kWindows[2].from}, Instant{kWindows[2].to}, std::vector<Calendar>{calendars[1]}));
    EXPECT_EQ(describeAll(one),
              describeAll(eventsInWindow(folder.path(), {calendars[1]}, Instant{kWindows[2].from},
                                         Instant{kWindows[2].to})))
        << when;
    // Lookups of every file.
    for (const Calendar& calendar : calendars) {
      const auto path = *parseCalendarId(calendar.calendarIdentifier);
      for (const std::string& name : eventFileNames(folder.path() / calendar.calendarIdentifier)) {
        const std::string id = path.id() + "/" + name;
        const auto indexed = store->eventWithIdentifier(id);
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
    sql::Database db(folder.path() / kIndexFileName);
    auto files = db.prepare("SELECT COUNT(*) FROM files WHERE readable = 1");
    ASSERT_TRUE(files.step());
    EXPECT_EQ(files.integer(0), static_cast<std::int64_t>(generated.events));
  }
  expectSameAsFiles("unchanged");

  // Through the store: create, update, remove one occurrence, delete.
  {
    auto store = createLocalStore(folder.path());
    Event created = store->newEvent();
    created.calendar = store->defaultCalendarForNewEvents();
    created.title = "new";
    created.startDate = Instant{1731000000};
    created.endDate = Instant{1731003600};
    ASSERT_FALSE(store->saveEvent(created, Span::thisEvent));
    auto month = store->eventsMatching(store->predicateForEvents(
        Instant{kWindows[1].from}, Instant{kWindows[1].to}, std::nullopt));
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

  std::ofstream(folder.path() / kIndexFileName, std::ios::trunc) << std::string(8192, 'x');
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
      createLocalStore(folder.path())->calendars(EntityType::event);
  std::map<std::string, Calendar> byId;
  for (const Calendar& calendar : calendars)
    byId.emplace(calendar.calendarIdentifier, calendar);
  const Window& everything = kWindows[3];
  Index index(folder.path());
  EXPECT_EQ(describeAll(index.window(byId, Instant{everything.from}, Instant{everything.to})),
            describeAll(eventsInWindow(folder.path(), calendars, Instant{everything.from},
                                       Instant{everything.to})));
  expectSameAsFiles("after the import");
}

TEST_F(IndexTest, AnInPlaceEditIsSeenAfterAReindex) {
  expectSameAsFiles("first build");
  // An editor that rewrites a file in place, and leaves the folder's time as it was: the index
  // cannot tell, as documented, until it is rebuilt.
  const std::filesystem::path file = calendarDir(0) / "gen-3.ics";
  const auto folderTime = std::filesystem::last_write_time(calendarDir(0));
  std::string edited = *readFile(file);
  const auto summary = edited.find("SUMMARY:");
  ASSERT_NE(summary, std::string::npos);
  edited.insert(summary + 8, "Edited ");
  std::ofstream(file, std::ios::trunc) << edited;
  std::filesystem::last_write_time(calendarDir(0), folderTime);
  const auto titles = [&] {
    auto store = createLocalStore(folder.path());
    std::set<std::string> found;
    for (const Event& event : store->eventsMatching(
             // Within what the index holds of series without end, so that no file is read.
             store->predicateForEvents(Instant{1.7e9}, Instant{1.8e9}, std::nullopt))) {
      found.insert(event.title.value_or(""));
    }
    return found;
  };
  const std::optional<Series> series = readSeries(file);
  ASSERT_TRUE(series);
  const std::string title = *series->eventAt(*series->first()).title;
  EXPECT_EQ(titles().count(title), 0u);
  ASSERT_FALSE(rebuildIndex(folder.path()));
  EXPECT_EQ(titles().count(title), 1u);
  expectSameAsFiles("after reindex");
}

TEST_F(IndexTest, ATimeZoneChangeRebuildsTheIndex) {
  { Index index(folder.path()); }
  sql::Database db(folder.path() / kIndexFileName);
  db.exec("UPDATE meta SET value = 'Mars/Olympus' WHERE key = 'zone'");
  db.exec("INSERT INTO folders(calendar, modified) VALUES ('stale/folder', 1)");
  Index reopened(folder.path());
  auto rows = db.prepare("SELECT COUNT(*) FROM folders");
  ASSERT_TRUE(rows.step());
  EXPECT_EQ(rows.integer(0), 0);
}

}  // namespace
}  // namespace tembra::local
