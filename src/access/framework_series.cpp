// Rules between RRULE text and the framework's fields, and occurrences by their original start.
#include "access/framework_series.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "access/recurrence_rule.h"
#include "records/civil.h"

namespace tembra {
namespace {

constexpr double kDay = 86400;

// UNTIL for an end date: in UTC, or as the local date of a series of days.
std::string untilText(Instant end, bool allDay) {
  const auto seconds = static_cast<long long>(std::floor(end.seconds));
  // Wide enough for every value the format's fields can take, as the compiler counts them: a
  // Release build refuses a buffer it could overflow.
  char text[64];
  if (allDay) {
    const auto time = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (::localtime_r(&time, &local) == nullptr)
      return {};
    std::snprintf(text, sizeof text, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    return text;
  }
  const long long days = civil::floorDiv(seconds, 86400);
  const long long inDay = seconds - days * 86400;
  const civil::Date date = civil::civilFromDays(days);
  std::snprintf(text, sizeof text, "%04lld%02u%02uT%02lld%02lld%02lldZ",
                static_cast<long long>(date.year), date.month, date.day, inDay / 3600,
                inDay / 60 % 60, inDay % 60);
  return text;
}

}  // namespace

std::optional<FrameworkRule> frameworkRule(std::string_view text, std::string& problem) {
  const std::optional<RecurrenceRule> parsed = parseRecurrenceRule(text, problem);
  if (!parsed)
    return std::nullopt;
  if (std::optional<std::string> refused = frameworkRuleProblem(*parsed)) {
    problem = std::move(*refused);
    return std::nullopt;
  }
  FrameworkRule rule;
  rule.frequency = static_cast<FrameworkFrequency>(static_cast<int>(parsed->frequency) -
                                                   static_cast<int>(Frequency::daily));
  rule.interval = parsed->interval;
  for (const RuleWeekday& day : parsed->byDay)
    rule.daysOfTheWeek.push_back({day.weekday + 1, day.ordinal});
  rule.daysOfTheMonth = parsed->byMonthDay;
  rule.monthsOfTheYear = parsed->byMonth;
  rule.weeksOfTheYear = parsed->byWeekNo;
  rule.daysOfTheYear = parsed->byYearDay;
  rule.setPositions = parsed->bySetPos;
  if (parsed->count)
    rule.occurrenceCount = *parsed->count;
  rule.endDate = untilInstant(*parsed);
  return rule;
}

std::string frameworkRuleText(const FrameworkRule& fields, bool allDay) {
  const int frequency = static_cast<int>(fields.frequency);
  // A frequency the framework added after this was written: the event repeats, by a rule that
  // cannot be told.
  if (frequency < 0 || frequency > static_cast<int>(FrameworkFrequency::yearly))
    return {};
  RecurrenceRule rule;
  rule.frequency = static_cast<Frequency>(static_cast<int>(Frequency::daily) + frequency);
  rule.interval = fields.interval > 0 ? fields.interval : 1;
  for (const FrameworkWeekday& day : fields.daysOfTheWeek) {
    if (day.dayOfTheWeek >= 1 && day.dayOfTheWeek <= 7)
      rule.byDay.push_back({day.dayOfTheWeek - 1, day.weekNumber});
  }
  rule.byMonthDay = fields.daysOfTheMonth;
  rule.byMonth = fields.monthsOfTheYear;
  rule.byWeekNo = fields.weeksOfTheYear;
  rule.byYearDay = fields.daysOfTheYear;
  rule.bySetPos = fields.setPositions;
  if (fields.firstDayOfTheWeek >= 1 && fields.firstDayOfTheWeek <= 7)
    rule.weekStart = fields.firstDayOfTheWeek - 1;
  // The framework answers 0 for the count of an end by date.
  if (fields.occurrenceCount && *fields.occurrenceCount > 0)
    rule.count = static_cast<int>(std::min<long>(*fields.occurrenceCount, INT_MAX));
  else if (fields.endDate)
    rule.until = untilText(*fields.endDate, allDay);
  if (rule.until && rule.until->empty())
    rule.until.reset();
  return recurrenceRuleText(rule);
}

std::vector<std::pair<Instant, Instant>> occurrenceSearchWindows(Instant occurrenceDate) {
  const double at = occurrenceDate.seconds;
  return {{Instant{at - kDay}, Instant{at + kDay}},
          {Instant{at - 366 * kDay}, Instant{at + 366 * kDay}}};
}

std::optional<std::size_t> occurrenceAmong(const std::vector<Event>& found, const Event& series,
                                           Instant occurrenceDate) {
  const auto first = [&](auto&& same) -> std::optional<std::size_t> {
    for (std::size_t i = 0; i < found.size(); ++i) {
      const Event& event = found[i];
      if (event.occurrenceDate && sameMillisecond(*event.occurrenceDate, occurrenceDate) &&
          same(event)) {
        return i;
      }
    }
    return std::nullopt;
  };
  if (series.eventIdentifier) {
    const auto byIdentifier =
        first([&](const Event& event) { return event.eventIdentifier == series.eventIdentifier; });
    if (byIdentifier)
      return byIdentifier;
  }
  // An occurrence changed on its own may have an identifier of its own; the external identifier
  // is shared by the series, though not only within one calendar.
  const std::optional<std::string>& external = series.calendarItemExternalIdentifier;
  if (!external || external->empty() || !series.calendar)
    return std::nullopt;
  return first([&](const Event& event) {
    return event.calendarItemExternalIdentifier == external && event.calendar &&
           event.calendar->calendarIdentifier == series.calendar->calendarIdentifier;
  });
}

bool sameMillisecond(Instant a, Instant b) {
  return std::round(a.seconds * 1000) == std::round(b.seconds * 1000);
}

}  // namespace tembra
