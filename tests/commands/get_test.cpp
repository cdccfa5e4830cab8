// The get command over the fake store.
#include "commands/get.h"

#include <gtest/gtest.h>

#include "access/authorization.h"
#include "support/event_fixtures.h"
#include "support/in_process.h"

namespace tembra {
namespace {

using testing::eventStore;
using testing::FakeStore;
using testing::kNineThirty;
using testing::runCommand;
using testing::storedEvent;

TEST(Get, AccessIsCheckedBeforeAnyOption) {
  FakeStore store = eventStore();
  store.data().authorization = 1;
  const auto outcome = runCommand(store, {"get"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.out, "{\"error\":\"" + accessDeniedMessage("restricted") + "\"}\n");
  EXPECT_EQ(store.data().storeReads, 0);
}

TEST(Get, NeedsANonEmptyId) {
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{"get"}, std::vector<std::string>{"get", "--id"},
        std::vector<std::string>{"get", "--id", ""}}) {
    FakeStore store = eventStore();
    const auto outcome = runCommand(store, words);
    EXPECT_EQ(outcome.status, 64);
    EXPECT_EQ(outcome.out, "{\"error\":\"get 需要 --id\"}\n");
    EXPECT_EQ(store.data().storeReads, 0);
  }
}

struct MissingCase {
  const char* name;
  std::string id;
  std::string expected;
};

class GetMissingTest : public ::testing::TestWithParam<MissingCase> {};

TEST_P(GetMissingTest, NamesTheIdentifierAsGiven) {
  FakeStore store = eventStore();
  store.data().events = {storedEvent(store, "e1", "c1", kNineThirty)};
  const auto outcome = runCommand(store, {"get", "--id", GetParam().id});
  EXPECT_EQ(outcome.status, 4);
  EXPECT_EQ(outcome.out, "{\"error\":\"事件不存在或已删除: " + GetParam().expected + "\"}\n");
}

INSTANTIATE_TEST_SUITE_P(
    Identifiers, GetMissingTest,
    ::testing::Values(MissingCase{"unknown", "nope", "nope"},
                      MissingCase{"not_trimmed", " e1", " e1"},
                      MissingCase{"other_option_name", "--title", "--title"},
                      MissingCase{"slash_and_quote", "a/\"b\\", "a\\/\\\"b\\\\"},
                      MissingCase{"line_break", "a\nb", "a\\nb"},
                      MissingCase{"invalid_utf8", "e\xC0\xAF", "e\xEF\xBF\xBD\xEF\xBF\xBD"},
                      MissingCase{"long", std::string(100'000, 'x'), std::string(100'000, 'x')}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Get, PrintsTheEventRecord) {
  FakeStore store = eventStore();
  Event event = storedEvent(store, "e1", "c1", kNineThirty);
  event.hasRecurrenceRules = true;
  event.calendarItemExternalIdentifier = "ext/1";
  store.data().events = {event};
  const auto outcome = runCommand(store, {"get", "--id", "e1", "--id", "ignored"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out,
            R"({"alarms":[{"relative":-600}],"allDay":false,"calendarId":"c1",)"
            R"("calendarTitle":"工作","end":"2024-05-01T10:30:00.000Z","externalId":"ext\/1",)"
            R"("id":"e1","lastModified":1600000000000,"location":"HQ","notes":"room 4",)"
            R"("recurring":true,"start":"2024-05-01T09:30:00.000Z","title":"Standup"})"
            "\n");
}

}  // namespace
}  // namespace tembra
