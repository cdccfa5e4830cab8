// Event series read and expanded in every year from 0000 to 9999, far from where they start.
#include "access/local/series.h"

#include <gtest/gtest.h>

#include "records/dates.h"

namespace tembra::local {
namespace {

const Formatters kFormatters;

Instant at(const std::string& text) {
  return *parseDate(kFormatters, text);
}

std::string text(Instant instant) {
  return formatDate(kFormatters, instant);
}

// One VEVENT with these lines (CRLF-ended) after its UID.
std::string fileWith(const std::string& lines) {
  return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//test//EN\r\nBEGIN:VEVENT\r\n"
         "UID:far\r\nDTSTAMP:20240101T000000Z\r\n" +
         lines + "END:VEVENT\r\nEND:VCALENDAR\r\n";
}

std::vector<std::string> startsIn(const Series& series, const std::string& from,
                                  const std::string& to) {
  std::vector<std::string> starts;
  for (const Occurrence& occurrence : series.occurrences(at(from), at(to)))
    starts.push_back(text(occurrence.start));
  return starts;
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
  const auto series = Series::parse(fileWith(row.lines));
  ASSERT_TRUE(series);
  EXPECT_EQ(startsIn(*series, row.from, row.to), row.starts);
}

constexpr const char* kHourly =
    "DTSTART:20250301T000000Z\r\nDTEND:20250301T003000Z\r\nRRULE:FREQ=HOURLY;COUNT=300000\r\n";
constexpr const char* kWeekly =
    "DTSTART:20200101T090000Z\r\nDTEND:20200101T100000Z\r\nRRULE:FREQ=WEEKLY\r\n";
constexpr const char* kBerlin =
    "DTSTART;TZID=Europe/Berlin:20240313T090000\r\nDTEND;TZID=Europe/Berlin:20240313T100000\r\n"
    "RRULE:FREQ=WEEKLY\r\n";

INSTANTIATE_TEST_SUITE_P(
    Series, FarWindowTest,
    ::testing::Values(
        Window{
            "hourly_count_in_2050",
            kHourly,
            "2050-06-01T00:00:00Z",
            "2050-06-01T03:00:00Z",
            {"2050-06-01T00:00:00.000Z", "2050-06-01T01:00:00.000Z", "2050-06-01T02:00:00.000Z"}},
        Window{"hourly_count_to_its_last",
               kHourly,
               "2059-05-21T22:00:00Z",
               "2059-05-23T00:00:00Z",
               {"2059-05-21T22:00:00.000Z", "2059-05-21T23:00:00.000Z"}},
        Window{"hourly_count_after_its_last",
               kHourly,
               "2059-05-22T00:00:00Z",
               "2070-01-01T00:00:00Z",
               {}},
        Window{"weekly_in_2600",
               kWeekly,
               "2600-03-01T00:00:00Z",
               "2600-03-13T00:00:00Z",
               {"2600-03-05T09:00:00.000Z", "2600-03-12T09:00:00.000Z"}},
        Window{"weekly_in_5000",
               kWeekly,
               "5000-03-01T00:00:00Z",
               "5000-03-13T00:00:00Z",
               {"5000-03-05T09:00:00.000Z", "5000-03-12T09:00:00.000Z"}},
        Window{"weekly_to_the_end_of_9999",
               kWeekly,
               "9999-12-20T00:00:00Z",
               "+10000-02-01T00:00:00Z",
               {"9999-12-22T09:00:00.000Z", "9999-12-29T09:00:00.000Z"}},
        Window{"weekly_until_5000",
               "DTSTART:20200101T090000Z\r\nRRULE:FREQ=WEEKLY;UNTIL=50000305T090000Z\r\n",
               "5000-02-25T00:00:00Z",
               "5000-04-01T00:00:00Z",
               {"5000-02-26T09:00:00.000Z", "5000-03-05T09:00:00.000Z"}},
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
        Window{"weekly_in_1200_by_the_gregorian_calendar",
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
        Window{"monthly_every_fifth_second_tuesday_in_7000",
               "DTSTART:20250311T090000Z\r\nRRULE:FREQ=MONTHLY;INTERVAL=5;BYDAY=2TU\r\n",
               "7000-01-01T00:00:00Z",
               "7001-01-01T00:00:00Z",
               {"7000-03-11T09:00:00.000Z", "7000-08-12T09:00:00.000Z"}},
        Window{"chinese_calendar_in_2030",
               "DTSTART:20250129T000000Z\r\nRRULE:RSCALE=CHINESE;FREQ=YEARLY\r\n",
               "2030-01-01T00:00:00Z",
               "2031-01-01T00:00:00Z",
               {"2030-02-02T00:00:00.000Z"}},
        Window{"chinese_calendar_only_up_to_2582",
               "DTSTART:20250129T000000Z\r\nRRULE:RSCALE=CHINESE;FREQ=YEARLY\r\n",
               "2583-01-01T00:00:00Z",
               "2590-01-01T00:00:00Z",
               {}},
        Window{"excluded_and_moved_in_5000",
               "DTSTART:20200101T090000Z\r\nRRULE:FREQ=WEEKLY\r\n"
               "EXDATE:50000305T090000Z\r\nRDATE:50000310T120000Z\r\n",
               "5000-03-01T00:00:00Z",
               "5000-03-13T00:00:00Z",
               {"5000-03-10T12:00:00.000Z", "5000-03-12T09:00:00.000Z"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct Reading {
  const char* name;
  const char* dtstart;
  std::optional<std::string> start;  // none: the file cannot be read
};

class ReadingTest : public ::testing::TestWithParam<Reading> {};

TEST_P(ReadingTest, ReadsEveryRealTimeOfYearsZeroToNineThousandNineHundredNinetyNine) {
  const Reading& row = GetParam();
  const auto series = Series::parse(fileWith(std::string(row.dtstart) + "\r\n"));
  ASSERT_EQ(series.has_value(), row.start.has_value());
  if (series) {
    EXPECT_EQ(text(series->first()->start), *row.start);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Series, ReadingTest,
    ::testing::Values(
        Reading{"first_second", "DTSTART:00000101T000000Z", "0000-01-01T00:00:00.000Z"},
        Reading{"after_3000", "DTSTART:30010101T000000Z", "3001-01-01T00:00:00.000Z"},
        Reading{"last_second", "DTSTART:99991231T235959Z", "9999-12-31T23:59:59.000Z"},
        Reading{"leap_day_of_9996", "DTSTART:99960229T120000Z", "9996-02-29T12:00:00.000Z"},
        Reading{"leap_second", "DTSTART:20161231T235960Z", "2017-01-01T00:00:00.000Z"},
        Reading{"month_13", "DTSTART:20241301T000000Z", std::nullopt},
        Reading{"february_30", "DTSTART:20240230T000000Z", std::nullopt},
        Reading{"no_leap_day_in_2100", "DTSTART;VALUE=DATE:21000229", std::nullopt},
        Reading{"hour_24", "DTSTART:20240101T240000Z", std::nullopt},
        Reading{"minute_60", "DTSTART:20240101T236000Z", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SeriesYearsTest, TheFirstOccurrenceIsFoundFarBeyondItsExcludedOnes) {
  std::string lines = "DTSTART:99991201T000000Z\r\nRRULE:FREQ=DAILY\r\n";
  for (int day = 1; day <= 30; ++day) {
    lines +=
        "EXDATE:999912" + std::string(day < 10 ? "0" : "") + std::to_string(day) + "T000000Z\r\n";
  }
  const auto series = Series::parse(fileWith(lines));
  ASSERT_TRUE(series);
  ASSERT_TRUE(series->first());
  EXPECT_EQ(text(series->first()->start), "9999-12-31T00:00:00.000Z");
}

TEST(SeriesYearsTest, AWindowListsTheEarliestOfAtMostItsLimit) {
  const auto series =
      Series::parse(fileWith("DTSTART:20250301T000000Z\r\nRRULE:FREQ=SECONDLY\r\n"));
  ASSERT_TRUE(series);
  const auto found = series->occurrences(at("2025-03-02T00:00:00Z"), at("2025-03-04T00:00:00Z"));
  ASSERT_EQ(found.size(), kMostOccurrencesPerWindow);
  EXPECT_EQ(text(found.front().start), "2025-03-02T00:00:00.000Z");
  EXPECT_EQ(found.back().start.seconds - found.front().start.seconds,
            static_cast<double>(kMostOccurrencesPerWindow - 1));
}

// A start that iCalendar cannot hold is for the caller to refuse; saved anyway, it is no crash.
TEST(SeriesYearsTest, SavingAStartOfAnyYearGivesBackItsOccurrence) {
  for (const char* start : {"3001-01-01T09:00:00Z", "+10000-01-01T09:00:00Z"}) {
    Series series = Series::create("far");
    Event event;
    event.startDate = at(start);
    event.endDate = *event.startDate + 3600;
    const Occurrence saved = series.apply(event, std::nullopt, at("2025-01-01T00:00:00Z"));
    EXPECT_EQ(saved.start, *event.startDate) << start;
    EXPECT_EQ(saved.end, *event.endDate) << start;
  }
}

}  // namespace
}  // namespace tembra::local
