// The create command over the fake store: the checks in order, the defaults, the target calendar
// and the saved-event summary.
#include "commands/create.h"

#include <gtest/gtest.h>

#include "access/authorization.h"
#include "commands/saved_event.h"
#include "support/event_fixtures.h"
#include "support/in_process.h"

namespace tembra {
namespace {

using testing::eventStore;
using testing::FakeStore;
using testing::kNineThirty;
using testing::Outcome;
using testing::runCommand;
using testing::savedEvent;

const std::string kNeedsInput = "{\"error\":\"create 需要 --input <JSON>\"}\n";
const std::string kNeedsStart = "{\"error\":\"缺少有效的 start（ISO8601）\"}\n";
const std::string kEndBeforeStart = "{\"error\":\"end 不能早于 start\"}\n";
const std::string kNoCalendar = "{\"error\":\"没有可写入的日历\"}\n";

Outcome create(const FakeStore& store, const std::string& input) {
  return runCommand(store, {"create", "--input", input});
}

TEST(Create, AccessIsCheckedBeforeTheInput) {
  FakeStore store = eventStore();
  store.data().authorization = 2;
  const auto outcome = runCommand(store, {"create"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.out, "{\"error\":\"" + accessDeniedMessage("denied") + "\"}\n");
}

struct RefusalCase {
  const char* name;
  std::vector<std::string> options;
  const std::string& expected;
  int status;
};

class CreateRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(CreateRefusalTest, SavesNothing) {
  FakeStore store = eventStore();
  std::vector<std::string> words = {"create"};
  words.insert(words.end(), GetParam().options.begin(), GetParam().options.end());
  const auto outcome = runCommand(store, words);
  EXPECT_EQ(outcome.status, GetParam().status);
  EXPECT_EQ(outcome.out, GetParam().expected);
  EXPECT_TRUE(store.data().saved.empty());
  EXPECT_TRUE(store.data().spans.empty());
}

const std::string kDeep = std::string(100'000, '[') + std::string(100'000, ']');

INSTANTIATE_TEST_SUITE_P(
    Checks, CreateRefusalTest,
    ::testing::Values(
        RefusalCase{"no_input", {}, kNeedsInput, 64},
        RefusalCase{"input_is_last", {"--input"}, kNeedsInput, 64},
        RefusalCase{"empty_text", {"--input", ""}, kNeedsInput, 64},
        RefusalCase{"not_json", {"--input", "start=2024-05-01T09:30:00Z"}, kNeedsInput, 64},
        RefusalCase{"top_level_array",
                    {"--input", R"([{"start":"2024-05-01T09:30:00Z"}])"},
                    kNeedsInput,
                    64},
        RefusalCase{"invalid_utf8",
                    {"--input", "{\"start\":\"2024-05-01T09:30:00Z\",\"title\":\"\xFF\"}"},
                    kNeedsInput,
                    64},
        RefusalCase{"deeply_nested", {"--input", kDeep}, kNeedsInput, 64},
        RefusalCase{"deeply_nested_extra_key",
                    {"--input", R"({"start":"2024-05-01T09:30:00Z","x":)" + kDeep + "}"},
                    kNeedsInput,
                    64},
        RefusalCase{"start_missing", {"--input", R"({"title":"x"})"}, kNeedsStart, 64},
        RefusalCase{"start_null", {"--input", R"({"start":null})"}, kNeedsStart, 64},
        RefusalCase{
            "start_epoch_millis", {"--input", R"({"start":1714555800000})"}, kNeedsStart, 64},
        RefusalCase{"start_date_only", {"--input", R"({"start":"2024-05-01"})"}, kNeedsStart, 64},
        RefusalCase{"end_one_second_early",
                    {"--input", R"({"start":"2024-05-01T09:30:00Z","end":"2024-05-01T09:29:59Z"})"},
                    kEndBeforeStart,
                    64}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Create, EndCheckComesBeforeTheMissingDefaultCalendar) {
  FakeStore store = eventStore();
  store.data().defaultCalendarId.reset();
  const auto outcome =
      create(store, R"({"start":"2024-05-01T09:30:00Z","end":"2024-05-01T09:00:00Z"})");
  EXPECT_EQ(outcome.status, 64);
  EXPECT_EQ(outcome.out, kEndBeforeStart);
  EXPECT_EQ(store.data().storeReads, 0);
}

TEST(Create, OnlyAStartGivesEveryDefault) {
  FakeStore store = eventStore();
  const auto outcome = create(store, R"({"start":"2024-05-01T09:30:00Z"})");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, R"({"calendarId":"c1","calendarTitle":"工作","id":"event-1",)"
                         R"("lastModified":1700000000250})"
                         "\n");
  const Event& event = savedEvent(store);
  EXPECT_EQ(event.calendar->calendarIdentifier, "c1");
  EXPECT_EQ(event.title, "砚舟备注");
  EXPECT_EQ(event.notes, "");
  EXPECT_EQ(event.location, "");
  EXPECT_EQ(event.startDate, kNineThirty);
  EXPECT_EQ(event.endDate, kNineThirty + 3600);
  EXPECT_FALSE(event.isAllDay);
  EXPECT_TRUE(event.alarms.empty());
  EXPECT_EQ(store.data().spans, std::vector<Span>{Span::thisEvent});
}

TEST(Create, EveryGivenFieldIsSaved) {
  FakeStore store = eventStore();
  const auto outcome = create(store, R"({"id":"mine","title":"","notes":"带上电脑",)"
                                     R"("location":"3F","start":"2024-05-01T17:30:00+08:00",)"
                                     R"("end":"2024-05-01T10:00:00.000Z","allDay":true,)"
                                     R"("calendarId":"c2","alarms":[{"relative":-900}]})");
  ASSERT_EQ(outcome.status, 0) << outcome.out;
  const Event& event = savedEvent(store);
  EXPECT_EQ(event.eventIdentifier, "event-1");  // an "id" in the input is not read
  EXPECT_EQ(event.calendar->calendarIdentifier, "c2");
  EXPECT_EQ(event.title, "");
  EXPECT_EQ(event.notes, "带上电脑");
  EXPECT_EQ(event.location, "3F");
  EXPECT_EQ(event.startDate, kNineThirty);
  EXPECT_EQ(event.endDate, kNineThirty + 1800);
  EXPECT_TRUE(event.isAllDay);
  EXPECT_EQ(event.alarms, std::vector<Alarm>{Alarm::withRelativeOffset(-900)});
}

struct FieldCase {
  const char* name;
  const char* extra;  // keys added to a valid start
  std::string title;
  Instant end;
  bool allDay;
  std::size_t alarms;
};

class CreateFieldTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(CreateFieldTest, UnusableValuesFallBackToDefaults) {
  FakeStore store = eventStore();
  const auto outcome =
      create(store, std::string(R"({"start":"2024-05-01T09:30:00Z")") + GetParam().extra + "}");
  ASSERT_EQ(outcome.status, 0) << outcome.out;
  const Event& event = savedEvent(store);
  EXPECT_EQ(event.title, GetParam().title);
  EXPECT_EQ(event.endDate, GetParam().end);
  EXPECT_EQ(event.isAllDay, GetParam().allDay);
  EXPECT_EQ(event.alarms.size(), GetParam().alarms);
}

INSTANTIATE_TEST_SUITE_P(
    Values, CreateFieldTest,
    ::testing::Values(
        FieldCase{"title_null", R"(,"title":null)", "砚舟备注", kNineThirty + 3600, false, 0},
        FieldCase{"end_equal_to_start", R"(,"end":"2024-05-01T09:30:00.000Z")", "砚舟备注",
                  kNineThirty, false, 0},
        FieldCase{"end_unreadable", R"(,"end":"later")", "砚舟备注", kNineThirty + 3600, false, 0},
        FieldCase{"all_day_without_end", R"(,"allDay":true)", "砚舟备注", kNineThirty + 3600, true,
                  0},
        FieldCase{"alarms_with_a_number", R"(,"alarms":[{"relative":60},5])", "砚舟备注",
                  kNineThirty + 3600, false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct TargetCase {
  const char* name;
  const char* calendarKey;  // added to a valid start
  bool hasDefault;
  const char* expectedCalendar;  // nullptr: no calendar to use
};

class CreateTargetTest : public ::testing::TestWithParam<TargetCase> {};

TEST_P(CreateTargetTest, ChoosesTheNamedWritableCalendarElseTheDefault) {
  FakeStore store = eventStore();
  if (!GetParam().hasDefault)
    store.data().defaultCalendarId.reset();
  const auto outcome = create(
      store, std::string(R"({"start":"2024-05-01T09:30:00Z")") + GetParam().calendarKey + "}");
  if (GetParam().expectedCalendar == nullptr) {
    EXPECT_EQ(outcome.status, 3);
    EXPECT_EQ(outcome.out, kNoCalendar);
    EXPECT_TRUE(store.data().saved.empty());
    return;
  }
  ASSERT_EQ(outcome.status, 0) << outcome.out;
  EXPECT_EQ(savedEvent(store).calendar->calendarIdentifier, GetParam().expectedCalendar);
  EXPECT_EQ(Json::parse(outcome.out).at("calendarId"), GetParam().expectedCalendar);
}

INSTANTIATE_TEST_SUITE_P(
    Calendars, CreateTargetTest,
    ::testing::Values(TargetCase{"writable", R"(,"calendarId":"c2")", true, "c2"},
                      TargetCase{"read_only", R"(,"calendarId":"ro")", true, "c1"},
                      TargetCase{"unknown", R"(,"calendarId":"nope")", true, "c1"},
                      TargetCase{"empty", R"(,"calendarId":"")", true, "c1"},
                      TargetCase{"number", R"(,"calendarId":2)", true, "c1"},
                      TargetCase{"absent", "", true, "c1"},
                      TargetCase{"writable_without_default", R"(,"calendarId":"c2")", false, "c2"},
                      TargetCase{"read_only_without_default", R"(,"calendarId":"ro")", false,
                                 nullptr},
                      TargetCase{"absent_without_default", "", false, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Create, ARefusedSaveIsReportedWithTheStoresWords) {
  FakeStore store = eventStore();
  store.data().refuseSave = "日历是只读的";
  auto outcome = create(store, R"({"start":"2024-05-01T09:30:00Z"})");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "{\"error\":\"创建事件失败: 日历是只读的\"}\n");
  EXPECT_TRUE(store.data().events.empty());
  EXPECT_EQ(store.data().spans, std::vector<Span>{Span::thisEvent});  // tried once

  store.data().refuseSave = "bad \xFF byte";
  outcome = create(store, R"({"start":"2024-05-01T09:30:00Z"})");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "{\"error\":\"创建事件失败: bad \xEF\xBF\xBD byte\"}\n");
}

TEST(Create, SummaryFallsBackToTheCurrentTime) {
  FakeStore store = eventStore();
  store.data().modifiedOnSave.reset();
  const std::int64_t before = epochMillis(currentInstant());
  const auto outcome = create(store, R"({"start":"2024-05-01T09:30:00Z"})");
  const std::int64_t after = epochMillis(currentInstant());
  ASSERT_EQ(outcome.status, 0) << outcome.out;
  const Json lastModified = Json::parse(outcome.out).at("lastModified");
  ASSERT_TRUE(lastModified.is_number_integer());
  EXPECT_GE(lastModified.get<std::int64_t>(), before);
  EXPECT_LE(lastModified.get<std::int64_t>(), after);
}

TEST(Create, TakesMegabytesOfNotes) {
  FakeStore store = eventStore();
  const std::string notes(4 << 20, 'n');
  const auto outcome =
      create(store, R"({"start":"2024-05-01T09:30:00Z","notes":")" + notes + "\"}");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(savedEvent(store).notes, notes);
}

}  // namespace
}  // namespace tembra
