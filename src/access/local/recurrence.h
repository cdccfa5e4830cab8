// The starts of one recurrence rule in wall-clock time, for every year from 0000 to 9999, although
// libical's iterator walks the Gregorian calendar only from 1582 to 2582.
#pragma once

#include <libical/ical.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "records/civil.h"

namespace tembra::local {

// A COUNT rule ends at its COUNT-th start. Where one cycle of the rule's pattern holds more starts
// than this, the end is found by walking from DTSTART, but over no more than this many starts:
// such a rule is taken to end at the last of them.
inline constexpr std::size_t kCountWalkLimit = 100'000;

// A later stretch of a rule is walked from DTSTART moved forward by whole INTERVALs to a real
// date with DTSTART's day and time (an anchor). Where consecutive anchors lie further apart than
// this (582 years, the span libical walks beyond one 400-year cycle), the starts between them
// that precede the next anchor's place in its period are not found.
inline constexpr std::int64_t kWidestAnchorGap =
    (civil::daysFromCivil(2582, 1, 1) - civil::daysFromCivil(2000, 1, 1)) * 86400;

// One RRULE of a series with its DTSTART. Times are wall-clock seconds: seconds since 1970 of the
// zone-less clock, read as if it were UTC (see wallSeconds).
class Recurrence {
 public:
  // None when libical refuses the rule with this start: a part its frequency does not allow, or
  // a rule that no date satisfies. `start` is DTSTART as written, without its zone. UNTIL is
  // ignored: it is an instant, which the caller applies.
  static std::optional<Recurrence> make(icalrecurrencetype rule, icaltimetype start);

  // The earliest `limit` starts in [from, to), in order; none after 9999-12-31 or after the last
  // start of a COUNT rule. DTSTART is among them only when the rule itself yields it, as libical
  // has it. Rules in another calendar than the Gregorian (RSCALE) are walked by libical alone,
  // from DTSTART up to the end of 2582.
  std::vector<std::int64_t> starts(std::int64_t from, std::int64_t to, std::size_t limit) const;

 private:
  Recurrence() = default;
  std::vector<std::int64_t> walk(std::int64_t from, std::int64_t to, std::size_t limit) const;
  void expand(std::int64_t from, std::int64_t to, std::size_t limit,
              std::vector<std::int64_t>& found) const;
  void iterate(std::int64_t anchor, std::int64_t shift, std::int64_t from, std::int64_t to,
               std::size_t limit, std::vector<std::int64_t>& found) const;
  std::int64_t anchorAtOrBefore(std::int64_t at) const;
  std::optional<std::int64_t> anchorAfter(std::int64_t at) const;
  std::optional<std::int64_t> movedByMonths(std::int64_t months) const;
  std::int64_t monthsTo(std::int64_t at) const;
  std::optional<std::pair<std::int64_t, std::int64_t>> nextStretch(std::int64_t from,
                                                                   std::int64_t to) const;
  bool dayMayMatch(std::int64_t day) const;
  bool hourMayMatch(std::int64_t hour) const;
  std::int64_t period() const;
  std::int64_t endOfCount(int count) const;

  icalrecurrencetype rule_{};  // without COUNT and UNTIL
  std::int64_t start_ = 0;     // DTSTART
  bool isDate_ = false;
  bool gregorian_ = true;
  std::int64_t step_ = 0;            // one INTERVAL in seconds, for rules up to WEEKLY
  std::int64_t months_ = 0;          // one INTERVAL in months, for MONTHLY and YEARLY
  bool skips_ = false;               // libical can move the iterator to a window's start
  bool dayParts_ = false;            // days that cannot match are passed over (see nextStretch)
  bool hourParts_ = false;           // and hours
  std::optional<std::int64_t> end_;  // after the last start of a COUNT rule
};

}  // namespace tembra::local
