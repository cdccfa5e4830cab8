// Event and alarm records, compared byte for byte as the output writes them.
#include "records/event_record.h"

#include <gtest/gtest.h>

#include "cli/output.h"
#include "support/formatters.h"

namespace tembra {
namespace {

const Instant kStart{1714555800};  // 2024-05-01T09:30:00Z

Event oneTimeEvent() {
  Event event;
  event.eventIdentifier = "e1";
  event.calendar = Calendar{"c1", "工作", Source{"iCloud"}, std::nullopt, true};
  event.title = "Standup";
  event.startDate = kStart;
  event.endDate = kStart + 3600;
  event.calendarItemExternalIdentifier = "ext-1";
  return event;
}

std::string recordText(const Event& event) {
  return encodeJson(eventJSON(kFormatters, event)).value_or("");
}

TEST(EventJSON, OneTimeEventHasTwelveKeysAndFallsBackToItsStart) {
  const Json record = eventJSON(kFormatters, oneTimeEvent());
  EXPECT_EQ(record.size(), 12u);
  EXPECT_EQ(recordText(oneTimeEvent()),
            R"({"alarms":[],"allDay":false,"calendarId":"c1","calendarTitle":"工作",)"
            R"("end":"2024-05-01T10:30:00.000Z","externalId":"ext-1","id":"e1",)"
            R"("lastModified":1714555800000,"location":"","notes":"",)"
            R"("start":"2024-05-01T09:30:00.000Z","title":"Standup"})");
}

TEST(EventJSON, RepeatingEventAddsRecurringTrue) {
  Event event = oneTimeEvent();
  event.hasRecurrenceRules = true;
  const Json record = eventJSON(kFormatters, event);
  EXPECT_EQ(record.size(), 13u);
  EXPECT_EQ(record.at("recurring"), true);
}

TEST(EventJSON, MissingTextsAndCalendarBecomeEmpty) {
  Event event;
  event.startDate = kStart;
  event.endDate = kStart;
  event.isAllDay = true;
  event.lastModifiedDate = Instant{1'700'000'000.25};
  EXPECT_EQ(recordText(event), R"({"alarms":[],"allDay":true,"calendarId":"","calendarTitle":"",)"
                               R"("end":"2024-05-01T09:30:00.000Z","externalId":"","id":"",)"
                               R"("lastModified":1700000000250,"location":"","notes":"",)"
                               R"("start":"2024-05-01T09:30:00.000Z","title":""})");
}

TEST(EventJSON, CalendarWithoutTitleGivesEmptyTitle) {
  Event event = oneTimeEvent();
  Calendar untitled = *event.calendar;
  untitled.title.reset();
  event.calendar = untitled;
  const Json record = eventJSON(kFormatters, event);
  EXPECT_EQ(record.at("calendarId"), "c1");
  EXPECT_EQ(record.at("calendarTitle"), "");
}

TEST(EventJSON, EventWithoutDatesStillGivesACompleteRecord) {
  const Json record = eventJSON(kFormatters, Event{});
  EXPECT_EQ(record.size(), 12u);
  EXPECT_EQ(record.at("start"), "");
  EXPECT_EQ(record.at("end"), "");
  EXPECT_EQ(record.at("lastModified"), 0);
}

TEST(EventJSON, AlarmsKeepTheStoresOrder) {
  Event event = oneTimeEvent();
  event.alarms = {Alarm::withAbsoluteDate(Instant{1714554000}), Alarm::withRelativeOffset(-900),
                  Alarm::withRelativeOffset(600)};
  EXPECT_EQ(encodeJson(eventJSON(kFormatters, event).at("alarms")),
            R"([{"absolute":"2024-05-01T09:00:00.000Z"},{"relative":-900},{"relative":600}])");
}

struct AlarmCase {
  const char* name;
  Alarm alarm;
  const char* expected;
};

class AlarmJSONTest : public ::testing::TestWithParam<AlarmCase> {};

TEST_P(AlarmJSONTest, WritesOneKey) {
  EXPECT_EQ(encodeJson(alarmJSON(kFormatters, GetParam().alarm)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, AlarmJSONTest,
    ::testing::Values(
        AlarmCase{"quarter_hour_before", Alarm::withRelativeOffset(-900), R"({"relative":-900})"},
        AlarmCase{"at_the_start", Alarm::withRelativeOffset(0), R"({"relative":0})"},
        AlarmCase{"half_rounds_away_from_zero", Alarm::withRelativeOffset(-90.5),
                  R"({"relative":-91})"},
        AlarmCase{"positive_half", Alarm::withRelativeOffset(90.5), R"({"relative":91})"},
        AlarmCase{"below_half", Alarm::withRelativeOffset(-90.49), R"({"relative":-90})"},
        AlarmCase{"absolute", Alarm::withAbsoluteDate(kStart),
                  R"({"absolute":"2024-05-01T09:30:00.000Z"})"},
        AlarmCase{"absolute_wins_over_offset", Alarm{kStart, -600},
                  R"({"absolute":"2024-05-01T09:30:00.000Z"})"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tembra
