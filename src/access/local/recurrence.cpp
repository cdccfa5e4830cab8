// Recurrence rules over the whole of years 0000 to 9999, walked by libical in the years it knows.
#include "access/local/recurrence.h"

#include <strings.h>

#include <algorithm>
#include <numeric>

#include "access/local/ical.h"
#include "access/local/times.h"

namespace tembra::local {
namespace {

constexpr std::int64_t kMinute = 60;
constexpr std::int64_t kHour = 3600;
constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kWeek = 7 * kDay;
// The Gregorian calendar repeats every 400 years: 146,097 days, 20,871 weeks, 4,800 months. A
// rule's pattern moved by whole cycles is the same pattern.
constexpr std::int64_t kCycle = 146097 * kDay;
constexpr std::int64_t kCycleMonths = 4800;

constexpr std::int64_t wallOfDate(std::int64_t year, unsigned month, unsigned day) {
  return civil::daysFromCivil(year, month, day) * kDay;
}

// libical's iterator follows ICU's calendar, which is Julian before 15 October 1582, and stops
// after 2582. Anchors are moved by whole cycles to fall in [kBase, kBase + kCycle), and walks end
// before kSafeEnd, clear of both edges.
constexpr std::int64_t kBase = wallOfDate(1600, 1, 1);
constexpr std::int64_t kSafeEnd = wallOfDate(2582, 1, 1);
// Rules in other calendars cannot be moved; they are walked where they are, up to libical's end.
constexpr std::int64_t kLibicalEnd = wallOfDate(2583, 1, 1);
constexpr std::int64_t kAfterLastYear = wallOfDate(10000, 1, 1);
static_assert(kWidestAnchorGap == kSafeEnd - kBase - kCycle);

// A date with DTSTART's day may not exist in every month (the 31st, 29 February); an anchor is
// looked for this many INTERVALs back or ahead, which finds one for every day of every month.
constexpr int kAnchorTries = 400;

// A time as libical's iterator needs it: a date carries a time of day of zero, not libical's own
// "no time" (-1), which its arithmetic reads as the hour before midnight.
icaltimetype iteratorTime(std::int64_t seconds, bool isDate) {
  icaltimetype time = wallTime(seconds, isDate);
  if (isDate)
    time.hour = time.minute = time.second = 0;
  return time;
}

bool hasParts(const short* parts) {
  return parts[0] != ICAL_RECURRENCE_ARRAY_MAX;
}

template <std::size_t N>
bool lists(const short (&parts)[N], std::int64_t value) {
  for (std::size_t i = 0; i < N && parts[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i) {
    if (parts[i] == value)
      return true;
  }
  return false;
}

// A position counted from the front (1 is the first) or from the back (-1 is the last).
template <std::size_t N>
bool listsPosition(const short (&parts)[N], std::int64_t position, std::int64_t length) {
  return lists(parts, position) || lists(parts, position - length - 1);
}

}  // namespace

std::optional<Recurrence> Recurrence::make(icalrecurrencetype rule, icaltimetype start) {
  if (rule.freq == ICAL_NO_RECURRENCE)
    return std::nullopt;
  Recurrence recurrence;
  recurrence.isDate_ = start.is_date != 0;
  // Seconds of 60 become the next minute here, as in every instant of the store.
  recurrence.start_ = wallSeconds(start);
  const int count = rule.count;
  rule.count = 0;
  rule.until = icaltime_null_time();
  recurrence.rule_ = rule;
  recurrence.gregorian_ = !rule.rscale || ::strcasecmp(rule.rscale, "GREGORIAN") == 0;

  const std::int64_t interval = std::max<std::int64_t>(rule.interval, 1);
  switch (rule.freq) {
    case ICAL_SECONDLY_RECURRENCE:
      recurrence.step_ = interval;
      break;
    case ICAL_MINUTELY_RECURRENCE:
      recurrence.step_ = interval * kMinute;
      break;
    case ICAL_HOURLY_RECURRENCE:
      recurrence.step_ = interval * kHour;
      break;
    case ICAL_DAILY_RECURRENCE:
      recurrence.step_ = interval * kDay;
      break;
    case ICAL_WEEKLY_RECURRENCE:
      recurrence.step_ = interval * kWeek;
      break;
    case ICAL_MONTHLY_RECURRENCE:
      recurrence.months_ = interval;
      break;
    default:
      recurrence.months_ = interval * 12;
      break;
  }
  // libical starts a walk at the first BYHOUR, BYMINUTE and BYSECOND of the start's day, hour or
  // minute, so an anchor keeps DTSTART's time of day, hour or minute for the walk to keep its
  // INTERVAL. A series of dates moves by whole days (libical repeats the date each hour).
  std::int64_t keep = 1;
  if (recurrence.isDate_ || hasParts(rule.by_hour)) {
    keep = kDay;
  } else if (hasParts(rule.by_minute)) {
    keep = kHour;
  } else if (hasParts(rule.by_second)) {
    keep = kMinute;
  }
  if (recurrence.step_)
    recurrence.step_ = std::lcm(recurrence.step_, keep);
  recurrence.skips_ = rule.freq >= ICAL_DAILY_RECURRENCE;
  // libical tries every second (minute, hour, day) of a gap between the days and hours a rule
  // allows; a secondly rule for January alone would take it minutes to cross a year.
  if (recurrence.gregorian_ && rule.freq <= ICAL_DAILY_RECURRENCE && !hasParts(rule.by_set_pos)) {
    recurrence.dayParts_ = hasParts(rule.by_month) || hasParts(rule.by_month_day) ||
                           hasParts(rule.by_year_day) || hasParts(rule.by_day);
    recurrence.hourParts_ = rule.freq <= ICAL_MINUTELY_RECURRENCE && hasParts(rule.by_hour);
  }

  // A rule libical refuses, or one without a start in a whole period, has none ever: every later
  // question is answered at once. libical refuses a rule for what it is, not for where it starts.
  if (count > 0) {
    recurrence.end_ = recurrence.endOfCount(count);
    if (*recurrence.end_ == recurrence.start_)
      return std::nullopt;
  } else if (recurrence.gregorian_) {
    if (recurrence.walk(recurrence.start_, recurrence.start_ + recurrence.period(), 1).empty())
      return std::nullopt;
  } else if (!ical::RecurIterator(icalrecur_iterator_new(
                 rule, iteratorTime(recurrence.start_, recurrence.isDate_)))) {
    return std::nullopt;
  }
  return recurrence;
}

std::vector<std::int64_t> Recurrence::starts(std::int64_t from, std::int64_t to,
                                             std::size_t limit) const {
  to = std::min({to, kAfterLastYear, end_.value_or(kAfterLastYear)});
  return walk(std::max(from, start_), to, limit);
}

std::vector<std::int64_t> Recurrence::walk(std::int64_t from, std::int64_t to,
                                           std::size_t limit) const {
  std::vector<std::int64_t> found;
  if (!dayParts_ && !hourParts_) {
    expand(from, to, limit, found);
    return found;
  }
  for (std::int64_t at = from; at < to && found.size() < limit;) {
    const auto stretch = nextStretch(at, to);
    if (!stretch)
      break;
    expand(stretch->first, stretch->second, limit, found);
    at = stretch->second;
  }
  return found;
}

// The window is walked in pieces that libical can reach: each from the latest anchor before it,
// moved by whole cycles into libical's years, and its starts moved back.
void Recurrence::expand(std::int64_t from, std::int64_t to, std::size_t limit,
                        std::vector<std::int64_t>& found) const {
  for (std::int64_t at = from; at < to && found.size() < limit;) {
    const std::int64_t anchor = gregorian_ ? anchorAtOrBefore(at) : start_;
    const std::int64_t shift = gregorian_ ? civil::floorDiv(anchor - kBase, kCycle) * kCycle : 0;
    const std::int64_t end = std::min(to, (gregorian_ ? kSafeEnd : kLibicalEnd) + shift);
    if (end <= at) {
      // Only an INTERVAL longer than libical's span leaves the anchor this far behind.
      const auto next = gregorian_ ? anchorAfter(at) : std::nullopt;
      if (!next)
        break;
      at = *next;
      continue;
    }
    iterate(anchor, shift, at, end, limit, found);
    at = end;
  }
}

void Recurrence::iterate(std::int64_t anchor, std::int64_t shift, std::int64_t from,
                         std::int64_t to, std::size_t limit,
                         std::vector<std::int64_t>& found) const {
  icalrecurrencetype rule = rule_;
  // UNTIL keeps libical from trying every day or second past the piece for a start that would
  // not be used. Monthly and yearly rules step by whole months, and there libical would test
  // UNTIL against a first time it has not yet found to be a start (below).
  if (rule.freq <= ICAL_WEEKLY_RECURRENCE) {
    rule.until = iteratorTime(
        isDate_ ? civil::floorDiv(to - 1 - shift, kDay) * kDay : to - 1 - shift, isDate_);
  }
  ical::RecurIterator iterator(icalrecur_iterator_new(rule, iteratorTime(anchor - shift, isDate_)));
  if (!iterator)
    return;
  // libical moves sub-daily iterators off their INTERVAL; those start within one INTERVAL.
  if (skips_ && from > anchor)
    icalrecur_iterator_set_start(iterator.get(), iteratorTime(from - shift, isDate_));
  // Takes one start; false once they have passed the piece.
  const auto take = [&](std::int64_t start) {
    if (start >= to)
      return false;
    if (start >= from && (found.empty() || start > found.back()))
      found.push_back(start);
    return true;
  };
  // For some rules (BYWEEKNO with BYDAY) libical's first time after a start is not a start of
  // the rule at all, and out of order: it is held until the second time shows which it is.
  bool holding = false;
  std::int64_t held = 0;
  for (bool opening = true; found.size() < limit; opening = false) {
    const icaltimetype next = icalrecur_iterator_next(iterator.get());
    if (icaltime_is_null_time(next))
      break;
    const std::int64_t start = wallSeconds(next) + shift;
    if (opening) {
      held = start;
      holding = true;
      continue;
    }
    if (holding) {
      holding = false;
      if (start >= held && !take(held))
        break;
    }
    if (!take(start))
      break;
  }
  if (holding)
    take(held);
}

// The latest anchor at or before `at`, which must not precede DTSTART.
std::int64_t Recurrence::anchorAtOrBefore(std::int64_t at) const {
  if (!months_)
    return start_ + civil::floorDiv(at - start_, step_) * step_;
  const std::int64_t periods = civil::floorDiv(monthsTo(at), months_);
  for (std::int64_t k = periods; k > 0 && periods - k < kAnchorTries; --k) {
    if (const auto anchor = movedByMonths(k * months_))
      return *anchor;
  }
  return start_;
}

std::optional<std::int64_t> Recurrence::anchorAfter(std::int64_t at) const {
  if (!months_)
    return start_ + (civil::floorDiv(at - start_, step_) + 1) * step_;
  const std::int64_t periods = civil::floorDiv(monthsTo(at), months_) + 1;
  for (std::int64_t k = periods; k < periods + kAnchorTries; ++k) {
    if (const auto anchor = movedByMonths(k * months_))
      return anchor;
  }
  return std::nullopt;
}

// DTSTART with its month moved; none when the day does not exist in that month.
std::optional<std::int64_t> Recurrence::movedByMonths(std::int64_t months) const {
  const std::int64_t days = civil::floorDiv(start_, kDay);
  const civil::Date date = civil::civilFromDays(days);
  const std::int64_t month = date.month - 1 + months;
  const std::int64_t year = date.year + civil::floorDiv(month, 12);
  const auto monthOfYear = static_cast<unsigned>(month - civil::floorDiv(month, 12) * 12 + 1);
  if (date.day > civil::daysInMonth(year, monthOfYear))
    return std::nullopt;
  return wallOfDate(year, monthOfYear, date.day) + (start_ - days * kDay);
}

// Whole months from DTSTART to `at`: a month is complete when its day and time are reached.
std::int64_t Recurrence::monthsTo(std::int64_t at) const {
  const std::int64_t startDays = civil::floorDiv(start_, kDay);
  const std::int64_t atDays = civil::floorDiv(at, kDay);
  const civil::Date start = civil::civilFromDays(startDays);
  const civil::Date date = civil::civilFromDays(atDays);
  std::int64_t months = (date.year - start.year) * 12 + date.month - start.month;
  const std::int64_t startWithin = (start.day - 1) * kDay + (start_ - startDays * kDay);
  const std::int64_t atWithin = (date.day - 1) * kDay + (at - atDays * kDay);
  if (atWithin < startWithin)
    --months;
  return months;
}

// The next stretch of whole days (and hours) at or after `from` that the rule's day (and hour)
// parts allow; libical is run over each stretch alone. The test is looser than libical's own, so
// that no start is lost to it.
std::optional<std::pair<std::int64_t, std::int64_t>> Recurrence::nextStretch(
    std::int64_t from, std::int64_t to) const {
  const auto allowed = [&](std::int64_t at) {
    return dayMayMatch(civil::floorDiv(at, kDay)) &&
           (!hourParts_ || hourMayMatch(civil::floorDiv(at, kHour)));
  };
  const auto nextUnit = [&](std::int64_t at) {
    const std::int64_t unit = hourParts_ && dayMayMatch(civil::floorDiv(at, kDay)) ? kHour : kDay;
    return (civil::floorDiv(at, unit) + 1) * unit;
  };
  std::int64_t begin = from;
  while (begin < to && !allowed(begin))
    begin = nextUnit(begin);
  if (begin >= to)
    return std::nullopt;
  std::int64_t end = begin;
  while (end < to && allowed(end))
    end = nextUnit(end);
  return std::make_pair(begin, std::min(end, to));
}

bool Recurrence::dayMayMatch(std::int64_t day) const {
  const civil::Date date = civil::civilFromDays(day);
  if (hasParts(rule_.by_month) && !lists(rule_.by_month, date.month))
    return false;
  if (hasParts(rule_.by_month_day) &&
      !listsPosition(rule_.by_month_day, date.day, civil::daysInMonth(date.year, date.month))) {
    return false;
  }
  if (hasParts(rule_.by_year_day) &&
      !listsPosition(rule_.by_year_day, day - civil::daysFromCivil(date.year, 1, 1) + 1,
                     civil::isLeap(date.year) ? 366 : 365)) {
    return false;
  }
  if (hasParts(rule_.by_day)) {
    const int weekday = static_cast<int>(civil::weekday(day)) + ICAL_SUNDAY_WEEKDAY;
    for (std::size_t i = 0; i < ICAL_BY_DAY_SIZE && rule_.by_day[i] != ICAL_RECURRENCE_ARRAY_MAX;
         ++i) {
      if (icalrecurrencetype_day_day_of_week(rule_.by_day[i]) == weekday)
        return true;
    }
    return false;
  }
  return true;
}

bool Recurrence::hourMayMatch(std::int64_t hour) const {
  return lists(rule_.by_hour, hour - civil::floorDiv(hour, 24) * 24);
}

// After how many seconds the rule's starts repeat, moved by the same: a whole number of
// INTERVALs that is also a whole number of the calendar's cycles the rule depends on (a day, a
// week for weekdays, 400 years for anything to do with months or years).
std::int64_t Recurrence::period() const {
  if (months_)
    return kCycle * (months_ / std::gcd(months_, kCycleMonths));
  const bool calendar = hasParts(rule_.by_month) || hasParts(rule_.by_month_day) ||
                        hasParts(rule_.by_year_day) || hasParts(rule_.by_week_no) ||
                        hasParts(rule_.by_set_pos);
  const bool weekdays = hasParts(rule_.by_day) || rule_.freq == ICAL_WEEKLY_RECURRENCE;
  return std::lcm(calendar ? kCycle : weekdays ? kWeek : kDay, step_);
}

// The end of a COUNT rule without walking all of it: the starts of one period, and the COUNT-th
// start as one of them moved by whole periods.
std::int64_t Recurrence::endOfCount(int count) const {
  const auto wanted = std::min<std::size_t>(static_cast<std::size_t>(count), kCountWalkLimit);
  const std::int64_t period = gregorian_ ? this->period() : kAfterLastYear - start_;
  const std::vector<std::int64_t> first = walk(start_, start_ + period, wanted);
  if (first.size() == static_cast<std::size_t>(count))
    return first.back() + 1;
  if (first.empty())
    return start_;
  if (first.size() == wanted || !gregorian_)
    return first.back() + 1;
  const auto perPeriod = static_cast<std::int64_t>(first.size());
  const std::int64_t periods = (count - 1) / perPeriod;
  const std::int64_t last = first[static_cast<std::size_t>((count - 1) % perPeriod)];
  if (periods > (kAfterLastYear - last) / period)
    return kAfterLastYear;
  return last + periods * period + 1;
}

}  // namespace tembra::local
