// Event series read in every year from 0000 to 9999.
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
