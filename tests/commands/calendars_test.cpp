// calendars in process over the fake store, and the access check all calendar commands share.
#include <gtest/gtest.h>

#include "records/calendar_record.h"
#include "support/in_process.h"

namespace tembra {
namespace {

using Json = nlohmann::json;
using testing::fakeCalendar;
using testing::FakeStore;
using testing::Outcome;
using testing::runCommand;

TEST(Calendars, ListsWritableCalendarsInStoreOrder) {
  FakeStore store;
  auto& calendars = store.data().calendars;
  calendars = {fakeCalendar("c", "C"), fakeCalendar("b", "B", false), fakeCalendar("a", "A"),
               fakeCalendar("a2", "A"), fakeCalendar("r", "R", false)};
  const Outcome outcome = runCommand(store, {"calendars"});
  EXPECT_EQ(outcome.status, 0);
  // Not sorted by identifier or title, read-only ones left out, equal titles both kept.
  const Json expected = {calendarJSON(calendars[0]), calendarJSON(calendars[2]),
                         calendarJSON(calendars[3])};
  EXPECT_EQ(Json::parse(outcome.out), expected);
}

TEST(Calendars, GivesAnEmptyArrayWithoutWritableCalendars) {
  FakeStore empty;
  FakeStore readOnly;
  readOnly.data().calendars = {fakeCalendar("b", "Birthdays", false)};
  readOnly.data().defaultCalendarId = "b";
  for (const FakeStore& store : {empty, readOnly}) {
    const Outcome outcome = runCommand(store, {"calendars"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "[]\n");
  }
}

TEST(Calendars, WritesEmptyTextForMissingSourceAndColourIgnoringExtraArguments) {
  FakeStore store;
  Calendar calendar = fakeCalendar("home/1", "Work");
  calendar.source.reset();
  calendar.color = std::vector<double>{0.5, 1};
  store.data().calendars = {calendar};
  const Outcome outcome = runCommand(store, {"calendars", "--title", "x"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out,
            "[{\"allowsContentModifications\":true,\"color\":\"\",\"id\":\"home\\/1\","
            "\"source\":\"\",\"title\":\"Work\"}]\n");
}

TEST(CalendarCommands, ReadNothingWhenAccessIsRefused) {
  for (const char* word : {"calendars", "default-calendar", "resolve-calendar"}) {
    FakeStore store;
    store.data().authorization = 2;
    store.data().calendars = {fakeCalendar("c", "Work")};
    store.data().defaultCalendarId = "c";
    const Outcome outcome = runCommand(store, {word, "--title", "Work"});
    EXPECT_EQ(outcome.status, 2) << word;
    EXPECT_TRUE(Json::parse(outcome.out).contains("error")) << word;
    EXPECT_EQ(store.data().storeReads, 0) << word;
  }
}

}  // namespace
}  // namespace tembra
