// The list command over the fake store: the window checks in order, the calendar filter, and the
// events kept.
#include "commands/list.h"

#include <gtest/gtest.h>

#include "access/authorization.h"
#include "cli/messages.h"
#include "support/event_fixtures.h"
#include "support/in_process.h"

namespace tembra {
namespace {

using testing::eventStore;
using testing::FakeStore;
using testing::kNineThirty;
using testing::runCommand;
using testing::storedEvent;

const std::string kWindowError = "{\"error\":\"list 需要 --from 和 --to（ISO8601）\"}\n";
const std::string kOrderError = "{\"error\":\"--to 必须晚于 --from\"}\n";

constexpr const char* kFrom = "2024-05-01T00:00:00Z";
constexpr const char* kTo = "2024-05-02T00:00:00Z";

TEST(List, AccessIsCheckedBeforeAnyOption) {
  FakeStore store = eventStore();
  store.data().authorization = 2;
  const auto outcome = runCommand(store, {"list"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.out, "{\"error\":\"" + accessDeniedMessage("denied") + "\"}\n");
  EXPECT_EQ(store.data().storeReads, 0);
}

struct WindowCase {
  const char* name;
  std::vector<std::string> words;
  const std::string& expected;
};

class ListWindowTest : public ::testing::TestWithParam<WindowCase> {};

TEST_P(ListWindowTest, RefusesBeforeReadingTheStore) {
  FakeStore store = eventStore();
  std::vector<std::string> words = {"list"};
  words.insert(words.end(), GetParam().words.begin(), GetParam().words.end());
  const auto outcome = runCommand(store, words);
  EXPECT_EQ(outcome.status, 64);
  EXPECT_EQ(outcome.out, GetParam().expected);
  // The calendar named last is never looked up: the window checks come first.
  EXPECT_EQ(store.data().storeReads, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, ListWindowTest,
    ::testing::Values(
        WindowCase{"no_options", {}, kWindowError},
        WindowCase{"from_missing", {"--to", kTo, "--calendar", "nope"}, kWindowError},
        WindowCase{"to_missing", {"--from", kFrom, "--calendar", "nope"}, kWindowError},
        WindowCase{"to_is_last", {"--from", kFrom, "--to"}, kWindowError},
        WindowCase{"from_is_last", {"--to", kTo, "--from"}, kWindowError},
        WindowCase{"from_not_date_text", {"--from", "2024-05-01", "--to", kTo}, kWindowError},
        WindowCase{"to_not_date_text", {"--from", kFrom, "--to", "tomorrow"}, kWindowError},
        WindowCase{
            "to_without_zone", {"--from", kFrom, "--to", "2024-05-02T00:00:00"}, kWindowError},
        WindowCase{"from_invalid_utf8", {"--from", "\xFF", "--to", kTo}, kWindowError},
        WindowCase{
            "to_equals_from", {"--from", kFrom, "--to", kFrom, "--calendar", "nope"}, kOrderError},
        WindowCase{"to_equals_from_other_form",
                   {"--from", kFrom, "--to", "2024-05-01T08:00:00.000+08:00"},
                   kOrderError},
        WindowCase{"to_before_from", {"--from", kTo, "--to", kFrom}, kOrderError}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(List, AcceptsAWindowOfOneMillisecond) {
  FakeStore store = eventStore();
  const auto outcome =
      runCommand(store, {"list", "--from", kFrom, "--to", "2024-05-01T00:00:00.001Z"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "[]\n");
}

TEST(List, UnknownCalendarIsReportedWithItsIdentifier) {
  FakeStore store = eventStore();
  auto outcome = runCommand(store, {"list", "--from", kFrom, "--to", kTo, "--calendar", "nope"});
  EXPECT_EQ(outcome.status, 5);
  EXPECT_EQ(outcome.out, "{\"error\":\"日历不存在或已删除: nope\"}\n");

  // An identifier that is not UTF-8 is still named, its stray bytes shown as U+FFFD.
  outcome = runCommand(store, {"list", "--from", kFrom, "--to", kTo, "--calendar", "c\xFF/1"});
  EXPECT_EQ(outcome.status, 5);
  EXPECT_EQ(outcome.out, "{\"error\":\"日历不存在或已删除: c\xEF\xBF\xBD\\/1\"}\n");
}

class ListEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store = eventStore();
    // Deliberately not in start order: the store's order is the output's order.
    Event late = storedEvent(store, "late", "c1", kNineThirty + 7200);
    Event early = storedEvent(store, "early", "c2", kNineThirty);
    Event holiday = storedEvent(store, "holiday", "ro", kNineThirty + 3600);
    Event weekly = storedEvent(store, "weekly", "c1", kNineThirty + 1800);
    weekly.hasRecurrenceRules = true;
    Event moved = weekly;
    moved.isDetached = true;
    moved.startDate = kNineThirty + 600;
    moved.endDate = kNineThirty + 900;
    Event secondOccurrence = weekly;
    secondOccurrence.startDate = *weekly.startDate + 3 * 3600;
    secondOccurrence.endDate = *weekly.endDate + 3 * 3600;
    store.data().events = {late, weekly, moved, early, holiday, secondOccurrence};
  }

  std::vector<std::string> ids(const std::string& out) {
    std::vector<std::string> found;
    for (const Json& record : Json::parse(out))
      found.push_back(record.at("id"));
    return found;
  }

  FakeStore store;
};

TEST_F(ListEventsTest, KeepsTheStoresOrderAndLeavesOutMovedOccurrences) {
  const auto outcome = runCommand(store, {"list", "--from", kFrom, "--to", kTo});
  ASSERT_EQ(outcome.status, 0) << outcome.out;
  EXPECT_EQ(ids(outcome.out),
            (std::vector<std::string>{"late", "weekly", "early", "holiday", "weekly"}));
  EXPECT_EQ(Json::parse(outcome.out).at(1).at("recurring"), true);
}

TEST_F(ListEventsTest, EmptyOrMissingCalendarValueListsEveryCalendar) {
  for (const std::vector<std::string>& tail :
       {std::vector<std::string>{"--calendar", ""}, std::vector<std::string>{"--calendar"}}) {
    std::vector<std::string> words = {"list", "--from", kFrom, "--to", kTo};
    words.insert(words.end(), tail.begin(), tail.end());
    const auto outcome = runCommand(store, words);
    ASSERT_EQ(outcome.status, 0) << outcome.out;
    EXPECT_EQ(ids(outcome.out).size(), 5u);
  }
}

TEST_F(ListEventsTest, OneCalendarEvenReadOnly) {
  auto outcome = runCommand(store, {"list", "--from", kFrom, "--to", kTo, "--calendar", "ro"});
  ASSERT_EQ(outcome.status, 0) << outcome.out;
  EXPECT_EQ(ids(outcome.out), std::vector<std::string>{"holiday"});

  outcome = runCommand(store, {"list", "--calendar", "c2", "--to", kTo, "--from", kFrom});
  EXPECT_EQ(ids(outcome.out), std::vector<std::string>{"early"});
}

TEST_F(ListEventsTest, WritesEventRecordsExactly) {
  const auto outcome =
      runCommand(store, {"list", "--from", kFrom, "--to", kTo, "--calendar", "c2"});
  EXPECT_EQ(outcome.out,
            R"([{"alarms":[{"relative":-600}],"allDay":false,"calendarId":"c2",)"
            R"("calendarTitle":"个人","end":"2024-05-01T10:30:00.000Z","externalId":"",)"
            R"("id":"early","lastModified":1600000000000,"location":"HQ","notes":"room 4",)"
            R"("start":"2024-05-01T09:30:00.000Z","title":"Standup"}])"
            "\n");
}

TEST_F(ListEventsTest, ATextThatIsNotUtf8LeavesOnlyTheFallbackWhereverItIs) {
  // Enough records before it that the output would have gone out in several pieces.
  std::vector<Event> many(2000, store.data().events.front());
  many.back().title = "late \xff";
  store.data().events = many;
  const auto outcome = runCommand(store, {"list", "--from", kFrom, "--to", kTo});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, kFallbackText);
}

TEST_F(ListEventsTest, WindowWithoutEventsGivesAnEmptyArray) {
  const auto outcome =
      runCommand(store, {"list", "--from", "2030-01-01T00:00:00Z", "--to", "2030-01-02T00:00:00Z"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "[]\n");
}

}  // namespace
}  // namespace tembra
