// RRULE value text as hosts write it: read in any case and order, written in one spelling, and
// refused with what is wrong; and what the system calendar framework cannot hold.
#include "access/recurrence_rule.h"

#include <gtest/gtest.h>

namespace tembra {
namespace {

struct RuleCase {
  const char* text;
  const char* written;         // the spelling it is kept in; "" when refused
  const char* problem;         // what the refusal says
  const char* framework = "";  // what the framework cannot hold, "" when it can
};

TEST(RecurrenceRule, IsReadWrittenOrRefusedWithItsProblem) {
  const RuleCase cases[] = {
      {"FREQ=WEEKLY;BYDAY=MO,WE;COUNT=10", "FREQ=WEEKLY;COUNT=10;BYDAY=MO,WE", ""},
      {"byday=-1su;freq=monthly;interval=2", "FREQ=MONTHLY;INTERVAL=2;BYDAY=-1SU", ""},
      {"FREQ=YEARLY;BYMONTH=3;BYDAY=2SU;UNTIL=20301231T235959Z",
       "FREQ=YEARLY;UNTIL=20301231T235959Z;BYDAY=2SU;BYMONTH=3", ""},
      {"FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1",
       "FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1", ""},
      {"FREQ=DAILY;UNTIL=20240531;WKST=MO", "FREQ=DAILY;UNTIL=20240531;WKST=MO", ""},
      {"FREQ=HOURLY;BYHOUR=9,17", "FREQ=HOURLY;BYHOUR=9,17", "",
       "系统日历只支持按天、周、月或年重复"},
      {"FREQ=DAILY;BYHOUR=9", "FREQ=DAILY;BYHOUR=9", "",
       "系统日历不支持 BYHOUR、BYMINUTE 或 BYSECOND"},
      {"FREQ=WEEKLY;BYMONTH=1", "FREQ=WEEKLY;BYMONTH=1", "",
       "系统日历只在按年重复时支持 BYMONTH、BYWEEKNO 和 BYYEARDAY"},
      {"BYDAY=MO", "", "缺少 FREQ"},
      {"FREQ=FORTNIGHTLY", "", "FREQ 的值不可用: FORTNIGHTLY"},
      {"FREQ=DAILY;COUNT=0", "", "COUNT 的值不可用: 0"},
      {"FREQ=DAILY;COUNT=3;UNTIL=20240601", "", "COUNT 和 UNTIL 不能同时出现"},
      {"FREQ=DAILY;FREQ=WEEKLY", "", "FREQ 出现了不止一次"},
      {"FREQ=DAILY;COLOR=RED", "", "不认识的部分 COLOR"},
      {"FREQ=DAILY;UNTIL=20240230", "", "UNTIL 的值不可用: 20240230"},
      {"FREQ=MONTHLY;BYMONTHDAY=32", "", "BYMONTHDAY 的值不可用: 32"},
      {"FREQ=WEEKLY;BYDAY=2MO", "",
       "带序号的 BYDAY 只能用于 FREQ=MONTHLY 或 YEARLY，且不能与 BYWEEKNO 同用"},
      {"FREQ=WEEKLY;BYMONTHDAY=1", "", "BYMONTHDAY 不能用于 FREQ=WEEKLY"},
      {"FREQ=MONTHLY;BYWEEKNO=20", "", "BYWEEKNO 只能用于 FREQ=YEARLY"},
      {"FREQ=MONTHLY;BYSETPOS=1", "", "BYSETPOS 需要与另一个 BY 部分同用"},
      {"FREQ=DAILY;;COUNT=2", "", "不是 名称=值 的形式: "},
  };
  for (const RuleCase& c : cases) {
    std::string problem;
    const auto rule = parseRecurrenceRule(c.text, problem);
    EXPECT_EQ(rule ? recurrenceRuleText(*rule) : "", c.written) << c.text;
    EXPECT_EQ(problem, c.problem) << c.text;
    if (rule) {
      EXPECT_EQ(frameworkRuleProblem(*rule).value_or(""), c.framework) << c.text;
      // Written text reads back as the same rule.
      std::string again;
      EXPECT_EQ(parseRecurrenceRule(recurrenceRuleText(*rule), again), rule) << c.text;
    }
  }
}

TEST(RecurrenceRule, UntilIsAnInstant) {
  std::string problem;
  const auto utc = parseRecurrenceRule("FREQ=DAILY;UNTIL=20240501T100000Z", problem);
  ASSERT_TRUE(utc);
  EXPECT_EQ(untilInstant(*utc), Instant{1714557600});
  EXPECT_FALSE(untilInstant(*parseRecurrenceRule("FREQ=DAILY", problem)));
}

}  // namespace
}  // namespace tembra
