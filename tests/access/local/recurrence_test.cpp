// Recurrence rules walked in pieces from moved starts agree with libical walking them from DTSTART,
// where libical can, and with themselves moved by whole 400-year cycles, where it cannot.
#include "access/local/recurrence.h"

#include <gtest/gtest.h>

#include "access/local/ical.h"
#include "access/local/times.h"

namespace tembra::local {
namespace {

constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kYear = 365 * kDay;
constexpr std::int64_t kCycle = 146097 * kDay;
constexpr std::size_t kAll = 1'000'000;
constexpr std::int64_t kAfterLastYear = civil::daysFromCivil(10000, 1, 1) * kDay;

icaltimetype timeOf(const char* text) {
  icaltimetype time = icaltime_from_string(text);
  if (time.is_date)
    time.hour = time.minute = time.second = 0;
  return time;
}

std::string textOf(std::int64_t wall, bool isDate) {
  return icaltime_as_ical_string(wallTime(wall, isDate));
}

// libical alone, from DTSTART: the starts in [from, to). For some BYWEEKNO rules its first time
// is no start of the rule, and later than the second; that one is left out.
std::vector<std::int64_t> libicalStarts(const char* rule, icaltimetype start, std::int64_t from,
                                        std::int64_t to) {
  ical::RecurIterator iterator(icalrecur_iterator_new(icalrecurrencetype_from_string(rule), start));
  std::vector<std::int64_t> all;
  for (icaltimetype next = icalrecur_iterator_next(iterator.get()); !icaltime_is_null_time(next);
       next = icalrecur_iterator_next(iterator.get())) {
    all.push_back(wallSeconds(next));
    if (all.back() >= to && all.size() > 1)
      break;
  }
  if (all.size() > 1 && all[1] < all[0])
    all.erase(all.begin());
  std::vector<std::int64_t> found;
  for (const std::int64_t wall : all) {
    if (wall >= from && wall < to && (found.empty() || wall > found.back()))
      found.push_back(wall);
  }
  return found;
}

std::vector<std::int64_t> ours(const char* rule, icaltimetype start, std::int64_t from,
                               std::int64_t to) {
  const auto recurrence = Recurrence::make(icalrecurrencetype_from_string(rule), start);
  return recurrence ? recurrence->starts(from, to, kAll) : std::vector<std::int64_t>{};
}

struct Case {
  const char* name;
  const char* rule;
  const char* start;
  std::int64_t span;  // how far libical is asked to walk, within its years
};

// Windows over the span: its beginning, an odd stretch in its middle, and its end.
std::vector<std::pair<std::int64_t, std::int64_t>> windowsOf(std::int64_t start,
                                                             std::int64_t span) {
  return {{start, start + span / 50},
          {start + span / 3 + span / 100 + 7, start + span / 3 + span / 7},
          {start + span - span / 9 - 777, start + span}};
}

// The starts of `all` in [from, to), moved by `by`, before year 10000.
std::vector<std::int64_t> slice(const std::vector<std::int64_t>& all, std::int64_t from,
                                std::int64_t to, std::int64_t by = 0) {
  std::vector<std::int64_t> found;
  for (const std::int64_t wall : all) {
    if (wall >= from && wall < to && wall + by < kAfterLastYear)
      found.push_back(wall + by);
  }
  return found;
}

class RecurrenceTest : public ::testing::TestWithParam<Case> {};

TEST_P(RecurrenceTest, AgreesWithLibicalFromTheStart) {
  const Case& row = GetParam();
  const icaltimetype start = timeOf(row.start);
  const std::int64_t first = wallSeconds(start);
  const auto all = libicalStarts(row.rule, start, first, first + row.span);
  for (const auto& [from, to] : windowsOf(first, row.span)) {
    const auto expected = slice(all, from, to);
    EXPECT_FALSE(expected.empty()) << textOf(from, false);
    EXPECT_EQ(ours(row.rule, start, from, to), expected)
        << textOf(from, false) << " to " << textOf(to, false);
  }
}

// Years libical cannot walk (before 1583, after 2582) give the starts of the same rule moved
// by whole cycles into years it can.
TEST_P(RecurrenceTest, RepeatsEveryFourHundredYears) {
  const Case& row = GetParam();
  const icaltimetype start = timeOf(row.start);
  const std::int64_t first = wallSeconds(start);
  const auto all = libicalStarts(row.rule, start, first, first + row.span);
  for (const std::int64_t cycles : {-4, 7, 19}) {
    const std::int64_t by = cycles * kCycle;
    const icaltimetype moved = wallTime(first + by, start.is_date != 0);
    for (const auto& [from, to] : windowsOf(first, row.span)) {
      EXPECT_EQ(ours(row.rule, moved, from + by, to + by), slice(all, from, to, by))
          << cycles << " cycles, " << textOf(from + by, start.is_date != 0);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, RecurrenceTest,
    ::testing::Values(
        Case{"weekly_every_other", "FREQ=WEEKLY;INTERVAL=2", "20250301T093000", 500 * kYear},
        Case{"weekly_days_every_third_from_sunday", "FREQ=WEEKLY;INTERVAL=3;BYDAY=MO,FR;WKST=SU",
             "20250301T093000", 500 * kYear},
        Case{"weekly_summer_every_other", "FREQ=WEEKLY;INTERVAL=2;BYDAY=TU;BYMONTH=6,7,8",
             "19990601T070000", 550 * kYear},
        Case{"monthly_every_fifth_second_tuesday", "FREQ=MONTHLY;INTERVAL=5;BYDAY=2TU",
             "20250311T090000", 550 * kYear},
        Case{"monthly_on_the_31st", "FREQ=MONTHLY", "20250131T080000", 550 * kYear},
        Case{"monthly_every_seventh_from_the_31st", "FREQ=MONTHLY;INTERVAL=7", "20250131T080000",
             550 * kYear},
        Case{"monthly_last_weekday", "FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1",
             "19990115T170000", 550 * kYear},
        Case{"monthly_last_days_every_other", "FREQ=MONTHLY;INTERVAL=2;BYMONTHDAY=-1,-3",
             "17000101T000000", 850 * kYear},
        Case{"yearly_every_third_leap_day", "FREQ=YEARLY;INTERVAL=3", "20240229", 550 * kYear},
        Case{"yearly_every_third_june", "FREQ=YEARLY;INTERVAL=3;BYMONTH=6", "20240229T120000",
             550 * kYear},
        Case{"yearly_weeks", "FREQ=YEARLY;BYWEEKNO=1,52;BYDAY=MO", "19980105T100000", 550 * kYear},
        Case{"yearly_fourth_thursday", "FREQ=YEARLY;BYMONTH=11;BYDAY=4TH", "20241128", 550 * kYear},
        Case{"yearly_days", "FREQ=YEARLY;BYYEARDAY=1,-1,100", "20000101T000000", 550 * kYear},
        Case{"daily_every_third_in_february", "FREQ=DAILY;INTERVAL=3;BYMONTH=2", "20000201T120000",
             100 * kYear},
        Case{"daily_weekdays_twice", "FREQ=DAILY;BYDAY=MO,WE,FR;BYHOUR=8,20;BYMINUTE=15",
             "20250303T081500", 40 * kYear},
        Case{"daily_dates_every_tenth", "FREQ=DAILY;INTERVAL=10", "20240229", 300 * kYear},
        Case{"hourly_every_fifth", "FREQ=HOURLY;INTERVAL=5", "20250301T093000", 3 * kYear},
        Case{"hourly_working_hours",
             "FREQ=HOURLY;BYDAY=MO,TU,WE,TH,FR;BYHOUR=9,10,11,12,13,14,15,16", "20250303T090000",
             3 * kYear},
        Case{"minutely_every_seventh_in_two_hours", "FREQ=MINUTELY;INTERVAL=7;BYHOUR=9,17",
             "20250301T090300", 60 * kDay},
        Case{"secondly_every_thirteenth_twice_an_hour", "FREQ=SECONDLY;INTERVAL=13;BYMINUTE=0,30",
             "20250301T000000", 2 * kDay}),
    [](const auto& info) { return std::string(info.param.name); });

struct CountCase {
  const char* name;
  const char* rule;
  const char* start;
};

class CountTest : public ::testing::TestWithParam<CountCase> {};

// The last start of a COUNT rule comes from one period of it; libical counts them all.
TEST_P(CountTest, EndsWhereLibicalCountsTheEnd) {
  const CountCase& row = GetParam();
  const icaltimetype start = timeOf(row.start);
  const std::int64_t from = wallSeconds(start);
  const std::int64_t to = wallSeconds(timeOf("25800101T000000"));
  EXPECT_EQ(ours(row.rule, start, from, to), libicalStarts(row.rule, start, from, to));
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CountTest,
    ::testing::Values(
        CountCase{"monthly_second_tuesday_beyond_a_cycle", "FREQ=MONTHLY;BYDAY=2TU;COUNT=5000",
                  "19000109T090000"},
        CountCase{"hourly_two_days_two_hours", "FREQ=HOURLY;BYDAY=MO,TU;BYHOUR=9,10;COUNT=1001",
                  "20250303T093000"},
        CountCase{"weekly_every_other_two_days", "FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,FR;COUNT=999",
                  "20250305T120000"},
        CountCase{"yearly_leap_days", "FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=29;COUNT=120", "16040229"},
        CountCase{"daily_every_third_in_february", "FREQ=DAILY;INTERVAL=3;BYMONTH=2;COUNT=6000",
                  "16000201T120000"},
        CountCase{"minutely_every_seventh", "FREQ=MINUTELY;INTERVAL=7;COUNT=20000",
                  "20250301T235900"},
        CountCase{"dtstart_off_the_rule", "FREQ=MONTHLY;BYMONTHDAY=1;COUNT=700",
                  "20250115T090000"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tembra::local
