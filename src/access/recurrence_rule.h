// Recurrence rules as RFC 5545 writes them (RRULE value text) and the parts they set, so that a
// host's rule is checked once, and a store that keeps rules as fields (the system calendar
// framework) translates them here, where they can be tested.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "access/calendar_store.h"

namespace tembra {

enum class Frequency { secondly, minutely, hourly, daily, weekly, monthly, yearly };

// A weekday of BYDAY (0 for Sunday to 6 for Saturday), with its ordinal: 2 for the second of the
// month or year, -1 for the last, 0 for every one.
struct RuleWeekday {
  int weekday = 0;
  int ordinal = 0;
  friend bool operator==(const RuleWeekday&, const RuleWeekday&) = default;
};

struct RecurrenceRule {
  Frequency frequency = Frequency::daily;
  int interval = 1;
  std::optional<int> count;
  // UNTIL as written: a date (8 digits), a local date-time, or a UTC one (ending in "Z").
  std::optional<std::string> until;
  std::vector<int> bySecond, byMinute, byHour;
  std::vector<RuleWeekday> byDay;
  std::vector<int> byMonthDay, byYearDay, byWeekNo, byMonth, bySetPos;
  std::optional<int> weekStart;  // 0 for Sunday to 6 for Saturday
  friend bool operator==(const RecurrenceRule&, const RecurrenceRule&) = default;
};

// The rule the text writes; none, with `problem` saying in the user's words what is wrong, for
// text that is not one RFC 5545 rule: no FREQ, a part not known or given twice, a value out of its
// range, both COUNT and UNTIL. Names and values are read without regard to case.
std::optional<RecurrenceRule> parseRecurrenceRule(std::string_view text, std::string& problem);

// The rule as RRULE value text, its parts in the order RFC 5545 lists them.
std::string recurrenceRuleText(const RecurrenceRule& rule);

// The rule in the spelling of recurrenceRuleText, for showing a store's rule the same way on every
// back-end; the text as it is when it is not one rule.
std::string canonicalRuleText(std::string_view text);

// UNTIL as an instant: a UTC time as it is, a local date-time in the machine's zone, a date at the
// end of its day there (UNTIL includes its day). None without UNTIL.
std::optional<Instant> untilInstant(const RecurrenceRule& rule);

// Why the system calendar framework cannot keep the rule, in the user's words: it repeats only
// daily, weekly, monthly or yearly, by weekdays (with an ordinal only monthly or yearly), days of
// the month, months, weeks and days of the year (only yearly) and set positions, and knows no
// hours, minutes or seconds; in a monthly rule a weekday's ordinal lies within -5 to 5; and a rule
// cannot be given a first day of the week, so a WKST other than MO that changes the occurrences
// (weekly with an interval and several weekdays, or with BYWEEKNO) is refused. None when it can.
std::optional<std::string> frameworkRuleProblem(const RecurrenceRule& rule);

}  // namespace tembra
