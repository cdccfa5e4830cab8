// Regression tests for faults of the local store found by running it as users and other tools do:
// writers that died at the wrong moment, a folder that cannot be flushed, alarms read in the wrong
// zone, and values a file cannot hold.
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <fstream>

#include <gtest/gtest.h>

#include "access/local/admin.h"
#include "access/local/event_files.h"
#include "access/local/files.h"
#include "access/local/import.h"
#include "access/local/journal.h"
#include "access/local/local_store.h"
#include "access/local/settings.h"
#include "cli/entry/entry.h"
#include "records/dates.h"
#include "support/black_box.h"
#include "support/formatters.h"
#include "support/in_process.h"

namespace {

// Set by a test to make every fsync of a folder fail as a disk with I/O errors would.
std::atomic<bool> failFolderFlush{false};

// Paths that hold this variable's text fail to open, as on a disk with I/O errors
// (support/preload/failing_reads.cpp, linked into this program).
constexpr const char* kFailingReads = "TEMBRA_FAILING_READS";

}  // namespace

// Takes the place of the C library's fsync in this test program.
extern "C" int fsync(int fd) {
  struct stat info;
  if (failFolderFlush && ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    errno = EIO;
    return -1;
  }
  return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace tembra::local {
namespace {

namespace fs = std::filesystem;
using tembra::testing::TempStore;

Instant at(const char* text) {
  return *parseDate(kFormatters, text);
}

std::string localText(const char* wall) {
  std::tm time{};
  ::strptime(wall, "%Y-%m-%dT%H:%M:%S", &time);
  time.tm_isdst = -1;
  return formatDate(kFormatters, Instant{static_cast<double>(std::mktime(&time))});
}

void write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string fixture(const std::string& name) {
  return *readFile(fs::path(TEMBRA_SOURCE_DIR) / "tests/access/local/data" / name);
}

class StoreFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(createStoreIfAbsent(root(), false));
    ASSERT_FALSE(setAuthorization(root(), 3));
    ASSERT_FALSE(addCalendar(root(), NewCalendar{"Work", "Acme", std::nullopt, false}, work));
  }
  void TearDown() override {
    failFolderFlush = false;
    ::unsetenv(kFailingReads);
  }

  const fs::path& root() const { return folder.path(); }

  // An event saved in the default calendar through a store of its own.
  Event saved(const char* title, std::vector<Alarm> alarms = {}) {
    auto store = createLocalStore(root());
    Event event = store->newEvent();
    event.calendar = store->defaultCalendarForNewEvents().value();
    event.title = title;
    event.startDate = at("2024-05-01T09:00:00Z");
    event.endDate = at("2024-05-01T10:00:00Z");
    event.alarms = std::move(alarms);
    EXPECT_FALSE(store->saveEvent(event, Span::thisEvent));
    return event;
  }

  std::vector<Event> listed() {
    auto store = createLocalStore(root());
    return store
        ->eventsMatching(store->predicateForEvents(at("2024-01-01T00:00:00Z"),
                                                   at("2025-01-01T00:00:00Z"), std::nullopt))
        .value();
  }

  TempStore folder;
  std::string work;
};

// A kill between writing a move's new file and removing its old one left the event in both
// calendars; the journal lets the next run finish the move, or drop one that never began.
TEST_F(StoreFaults, AnInterruptedMoveIsFinishedByTheNextRun) {
  const Event event = saved("moving");
  const std::string from = *event.eventIdentifier;
  const std::string to = work + "/" + fs::path(from).filename().string();
  ASSERT_FALSE(beginMove(root(), Move{from, to, std::nullopt}));
  fs::copy_file(root() / from, root() / to);  // the new file was written, then the writer died

  const std::vector<Event> events = listed();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].eventIdentifier, to);
  EXPECT_FALSE(isPresent(root() / from));
  EXPECT_FALSE(moveUnfinished(root()));

  // A move that died before its new file was written changed nothing.
  ASSERT_FALSE(beginMove(root(), Move{to, "local/calendar/elsewhere.ics", std::nullopt}));
  ASSERT_EQ(listed().size(), 1u);
  EXPECT_TRUE(isPresent(root() / to));
  EXPECT_FALSE(moveUnfinished(root()));
}

TEST_F(StoreFaults, AnInterruptedSplitOfOneOccurrenceIsFinished) {
  std::vector<std::string> ids;
  ASSERT_FALSE(importEvents(root(), "local/calendar", fixture("weekly_berlin.ics"), ids));
  const Instant second = at("2024-03-20T08:00:00Z");
  const std::string to = work + "/split.ics";
  ASSERT_FALSE(beginMove(root(), Move{ids.at(0), to, second}));
  // The occurrence's own event was written in the new calendar, then the writer died.
  write(root() / to,
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:x\r\nBEGIN:VEVENT\r\nUID:split\r\n"
        "DTSTAMP:20240301T000000Z\r\nDTSTART:20240320T080000Z\r\nDTEND:20240320T090000Z\r\n"
        "END:VEVENT\r\nEND:VCALENDAR\r\n");

  std::vector<std::string> starts;
  for (const Event& event : listed()) {
    if (*event.startDate == second)
      starts.push_back(*event.eventIdentifier);
  }
  EXPECT_EQ(starts, std::vector<std::string>{to});
  EXPECT_FALSE(moveUnfinished(root()));
}

