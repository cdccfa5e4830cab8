// Event series read and expanded in every year from 0000 to 9999, far from where they start, in
// process and through the real tembra in three zones.
#include "access/local/series.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "records/dates.h"
#include "support/black_box.h"
#include "support/formatters.h"

namespace tembra::local {
namespace {

Instant at(const std::string& text) {
  return *parseDate(kFormatters, text);
}

std::string text(Instant instant) {
  return formatDate(kFormatters, instant);
}

// A VEVENT of these lines (CRLF-ended) after its UID.
std::optional<Series> seriesOf(const std::string& lines) {
  return Series::parse(
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//test//EN\r\nBEGIN:VEVENT\r\nUID:far\r\n" +
      lines + "END:VEVENT\r\nEND:VCALENDAR\r\n");
}

struct Window {
  const char* name;
  const char* lines;
  const char* from;
  const char* to;
  std::vector<std::string> starts;
};

class FarWindowTest : public ::testing::TestWithParam<Window> {};

TEST_P(FarWindowTest, ListsTheStartsOfTheWindow) {
  const Window& row = GetParam();
  const auto series = seriesOf(row.lines);
  ASSERT_TRUE(series);
  std::vector<std::string> starts;
  for (const Occurrence& occurrence : series->occurrences(at(row.from), at(row.to)))
    starts.push_back(text(occurrence.start));
  EXPECT_EQ(starts, row.starts);
}

constexpr const char* kHourly = "DTSTART:20250301T000000Z\r\nRRULE:FREQ=HOURLY;COUNT=300000\r\n";
constexpr const char* kWeekly = "DTSTART:20200101T090000Z\r\nRRULE:FREQ=WEEKLY\r\n";
constexpr const char* kBerlin =
    "DTSTART;TZID=Europe/Berlin:20240313T090000\r\nRRULE:FREQ=WEEKLY\r\n";
constexpr const char* kChinese = "DTSTART:20250129T000000Z\r\nRRULE:RSCALE=CHINESE;FREQ=YEARLY\r\n";

INSTANTIATE_TEST_SUITE_P(
    Series, FarWindowTest,
    ::testing::Values(
        Window{"hourly_count_in_2050",
               kHourly,
               "2050-06-01T00:00:00Z",
               "2050-06-01T02:00:00Z",
               {"2050-06-01T00:00:00.000Z", "2050-06-01T01:00:00.000Z"}},
        Window{"weekly_in_2600",
               kWeekly,
               "2600-03-01T00:00:00Z",
               "2600-03-08T00:00:00Z",
               {"2600-03-05T09:00:00.000Z"}},
        Window{"weekly_in_5000",
               kWeekly,
               "5000-03-01T00:00:00Z",
               "5000-03-08T00:00:00Z",
               {"5000-03-05T09:00:00.000Z"}},
        Window{"weekly_to_the_end_of_9999",
               kWeekly,
               "9999-12-23T00:00:00Z",
               "+10000-02-01T00:00:00Z",
               {"9999-12-29T09:00:00.000Z"}},
        Window{"weekly_until_5000",
               "DTSTART:20200101T090000Z\r\nRRULE:FREQ=WEEKLY;UNTIL=50000305T090000Z\r\n",
               "5000-02-27T00:00:00Z",
               "5000-04-01T00:00:00Z",
               {"5000-03-05T09:00:00.000Z"}},
        Window{"weekly_from_3001",
               "DTSTART:30010105T090000Z\r\nRRULE:FREQ=WEEKLY\r\n",
               "3001-01-01T00:00:00Z",
               "3001-01-13T00:00:00Z",
               {"3001-01-05T09:00:00.000Z", "3001-01-12T09:00:00.000Z"}},
        Window{"weekly_from_9999",
               "DTSTART:99991230T090000Z\r\nRRULE:FREQ=WEEKLY\r\n",
               "9999-01-01T00:00:00Z",
               "+10000-12-31T00:00:00Z",
               {"9999-12-30T09:00:00.000Z"}},
        Window{"gregorian_in_1200",
               "DTSTART:12000105T090000Z\r\nRRULE:FREQ=WEEKLY;BYDAY=WE,SA\r\n",
               "1200-01-20T00:00:00Z",
               "1200-01-27T00:00:00Z",
               {"1200-01-22T09:00:00.000Z", "1200-01-26T09:00:00.000Z"}},
        Window{"berlin_summer_in_5000",
               kBerlin,
               "5000-07-01T00:00:00Z",
               "5000-07-08T00:00:00Z",
               {"5000-07-02T07:00:00.000Z"}},
        Window{"berlin_winter_in_5000",
               kBerlin,
               "5000-01-01T00:00:00Z",
               "5000-01-02T00:00:00Z",
               {"5000-01-01T08:00:00.000Z"}},
        Window{"excluded_and_added_in_5000",
               "DTSTART:20200101T090000Z\r\nRRULE:FREQ=WEEKLY\r\nEXDATE:50000305T090000Z\r\n"
               "RDATE:50000310T120000Z\r\n",
               "5000-03-01T00:00:00Z",
               "5000-03-13T00:00:00Z",
               {"5000-03-10T12:00:00.000Z", "5000-03-12T09:00:00.000Z"}},
        Window{"chinese_calendar_up_to_2582",
               kChinese,
               "2583-01-01T00:00:00Z",
               "2590-01-01T00:00:00Z",
               {}}),
    [](const auto& info) { return std::string(info.param.name); });

struct Reading {
  const char* name;
  const char* dtstart;
  const char* start;  // null: the file cannot be read
};

class ReadingTest : public ::testing::TestWithParam<Reading> {};

TEST_P(ReadingTest, ReadsEveryRealTimeOfYearsZeroToNineThousandNineHundredNinetyNine) {
  const Reading& row = GetParam();
  const auto series = seriesOf(std::string(row.dtstart) + "\r\n");
  ASSERT_EQ(series.has_value(), row.start != nullptr);
  if (series) {
    EXPECT_EQ(text(series->first()->start), row.start);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Series, ReadingTest,
    ::testing::Values(
        Reading{"first_second", "DTSTART:00000101T000000Z", "0000-01-01T00:00:00.000Z"},
        Reading{"after_3000", "DTSTART:30010101T000000Z", "3001-01-01T00:00:00.000Z"},
        Reading{"last_second", "DTSTART:99991231T235959Z", "9999-12-31T23:59:59.000Z"},
        Reading{"leap_second", "DTSTART:20161231T235960Z", "2017-01-01T00:00:00.000Z"},
        Reading{"month_13", "DTSTART:20241301T000000Z", nullptr},
        Reading{"no_leap_day_in_2100", "DTSTART;VALUE=DATE:21000229", nullptr},
        Reading{"hour_24", "DTSTART:20240101T240000Z", nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// The first occurrence used to be looked for no further than 64 years from DTSTART.
TEST(SeriesYearsTest, TheFirstOccurrenceIsFoundPastEveryExcludedOne) {
  std::string lines = "DTSTART:20000101T000000Z\r\nRRULE:FREQ=YEARLY\r\n";
  for (int year = 2000; year < 2100; ++year)
    lines += "EXDATE:" + std::to_string(year) + "0101T000000Z\r\n";
  const auto series = seriesOf(lines);
  ASSERT_TRUE(series && series->first());
  EXPECT_EQ(text(series->first()->start), "2100-01-01T00:00:00.000Z");
}

TEST(SeriesYearsTest, AWindowListsTheEarliestOfAtMostItsLimit) {
  const auto series = seriesOf("DTSTART:20250301T000000Z\r\nRRULE:FREQ=SECONDLY\r\n");
  const auto found = series->occurrences(at("2025-03-02T00:00:00Z"), at("2025-03-04T00:00:00Z"));
  ASSERT_EQ(found.size(), kMostOccurrencesPerWindow);
  EXPECT_EQ(text(found.front().start), "2025-03-02T00:00:00.000Z");
  EXPECT_EQ(found.back().start.seconds - found.front().start.seconds,
            kMostOccurrencesPerWindow - 1.0);
}

// A start of 3001 is saved as it is; one past 9999, which iCalendar cannot hold, may be refused
// (no occurrence) or kept as given, but is never a crash.
TEST(SeriesYearsTest, SavingAStartOfAnyYearIsNoCrash) {
  for (const char* start : {"3001-01-01T09:00:00Z", "+10000-01-01T09:00:00Z"}) {
    Series series = Series::create("far");
    Event event;
    event.startDate = at(start);
    event.endDate = *event.startDate + 3600;
    const std::optional<Occurrence> saved =
        series.apply(event, std::nullopt, at("2025-01-01T00:00:00Z"));
    EXPECT_TRUE(saved || std::string(start).starts_with("+")) << start;
    if (saved) {
      EXPECT_EQ(saved->start, *event.startDate) << start;
      EXPECT_EQ(saved->end, *event.endDate) << start;
    }
  }
}

// Floating and all-day times are read in the machine's zone; the index holds the hourly series
// only to its 20,000th occurrence. 5 March 5000 is a Wednesday; New York's summer time begins on
// 9 March.
struct Listed {
  const char* file;
  const char* from;
  const char* to;
  std::vector<std::vector<std::string>> starts;  // in UTC, Asia/Shanghai, America/New_York
};

class TembraListTest : public ::testing::TestWithParam<Listed> {};

TEST_P(TembraListTest, ListsFarWindowsInEachZone) {
  const Listed& row = GetParam();
  const char* zones[] = {"UTC", "Asia/Shanghai", "America/New_York"};
  for (std::size_t zone = 0; zone < 3; ++zone) {
    tembra::testing::TempStore store;
    store.zone = zones[zone];
    store.adminOk({"set-access", "fullAccess"});
    store.adminOk({"import", "local/calendar",
                   std::string(TEMBRA_SOURCE_DIR) + "/tests/access/local/data/" + row.file});
    const auto result = store.tembra({"list", "--from", row.from, "--to", row.to});
    std::vector<std::string> starts;
    for (const auto& event : nlohmann::json::parse(result.out))
      starts.push_back(event["start"]);
    EXPECT_EQ(starts, row.starts[zone]) << zones[zone];
  }
}

INSTANTIATE_TEST_SUITE_P(
    Zones, TembraListTest,
    ::testing::Values(Listed{"weekly_floating.ics",
                             "5000-03-01T00:00:00Z",
                             "5000-03-13T00:00:00Z",
                             {{"5000-03-05T09:00:00.000Z", "5000-03-12T09:00:00.000Z"},
                              {"5000-03-05T01:00:00.000Z", "5000-03-12T01:00:00.000Z"},
                              {"5000-03-05T14:00:00.000Z", "5000-03-12T13:00:00.000Z"}}},
                      Listed{"birthday.ics",
                             "9999-05-01T00:00:00Z",
                             "9999-06-01T00:00:00Z",
                             {{"9999-05-10T00:00:00.000Z"},
                              {"9999-05-09T16:00:00.000Z"},
                              {"9999-05-10T04:00:00.000Z"}}},
                      Listed{"hourly_count.ics",
                             "2059-05-21T22:10:00Z",
                             "2060-01-01T00:00:00Z",
                             {{"2059-05-21T22:00:00.000Z", "2059-05-21T23:00:00.000Z"},
                              {"2059-05-21T22:00:00.000Z", "2059-05-21T23:00:00.000Z"},
                              {"2059-05-21T22:00:00.000Z", "2059-05-21T23:00:00.000Z"}}}));

}  // namespace
}  // namespace tembra::local
