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
constexpr std::int64_t kAfterLastYear = civil::daysFromCivil(10000, 1, 1) * kDay;

struct Case {
  const char* name;
  const char* rule;
  const char* start;
  std::int64_t span;  // how far libical walks, within its years
};

class RecurrenceTest : public ::testing::TestWithParam<Case> {};

// For some BYWEEKNO rules libical's first time is no start of the rule, and later than the
// second; the oracle leaves it out, as Recurrence does.
TEST_P(RecurrenceTest, AgreesWithLibicalWalkingFromTheStart) {
  const Case& row = GetParam();
  icaltimetype start = icaltime_from_string(row.start);
  if (start.is_date)
    start.hour = start.minute = start.second = 0;
  const std::int64_t first = wallSeconds(start);
  const icalrecurrencetype rule = icalrecurrencetype_from_string(row.rule);
  ical::RecurIterator iterator(icalrecur_iterator_new(rule, start));
  std::vector<std::int64_t> all;
  for (icaltimetype next = icalrecur_iterator_next(iterator.get());
       !icaltime_is_null_time(next) && (all.size() < 2 || all.back() < first + row.span);
       next = icalrecur_iterator_next(iterator.get())) {
    all.push_back(wallSeconds(next));
  }
  if (all.size() > 1 && all[1] < all[0])
    all.erase(all.begin());

  const std::int64_t span = row.span;
  for (const std::int64_t cycles : {0, -4, 7, 19}) {
    const std::int64_t by = cycles * kCycle;
    const auto moved = Recurrence::make(rule, wallTime(first + by, start.is_date != 0));
    ASSERT_TRUE(moved);
    // The beginning, an odd stretch in the middle, and the end of the span.
    for (const auto& [from, to] : {std::pair{first, first + span / 50},
                                   {first + span / 3 + span / 100 + 7, first + span / 3 + span / 7},
                                   {first + span - span / 9 - 777, first + span}}) {
      std::vector<std::int64_t> expected;
      for (const std::int64_t wall : all) {
        if (wall >= from && wall < to && wall + by < kAfterLastYear)
          expected.push_back(wall + by);
      }
      EXPECT_EQ(moved->starts(from + by, to + by, 1'000'000), expected)
          << cycles << " cycles from " << icaltime_as_ical_string(wallTime(from + by, false));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, RecurrenceTest,
    ::testing::Values(
        Case{"weekly_days_every_third", "FREQ=WEEKLY;INTERVAL=3;BYDAY=MO,FR;WKST=SU",
             "20250301T093000", 500 * kYear},
        Case{"weekly_summer_every_other", "FREQ=WEEKLY;INTERVAL=2;BYDAY=TU;BYMONTH=6,7,8",
             "19990601T070000", 550 * kYear},
        Case{"monthly_every_fifth_2tu", "FREQ=MONTHLY;INTERVAL=5;BYDAY=2TU", "20250311T090000",
             550 * kYear},
        Case{"monthly_every_seventh_31st", "FREQ=MONTHLY;INTERVAL=7", "20250131T080000",
             550 * kYear},
        Case{"monthly_last_weekday", "FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1",
             "19990115T170000", 550 * kYear},
        Case{"yearly_every_third_leap_day", "FREQ=YEARLY;INTERVAL=3", "20240229", 550 * kYear},
        Case{"yearly_weeks", "FREQ=YEARLY;BYWEEKNO=1,52;BYDAY=MO", "19980105T100000", 550 * kYear},
        Case{"daily_every_third_february", "FREQ=DAILY;INTERVAL=3;BYMONTH=2", "20000201T120000",
             100 * kYear},
        Case{"daily_dates_every_tenth", "FREQ=DAILY;INTERVAL=10", "20240229", 300 * kYear},
        Case{"hourly_every_fifth", "FREQ=HOURLY;INTERVAL=5", "20250301T093000", 3 * kYear},
        Case{"hourly_working_hours", "FREQ=HOURLY;BYDAY=MO,TU,WE,TH,FR;BYHOUR=9,10,11,12,13",
             "20250303T090000", 3 * kYear},
        Case{"minutely_every_seventh_at_9_and_17", "FREQ=MINUTELY;INTERVAL=7;BYHOUR=9,17",
             "20250301T090300", 60 * kDay},
        Case{"secondly_every_13th_twice_an_hour", "FREQ=SECONDLY;INTERVAL=13;BYMINUTE=0,30",
             "20250301T000000", 2 * kDay},
        // COUNT rules whose end lies beyond one period of their pattern, or within it.
        Case{"count_monthly_2tu", "FREQ=MONTHLY;BYDAY=2TU;COUNT=5000", "19000109T090000",
             450 * kYear},
        Case{"count_hourly_two_days", "FREQ=HOURLY;BYDAY=MO,TU;BYHOUR=9,10;COUNT=1001",
             "20250303T093000", 6 * kYear},
        Case{"count_yearly_leap_days", "FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=29;COUNT=120", "16040229",
             500 * kYear},
        Case{"count_daily_every_third_february", "FREQ=DAILY;INTERVAL=3;BYMONTH=2;COUNT=6000",
             "16000201T120000", 650 * kYear},
        Case{"count_minutely_every_seventh", "FREQ=MINUTELY;INTERVAL=7;COUNT=20000",
             "20250301T235900", 100 * kDay},
        Case{"count_start_off_the_rule", "FREQ=MONTHLY;BYMONTHDAY=1;COUNT=700", "20250115T090000",
             100 * kYear}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tembra::local