// A kill left a temporary copy of the event beside it that nothing ever removed.
TEST_F(StoreFaults, DeadWritersTemporaryFilesGoAtTheNextWrite) {
  const fs::path calendarDir = root() / "local/calendar";
  const std::vector<fs::path> stale = {calendarDir / ".A.ics.tmp-123-456",
                                       root() / work / ".B.ics.tmp-9-1",
                                       root() / ".settings.json.tmp-77-8"};
  for (const fs::path& path : stale)
    write(path, "left by a writer that was killed");
  write(calendarDir / ".keep", "not ours");

  saved("next write");
  for (const fs::path& path : stale)
    EXPECT_FALSE(isPresent(path)) << path;
  EXPECT_TRUE(isPresent(calendarDir / ".keep"));
}

// The first run was killed after it made the starter calendar and before it wrote the settings:
// the next run took the folder for a store without a default calendar, for good.
TEST_F(StoreFaults, AnInterruptedCreationIsFinishedOrMadeAgain) {
  for (const char* left : {"everything", "settings only", "calendar only"}) {
    SCOPED_TRACE(left);
    TempStore fresh;
    fs::create_directories(fresh.path() / ".creating");
    const std::string kind = left;
    if (kind != "settings only")
      fs::copy(root() / "local", fresh.path() / ".creating/local", fs::copy_options::recursive);
    if (kind != "calendar only")
      fs::copy_file(root() / kSettingsFileName, fresh.path() / ".creating" / kSettingsFileName);
    if (kind == "settings only")  // the calendar had been moved into place already
      fs::copy(root() / "local", fresh.path() / "local", fs::copy_options::recursive);

    auto store = createLocalStore(fresh.path());
    const auto calendar = store->defaultCalendarForNewEvents().value();
    ASSERT_TRUE(calendar);
    EXPECT_EQ(calendar->calendarIdentifier, "local/calendar");
    EXPECT_EQ(calendar->title, "日历");
    EXPECT_FALSE(isPresent(fresh.path() / ".creating"));
  }
}

// With the folder's fsync failing, update said it had saved.
TEST_F(StoreFaults, AWriteThatCannotBeMadeDurableIsRefused) {
  const Event event = saved("durable");
  failFolderFlush = true;
  testing::CapturedOutput output;
  int status;
  try {
    status = runTembra({"tembra", "update", "--input",
                        R"({"id":")" + *event.eventIdentifier + R"(","title":"lost"})"},
                       output, [&] { return createLocalStore(root()); });
  } catch (const testing::Ended& ended) {
    status = ended.status;
  }
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(
      output.text.starts_with("{\"error\":\"更新事件失败: 无法写入本地日历库: cannot flush"))
      << output.text;
}

// Absolute triggers were written without their UTC designator, so every zone but UTC read them
// hours off; one another tool writes in floating time is read in the local zone, and one of a day
// alone (which was read as no alarm offset from the start) at the first moment of that day there.
TEST_F(StoreFaults, AbsoluteAlarmsAreWrittenInUtc) {
  const Event event = saved("alarm", {Alarm::withAbsoluteDate(at("2024-05-01T08:00:00Z"))});
  EXPECT_NE(readFile(root() / *event.eventIdentifier)
                ->find("TRIGGER;VALUE=DATE-TIME:20240501T080000Z\r\n"),
            std::string::npos);
  EXPECT_EQ(listed().at(0).alarms, event.alarms);

  std::vector<std::string> ids;
  ASSERT_FALSE(importEvents(
      root(), work,
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:x\r\nBEGIN:VEVENT\r\nUID:floating-alarm\r\n"
      "DTSTAMP:20240301T000000Z\r\nDTSTART:20240501T090000Z\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\n"
      "DESCRIPTION:x\r\nTRIGGER;VALUE=DATE-TIME:20240501T080000\r\nEND:VALARM\r\nEND:VEVENT\r\n"
      "BEGIN:VEVENT\r\nUID:day-alarm\r\nDTSTAMP:20240301T000000Z\r\nDTSTART:20240501T090000Z\r\n"
      "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:x\r\nTRIGGER;VALUE=DATE-TIME:20240501\r\n"
      "END:VALARM\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
      ids));
  ASSERT_EQ(ids.size(), 2u);
  for (const auto& [id, local] :
       {std::pair{ids[0], "2024-05-01T08:00:00"}, std::pair{ids[1], "2024-05-01T00:00:00"}}) {
    const auto read = createLocalStore(root())->eventWithIdentifier(id).value();
    ASSERT_EQ(read->alarms.size(), 1u);
    ASSERT_TRUE(read->alarms[0].absoluteDate);
    EXPECT_EQ(formatDate(kFormatters, *read->alarms[0].absoluteDate), localText(local));
  }
}

