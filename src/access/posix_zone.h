// Time-zone rules written as POSIX TZ strings ("CST-8", "<+0530>-5:30",
// "EST5EDT,M3.2.0,M11.1.0"), as TZ and the last line of a TZif file hold them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tembra {

// A day of the year a rule changes the clocks on: Jn (day of a year without 29 February, 1 to
// 365), n (day of the year from 0) or Mm.w.d (day d of week w of month m; week 5 is the last), at
// `time` seconds after local midnight (which may be below 0 or past a day).
struct PosixRuleDate {
  enum class Kind { julianNoLeap, julian, monthWeekDay } kind = Kind::monthWeekDay;
  int day = 0, week = 0, month = 0;
  std::int64_t time = 7200;

  // Days since 1970 of this date in the year.
  std::int64_t daysIn(std::int64_t year) const;
};

struct PosixZone {
  int standard = 0;  // seconds east of UTC
  std::optional<int> daylight;
  // When daylight time begins (in standard time) and ends (in daylight time).
  PosixRuleDate start, end;

  // None for text that is not one rule, whole, as the C library reads it; daylight time without
  // dates follows the United States' rules, as the C library assumes.
  static std::optional<PosixZone> parse(std::string_view text);

  // Seconds east of UTC in force at the instant (seconds since 1970, UTC).
  int offsetAt(std::int64_t utc) const;

  // The rule in one spelling, the same for every text of the same rule ("CST-8" and "<+08>-8"):
  // "UTC" for a zone that is always UTC.
  std::string canonical() const;

  // A VTIMEZONE of the TZID that gives the rule's offsets, for a reader of iCalendar. A rule whose
  // clocks change at a time before midnight or after the day (a POSIX extension) changes them at
  // the nearest moment of the same day.
  std::string vtimezone(std::string_view tzid) const;
};

}  // namespace tembra
