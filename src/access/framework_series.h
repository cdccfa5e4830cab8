// Repeating events as the system calendar framework holds them: a rule as the fields of its rule
// object, and an occurrence found by its original start. Plain C++, so that the macOS back-end only
// copies fields between these values and the framework's objects.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "access/calendar_store.h"

namespace tembra {

// The framework's frequencies, by its own numbers.
enum class FrameworkFrequency { daily = 0, weekly = 1, monthly = 2, yearly = 3 };

// A weekday as the framework numbers it (1 for Sunday to 7 for Saturday), with its week number:
// 2 for the second in the month or year, -1 for the last, 0 for every one.
struct FrameworkWeekday {
  int dayOfTheWeek = 1;
  int weekNumber = 0;
  friend bool operator==(const FrameworkWeekday&, const FrameworkWeekday&) = default;
};

// The fields of one framework rule. A list left empty is a part the rule does not have; the end is
// a count of occurrences, an end date, or neither (no end).
struct FrameworkRule {
  FrameworkFrequency frequency = FrameworkFrequency::daily;
  int interval = 1;
  std::vector<FrameworkWeekday> daysOfTheWeek;
  std::vector<int> daysOfTheMonth, monthsOfTheYear, weeksOfTheYear, daysOfTheYear, setPositions;
  // 1 for Sunday to 7 for Saturday; 0 when not set. The framework makes every new rule without
  // one, so only rules read from it carry one.
  int firstDayOfTheWeek = 0;
  std::optional<long> occurrenceCount;
  std::optional<Instant> endDate;
  friend bool operator==(const FrameworkRule&, const FrameworkRule&) = default;
};

// The framework's fields for RRULE value text; none, with `problem` in the user's words, for text
// that is not one rule or a rule the framework cannot keep as written. UNTIL becomes the end date
// as untilInstant reads it.
std::optional<FrameworkRule> frameworkRule(std::string_view text, std::string& problem);

// The RRULE value text of the framework's fields, spelled as recurrenceRuleText spells rules. The
// end date is written as UNTIL in UTC, or for an all-day event as the date it falls on in the
// machine's zone, as RFC 5545 writes the UNTIL of a series of days.
std::string frameworkRuleText(const FrameworkRule& rule, bool allDay);

// Where the framework is asked for the occurrence that originally starts at `occurrenceDate`, in
// turn: the day either side, where an occurrence that was not moved or moved a little lies, then a
// year either side. An occurrence moved further away than that is not found.
std::vector<std::pair<Instant, Instant>> occurrenceSearchWindows(Instant occurrenceDate);

// Which of the events a search window found is the occurrence of `series` (the event its
// identifier names) that originally starts at `occurrenceDate`, to the millisecond dates are
// written with: one with the series' identifier, else one of the series' calendar with its
// external identifier (which every occurrence shares). None when no event is.
std::optional<std::size_t> occurrenceAmong(const std::vector<Event>& found, const Event& series,
                                           Instant occurrenceDate);

// Whether two instants are the same to the millisecond, the precision dates are written with.
bool sameMillisecond(Instant a, Instant b);

}  // namespace tembra
