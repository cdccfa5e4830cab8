// The update command over the fake store: which keys change the event, the repair of its end, and
// the summary after the save.
#include "commands/update.h"

#include <gtest/gtest.h>

#include "access/authorization.h"
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
using testing::storedEvent;
using testing::storedRecord;

const std::string kNeedsInput = "{\"error\":\"update 需要 --input <JSON>，且包含 id\"}\n";

// A store holding "e1" in c1, 09:30 to 10:30 with one alarm ten minutes before.
FakeStore storeWithEvent() {
  FakeStore store = eventStore();
  store.data().events = {storedEvent(store, "e1", "c1", kNineThirty)};
  return store;
}

Outcome update(const FakeStore& store, const std::string& input) {
  return runCommand(store, {"update", "--input", input});
}

TEST(Update, AccessIsCheckedBeforeTheInput) {
  FakeStore store = storeWithEvent();
  store.data().authorization = 2;
  const auto outcome = runCommand(store, {"update", "--input", "not json"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.out, "{\"error\":\"" + accessDeniedMessage("denied") + "\"}\n");
}

struct RefusalCase {
  const char* name;
  std::vector<std::string> options;
  std::string expected;
  int status;
};

class UpdateRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(UpdateRefusalTest, LeavesTheStoreAsItWas) {
  FakeStore store = storeWithEvent();
  const std::string before = storedRecord(store, "e1");
  std::vector<std::string> words = {"update"};
  words.insert(words.end(), GetParam().options.begin(), GetParam().options.end());
  const auto outcome = runCommand(store, words);
  EXPECT_EQ(outcome.status, GetParam().status);
  EXPECT_EQ(outcome.out, GetParam().expected);
  EXPECT_TRUE(store.data().spans.empty());
  EXPECT_EQ(storedRecord(store, "e1"), before);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, UpdateRefusalTest,
    ::testing::Values(
        RefusalCase{"no_input", {}, kNeedsInput, 64},
        RefusalCase{"input_is_last", {"--input"}, kNeedsInput, 64},
        RefusalCase{"not_json", {"--input", "{id:e1}"}, kNeedsInput, 64},
        RefusalCase{"top_level_array", {"--input", R"([{"id":"e1"}])"}, kNeedsInput, 64},
        RefusalCase{"deeply_nested",
                    {"--input", R"({"id":"e1","title":"x","n":)" + std::string(100'000, '[') +
                                    std::string(100'000, ']') + "}"},
                    kNeedsInput,
                    64},
        RefusalCase{"id_missing", {"--input", R"({"title":"x"})"}, kNeedsInput, 64},
        RefusalCase{"id_number", {"--input", R"({"id":1,"title":"x"})"}, kNeedsInput, 64},
        RefusalCase{"id_empty", {"--input", R"({"id":"","title":"x"})"}, kNeedsInput, 64},
        RefusalCase{"id_null", {"--input", R"({"id":null})"}, kNeedsInput, 64},
        RefusalCase{"unknown_id",
                    {"--input", R"({"id":"nope","title":"x"})"},
                    "{\"error\":\"事件不存在或已删除: nope\"}\n",
                    4},
        RefusalCase{"odd_id",
                    {"--input", R"({"id":"a/\"b\u0000c","title":"x"})"},
                    "{\"error\":\"事件不存在或已删除: a\\/\\\"b\\u0000c\"}\n",
                    4},
        RefusalCase{"id_with_different_case",
                    {"--input", R"({"id":"E1"})"},
                    "{\"error\":\"事件不存在或已删除: E1\"}\n",
                    4}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Update, OnlyAnIdSavesTheEventUnchanged) {
  FakeStore store = storeWithEvent();
  const std::string before = storedRecord(store, "e1");
  const auto outcome = update(store, R"({"id":"e1"})");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out,
            R"({"calendarId":"c1","calendarTitle":"工作","id":"e1","lastModified":1700000000250})"
            "\n");
  EXPECT_EQ(store.data().spans, std::vector<Span>{Span::thisEvent});
  Event saved = savedEvent(store);
  saved.lastModifiedDate = Instant{1'600'000'000};  // the only change is the store's own stamp
  EXPECT_EQ(encodeJson(eventJSON(Formatters{}, saved)), before);
}

TEST(Update, UsableKeysReplaceTheirFields) {
  FakeStore store = storeWithEvent();
  const auto outcome =
      update(store, R"({"id":"e1","title":"","notes":"","location":"5F","allDay":1,)"
                    R"("alarms":[{"absolute":"2024-05-01T09:00:00Z"},{"relative":-60}]})");
  ASSERT_EQ(outcome.status, 0) << outcome.out;
  const Event& event = savedEvent(store);
  EXPECT_EQ(event.title, "");
  EXPECT_EQ(event.notes, "");
  EXPECT_EQ(event.location, "5F");
  EXPECT_TRUE(event.isAllDay);
  EXPECT_EQ(event.alarms, (std::vector<Alarm>{Alarm::withAbsoluteDate(kNineThirty + -1800),
                                              Alarm::withRelativeOffset(-60)}));
}

TEST(Update, UnusableKeysLeaveTheirFields) {
  FakeStore store = storeWithEvent();
  const auto outcome =
      update(store, R"({"id":"e1","title":null,"notes":null,"location":3,"allDay":"true",)"
                    R"("start":1714555800000,"end":"soon","alarms":[{"relative":60},5]})");
  ASSERT_EQ(outcome.status, 0) << outcome.out;
  const Event& event = savedEvent(store);
  EXPECT_EQ(event.title, "Standup");
  EXPECT_EQ(event.notes, "room 4");
  EXPECT_EQ(event.location, "HQ");
  EXPECT_FALSE(event.isAllDay);
  EXPECT_EQ(event.startDate, kNineThirty);
  EXPECT_EQ(event.endDate, kNineThirty + 3600);
  EXPECT_EQ(event.alarms, std::vector<Alarm>{Alarm::withRelativeOffset(-600)});
}

TEST(Update, EmptyAlarmsRemoveEveryAlarm) {
  FakeStore store = storeWithEvent();
  ASSERT_EQ(update(store, R"({"id":"e1","alarms":[]})").status, 0);
  EXPECT_TRUE(savedEvent(store).alarms.empty());
}

struct RepairCase {
  const char* name;
  const char* dates;  // keys added after the id
  Instant start;
  Instant end;
};

class UpdateRepairTest : public ::testing::TestWithParam<RepairCase> {};

// The stored event runs 09:30 to 10:30.
TEST_P(UpdateRepairTest, EndIsRepairedAfterTheKeysApply) {
  FakeStore store = storeWithEvent();
  const auto outcome = update(store, std::string(R"({"id":"e1")") + GetParam().dates + "}");
  ASSERT_EQ(outcome.status, 0) << outcome.out;
  EXPECT_EQ(savedEvent(store).startDate, GetParam().start);
  EXPECT_EQ(savedEvent(store).endDate, GetParam().end);
}

INSTANTIATE_TEST_SUITE_P(
    Dates, UpdateRepairTest,
    ::testing::Values(RepairCase{"start_past_end", R"(,"start":"2024-05-01T12:00:00Z")",
                                 kNineThirty + 9000, kNineThirty + 12600},
                      RepairCase{"start_earlier_keeps_end", R"(,"start":"2024-05-01T08:00:00Z")",
                                 kNineThirty + -5400, kNineThirty + 3600},
                      RepairCase{"start_onto_end", R"(,"start":"2024-05-01T10:30:00Z")",
                                 kNineThirty + 3600, kNineThirty + 3600},
                      RepairCase{"end_before_stored_start", R"(,"end":"2024-05-01T09:00:00Z")",
                                 kNineThirty, kNineThirty + 3600},
                      RepairCase{"end_before_given_start",
                                 R"(,"start":"2024-05-01T11:00:00Z","end":"2024-05-01T10:00:00Z")",
                                 kNineThirty + 5400, kNineThirty + 9000},
                      RepairCase{
                          "both_in_order",
                          R"(,"start":"2024-05-01T11:00:00Z","end":"2024-05-01T11:15:00.000Z")",
                          kNineThirty + 5400, kNineThirty + 6300},
                      RepairCase{"start_unreadable_end_applies",
                                 R"(,"start":"09:30","end":"2024-05-01T10:00:00Z")", kNineThirty,
                                 kNineThirty + 1800}),
    [](const auto& info) { return std::string(info.param.name); });

struct MoveCase {
  const char* name;
  const char* calendarId;
  const char* expected;
};

class UpdateCalendarTest : public ::testing::TestWithParam<MoveCase> {};

TEST_P(UpdateCalendarTest, MovesOnlyToAWritableCalendar) {
  FakeStore store = storeWithEvent();
  const auto outcome =
      update(store, std::string(R"({"id":"e1","calendarId":)") + GetParam().calendarId + "}");
  ASSERT_EQ(outcome.status, 0) << outcome.out;
  EXPECT_EQ(savedEvent(store).calendar->calendarIdentifier, GetParam().expected);
  EXPECT_EQ(Json::parse(outcome.out).at("calendarId"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Calendars, UpdateCalendarTest,
                         ::testing::Values(MoveCase{"writable", R"("c2")", "c2"},
                                           MoveCase{"read_only", R"("ro")", "c1"},
                                           MoveCase{"unknown", R"("nope")", "c1"},
                                           MoveCase{"empty", R"("")", "c1"},
                                           MoveCase{"number", "2", "c1"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Update, SummaryOfAnEventWithoutCalendarHasEmptyCalendarKeys) {
  FakeStore store = eventStore();
  Event orphan = storedEvent(store, "e2", "none", kNineThirty);
  store.data().events = {orphan};
  store.data().modifiedOnSave = Instant{1'714'555'800.0005};
  const auto outcome = update(store, R"({"id":"e2","title":"x"})");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out,
            R"({"calendarId":"","calendarTitle":"","id":"e2","lastModified":1714555800001})"
            "\n");
}

TEST(Update, ARefusedSaveChangesNothing) {
  FakeStore store = storeWithEvent();
  store.data().refuseSave = "calendar is read-only";
  const std::string before = storedRecord(store, "e1");
  const auto outcome = update(store, R"({"id":"e1","title":"new","calendarId":"c2"})");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "{\"error\":\"更新事件失败: calendar is read-only\"}\n");
  EXPECT_EQ(storedRecord(store, "e1"), before);
  EXPECT_EQ(store.data().spans.size(), 1u);  // tried once, not retried
}

// Another client removed the event between its lookup and the save: not found, not a refusal.
TEST(Update, AnEventRemovedMeanwhileIsNotFound) {
  FakeStore store = storeWithEvent();
  store.data().goneOnWrite = true;
  const auto outcome = update(store, R"({"id":"e1","title":"new"})");
  EXPECT_EQ(outcome.status, 4);
  EXPECT_EQ(outcome.out, "{\"error\":\"事件不存在或已删除: e1\"}\n");
}

}  // namespace
}  // namespace tembra