// Values a file cannot hold were saved as text no reader accepts, or clamped; the store refuses
// them and writes nothing.
TEST_F(StoreFaults, ValuesAFileCannotHoldAreRefused) {
  struct Case {
    const char* name;
    const char* start;
    bool allDay;
    Alarm alarm;
  };
  const Case cases[] = {
      {"alarm_after_9999", "2025-01-01T00:00:00Z", false,
       Alarm::withAbsoluteDate(at("+10000-01-01T00:00:00Z"))},
      {"alarm_before_0000", "2025-01-01T00:00:00Z", false,
       Alarm::withAbsoluteDate(at("-0001-06-01T00:00:00Z"))},
      {"offset_beyond_an_int", "2025-01-01T00:00:00Z", false, Alarm::withRelativeOffset(3e9)},
      {"end_in_10000", "9999-12-31T23:30:00Z", false, Alarm::withRelativeOffset(0)},
      {"all_day_on_the_last_day", "9999-12-31T12:00:00Z", true, Alarm::withRelativeOffset(0)},
  };
  auto store = createLocalStore(root());
  for (const Case& each : cases) {
    SCOPED_TRACE(each.name);
    Event event = store->newEvent();
    event.calendar = store->defaultCalendarForNewEvents().value();
    event.startDate = at(each.start);
    event.endDate = *event.startDate + 3600.0;
    event.isAllDay = each.allDay;
    event.alarms = {each.alarm};
    EXPECT_FALSE(store->canKeep(event));
    EXPECT_TRUE(store->saveEvent(event, Span::thisEvent));
  }
  EXPECT_EQ(eventFileNames(root() / "local/calendar").size(), 0u);
}

// A folder or file the disk could not read answered as if it were not there: list and calendars
// said [], get and update "not found", delete "already gone". What tembra does not know it says.
TEST_F(StoreFaults, WhatTheDiskCannotReadIsAFailureNotNothing) {
  const std::string id = *saved("unread").eventIdentifier;
  const std::string file = fs::path(id).filename().string();
  const std::string calendar = (root() / fs::path(id).parent_path()).string();
  const struct {
    const char* name;
    const char* failing;  // the text of the paths that cannot be opened
    std::vector<std::string> words;
    std::string out;  // how the output begins
  } rows[] = {
      {"list_of_an_unreadable_calendar",
       calendar.c_str(),
       {"list", "--from", "2024-05-01T00:00:00Z", "--to", "2024-05-02T00:00:00Z"},
       "{\"error\":\"读取日历失败: 无法读取本地日历库: "},
      {"list_of_an_unreadable_file",
       file.c_str(),
       {"list", "--from", "2024-05-01T00:00:00Z", "--to", "2024-05-02T00:00:00Z"},
       "{\"error\":\"读取日历失败: 无法读取本地日历库: "},
      {"calendars",
       calendar.c_str(),
       {"calendars"},
       "{\"error\":\"读取日历失败: 无法读取本地日历库: "},
      {"get", file.c_str(), {"get", "--id", id}, "{\"error\":\"读取日历失败: 无法读取本地日历库: "},
      {"update",
       file.c_str(),
       {"update", "--input", R"({"id":")" + id + R"(","title":"x"})"},
       "{\"error\":\"更新事件失败: 无法读取本地日历库: "},
      {"delete",
       file.c_str(),
       {"delete", "--id", id},
       "{\"error\":\"删除事件失败: 无法读取本地日历库: "},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> words{"tembra"};
    words.insert(words.end(), row.words.begin(), row.words.end());
    const auto outcome = testing::capture([&](testing::CapturedOutput& output) {
      ::setenv(kFailingReads, row.failing, 1);
      const int status = runTembra(words, output, [&] { return createLocalStore(root()); });
      ::unsetenv(kFailingReads);
      if (status != 0)
        throw testing::Ended{status};
    });
    ::unsetenv(kFailingReads);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(outcome.out.starts_with(row.out)) << outcome.out;
    EXPECT_NE(outcome.out.find("Input\\/output error"), std::string::npos) << outcome.out;
  }
  // Nothing was lost meanwhile, and a file that is no iCalendar is still only skipped.
  write(root() / fs::path(id).parent_path() / "broken.ics", "not iCalendar");
  ASSERT_EQ(listed().size(), 1u);
  EXPECT_EQ(listed()[0].title, "unread");
}

}  // namespace
}  // namespace tembra::local
