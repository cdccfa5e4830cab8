// default-calendar in process over the fake store.
#include <gtest/gtest.h>

#include "support/in_process.h"

namespace tembra {
namespace {

using testing::fakeCalendar;
using testing::FakeStore;
using testing::Outcome;
using testing::runCommand;

TEST(DefaultCalendar, ReportsTheDefaultWhateverItsWritability) {
  for (const bool writable : {true, false}) {
    FakeStore store;
    store.data().calendars = {fakeCalendar("a", "Work"), fakeCalendar("b", "假日", writable)};
    store.data().defaultCalendarId = "b";
    const Outcome outcome = runCommand(store, {"default-calendar", "--title", "Work"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, std::string("{\"allowsContentModifications\":") +
                               (writable ? "true" : "false") +
                               ",\"color\":\"#FF8000\",\"id\":\"b\",\"isDefault\":true,"
                               "\"matched\":true,\"source\":\"iCloud\",\"title\":\"假日\"}\n");
  }
}

TEST(DefaultCalendar, FailsWithStatusThreeWithoutADefault) {
  FakeStore store;
  store.data().calendars = {fakeCalendar("a", "Work")};
  const Outcome outcome = runCommand(store, {"default-calendar"});
  EXPECT_EQ(outcome.status, 3);
  EXPECT_EQ(outcome.out,
            "{\"error\":\"系统没有可用的默认日历，请先在「日历」应用中创建一个可写日历。\"}\n");
}

}  // namespace
}  // namespace tembra
