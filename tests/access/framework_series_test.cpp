// The system calendar framework's repeating events, as far as plain C++ decides them: a rule's text
// to the framework's fields and back, the rules it refuses, and which event found near an original
// start is the occurrence asked for.
#include "access/framework_series.h"

#include <gtest/gtest.h>

#include "support/scoped_tz.h"

// Rows name only the fields of a rule they set; the others keep their defaults.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tembra {
namespace {

TEST(FrameworkRule, TakesEachRuleTheFrameworkKeepsAndWritesItBack) {
  struct Case {
    const char* name;
    const char* text;
    FrameworkRule expected;
    const char* readBack;  // the text the framework's fields give back
  };
  const Case cases[] = {
      {"weekdays by the framework's numbers",
       "FREQ=WEEKLY;INTERVAL=2;BYDAY=SU,SA",
       {.frequency = FrameworkFrequency::weekly, .interval = 2, .daysOfTheWeek = {{1, 0}, {7, 0}}},
       "FREQ=WEEKLY;INTERVAL=2;BYDAY=SU,SA"},
      {"ordinals as week numbers",
       "FREQ=MONTHLY;BYDAY=-1FR,2MO;COUNT=3",
       {.frequency = FrameworkFrequency::monthly,
        .daysOfTheWeek = {{6, -1}, {2, 2}},
        .occurrenceCount = 3},
       "FREQ=MONTHLY;COUNT=3;BYDAY=-1FR,2MO"},
      {"days of the month and a set position",
       "FREQ=MONTHLY;BYMONTHDAY=1,-1;BYSETPOS=2",
       {.frequency = FrameworkFrequency::monthly, .daysOfTheMonth = {1, -1}, .setPositions = {2}},
       "FREQ=MONTHLY;BYMONTHDAY=1,-1;BYSETPOS=2"},
      {"every yearly part",
       "FREQ=YEARLY;BYMONTH=5;BYWEEKNO=20;BYYEARDAY=-1",
       {.frequency = FrameworkFrequency::yearly,
        .monthsOfTheYear = {5},
        .weeksOfTheYear = {20},
        .daysOfTheYear = {-1}},
       "FREQ=YEARLY;BYYEARDAY=-1;BYWEEKNO=20;BYMONTH=5"},
      {"until a time in UTC",
       "freq=daily;until=20240510T120000Z",
       {.endDate = Instant{1715342400}},
       "FREQ=DAILY;UNTIL=20240510T120000Z"},
      // Monday is the week start of a rule without WKST: the rule is the same without it.
      {"WKST Monday where weeks are counted",
       "FREQ=WEEKLY;INTERVAL=2;BYDAY=TU,SU;WKST=MO",
       {.frequency = FrameworkFrequency::weekly, .interval = 2, .daysOfTheWeek = {{3, 0}, {1, 0}}},
       "FREQ=WEEKLY;INTERVAL=2;BYDAY=TU,SU"},
      {"WKST where it changes no occurrence",
       "FREQ=WEEKLY;WKST=SU",
       {.frequency = FrameworkFrequency::weekly},
       "FREQ=WEEKLY"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string problem;
    const std::optional<FrameworkRule> rule = frameworkRule(c.text, problem);
    ASSERT_TRUE(rule.has_value()) << problem;
    EXPECT_EQ(*rule, c.expected);
    EXPECT_EQ(frameworkRuleText(*rule, false), c.readBack);
  }
}

TEST(FrameworkRule, RefusesWhatTheFrameworkCannotKeepAndSaysWhy) {
  const std::pair<const char*, const char*> cases[] = {
      {"FREQ=HOURLY", "系统日历只支持按天、周、月或年重复"},
      {"FREQ=SECONDLY", "系统日历只支持按天、周、月或年重复"},
      {"FREQ=DAILY;BYHOUR=9,17", "系统日历不支持 BYHOUR、BYMINUTE 或 BYSECOND"},
      {"FREQ=WEEKLY;BYMINUTE=30", "系统日历不支持 BYHOUR、BYMINUTE 或 BYSECOND"},
      {"FREQ=DAILY;BYDAY=MO,FR", "系统日历不支持每天重复时的 BYDAY"},
      {"FREQ=YEARLY;BYMONTH=3;BYMONTHDAY=15", "系统日历只在按月重复时支持 BYMONTHDAY"},
      {"FREQ=MONTHLY;BYMONTH=1,7", "系统日历只在按年重复时支持 BYMONTH、BYWEEKNO 和 BYYEARDAY"},
      {"FREQ=MONTHLY;BYDAY=6MO", "系统日历在按月重复时只支持 -5 到 5 的 BYDAY 序号"},
      {"FREQ=MONTHLY;BYDAY=-6MO", "系统日历在按月重复时只支持 -5 到 5 的 BYDAY 序号"},
      {"FREQ=WEEKLY;INTERVAL=2;BYDAY=TU,SU;WKST=SU",
       "系统日历无法保存这个规则的 WKST（一周的第一天）"},
      {"FREQ=YEARLY;BYWEEKNO=1;WKST=SU", "系统日历无法保存这个规则的 WKST（一周的第一天）"},
      // Text that is not one rule is refused as the parser words it.
      {"FREQ=DAILY;FREQ=WEEKLY", "FREQ 出现了不止一次"},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    std::string problem;
    EXPECT_FALSE(frameworkRule(text, problem).has_value());
    EXPECT_EQ(problem, expected);
  }
}

TEST(FrameworkRuleText, WritesWhatTheFrameworkHoldsAsOneRule) {
  struct Case {
    const char* name;
    FrameworkRule rule;
    const char* text;
  };
  const Case cases[] = {
      {"a first day of the week",
       {.frequency = FrameworkFrequency::weekly, .firstDayOfTheWeek = 1},
       "FREQ=WEEKLY;WKST=SU"},
      // The framework answers a count of 0 for an end by date.
      {"an end date, to the second",
       {.occurrenceCount = 0, .endDate = Instant{1715342400.75}},
       "FREQ=DAILY;UNTIL=20240510T120000Z"},
      {"an end before 1970", {.endDate = Instant{-1}}, "FREQ=DAILY;UNTIL=19691231T235959Z"},
      {"a frequency this build does not know",
       {.frequency = static_cast<FrameworkFrequency>(7)},
       ""},
      {"weekdays out of range left out",
       {.frequency = FrameworkFrequency::weekly, .daysOfTheWeek = {{0, 0}, {3, 0}, {8, 0}}},
       "FREQ=WEEKLY;BYDAY=TU"},
      {"no interval", {.interval = 0}, "FREQ=DAILY"},
      {"a count beyond what a rule writes",
       {.occurrenceCount = 5'000'000'000L},
       "FREQ=DAILY;COUNT=2147483647"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(frameworkRuleText(c.rule, false), c.text);
  }
}

TEST(FrameworkRuleText, EndsASeriesOfDaysOnItsLocalDateInEveryZone) {
  struct Case {
    const char* zone;
    const char* timed;  // the same UNTIL date read back for a series of timed events
  };
  const Case cases[] = {
      {"UTC", "FREQ=DAILY;UNTIL=20240510T235959Z"},
      {"Asia/Shanghai", "FREQ=DAILY;UNTIL=20240510T155959Z"},
      {"America/New_York", "FREQ=DAILY;UNTIL=20240511T035959Z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zone);
    testing::ScopedTz zone(c.zone);
    std::string problem;
    const std::optional<FrameworkRule> rule = frameworkRule("FREQ=DAILY;UNTIL=20240510", problem);
    ASSERT_TRUE(rule.has_value()) << problem;
    EXPECT_EQ(frameworkRuleText(*rule, true), "FREQ=DAILY;UNTIL=20240510");
    EXPECT_EQ(frameworkRuleText(*rule, false), c.timed);
  }
}

constexpr double kOccurrence = 1715342400;  // 2024-05-10T12:00:00Z

Event occurrenceFound(const char* id, const char* external, const char* calendar,
                      std::optional<double> originalStart, double start) {
  Event event;
  event.eventIdentifier = id;
  event.calendarItemExternalIdentifier = external;
  Calendar value;
  value.calendarIdentifier = calendar;
  event.calendar = value;
  if (originalStart)
    event.occurrenceDate = Instant{*originalStart};
  event.startDate = Instant{start};
  event.endDate = Instant{start + 3600};
  return event;
}

TEST(OccurrenceAmong, PicksTheSeriesOccurrenceThatOriginallyStartsThere) {
  struct Case {
    const char* name;
    std::vector<Event> found;
    std::optional<std::size_t> expected;
  };
  const Event series = occurrenceFound("S", "ext-S", "home", kOccurrence - 7 * 86400, 0);
  const double day = 86400;
  const Case cases[] = {
      {"not moved",
       {occurrenceFound("S", "ext-S", "home", kOccurrence - day, kOccurrence - day),
        occurrenceFound("S", "ext-S", "home", kOccurrence, kOccurrence)},
       1},
      {"moved three days later",
       {occurrenceFound("S", "ext-S", "home", kOccurrence, kOccurrence + 3 * day)},
       0},
      {"another event that starts there",
       {occurrenceFound("T", "ext-T", "home", kOccurrence, kOccurrence)},
       std::nullopt},
      {"changed on its own, with an identifier of its own",
       {occurrenceFound("S/changed", "ext-S", "home", kOccurrence, kOccurrence + 3600)},
       0},
      {"the same external identifier in another calendar",
       {occurrenceFound("S2", "ext-S", "work", kOccurrence, kOccurrence)},
       std::nullopt},
      {"the identifier before the external identifier",
       {occurrenceFound("S2", "ext-S", "home", kOccurrence, kOccurrence),
        occurrenceFound("S", "ext-S", "home", kOccurrence, kOccurrence)},
       1},
      {"a millisecond off",
       {occurrenceFound("S", "ext-S", "home", kOccurrence + 0.001, kOccurrence)},
       std::nullopt},
      {"within the millisecond dates are written with",
       {occurrenceFound("S", "ext-S", "home", kOccurrence + 0.0004, kOccurrence)},
       0},
      {"an event without an original start",
       {occurrenceFound("S", "ext-S", "home", std::nullopt, kOccurrence)},
       std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(occurrenceAmong(c.found, series, Instant{kOccurrence}), c.expected);
  }
}

TEST(OccurrenceSearchWindows, NearestFirstEachWithinOneQueryOfTheFramework) {
  const auto windows = occurrenceSearchWindows(Instant{kOccurrence});
  ASSERT_EQ(windows.size(), 2u);
  double reach = 0;
  for (const auto& [from, to] : windows) {
    EXPECT_LE(from.seconds, kOccurrence - 86400);
    EXPECT_GE(to.seconds, kOccurrence + 86400);
    EXPECT_GT(to.seconds - kOccurrence, reach);  // each reaches further than the one before
    reach = to.seconds - kOccurrence;
    // The framework reads at most four years per query and cuts a longer one short.
    EXPECT_LT(to.seconds - from.seconds, 4 * 365 * 86400.0);
  }
  EXPECT_GE(reach, 365 * 86400.0);
}

}  // namespace
}  // namespace tembra

#pragma GCC diagnostic pop
