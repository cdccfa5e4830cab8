// Parsing POSIX TZ rules, their offsets, and their VTIMEZONE.
#include "access/posix_zone.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "records/civil.h"

namespace tembra {
namespace {

class PosixParser {
 public:
  explicit PosixParser(std::string_view text) : text_(text) {}

  std::optional<PosixZone> parse() {
    PosixZone rule;
    if (!name())
      return std::nullopt;
    const auto standard = offset();
    if (!standard)
      return std::nullopt;
    rule.standard = -*standard;  // POSIX counts west of UTC
    if (atEnd())
      return rule;
    if (!name())
      return std::nullopt;
    rule.daylight = rule.standard + 3600;
    if (!atEnd() && peek() != ',') {
      const auto daylight = offset();
      if (!daylight)
        return std::nullopt;
      rule.daylight = -*daylight;
    }
    if (atEnd()) {
      // No dates given: the United States' rules, as the C library assumes.
      rule.start = {PosixRuleDate::Kind::monthWeekDay, 0, 2, 3, 7200};
      rule.end = {PosixRuleDate::Kind::monthWeekDay, 0, 1, 11, 7200};
      return rule;
    }
    if (!literal(',') || !ruleDate(rule.start) || !literal(',') || !ruleDate(rule.end) ||
        !atEnd()) {
      return std::nullopt;
    }
    return rule;
  }

 private:
  bool atEnd() const { return at_ >= text_.size(); }
  char peek() const { return atEnd() ? '\0' : text_[at_]; }
  bool literal(char c) {
    if (peek() != c)
      return false;
    ++at_;
    return true;
  }

  bool name() {
    if (literal('<')) {
      const auto close = text_.find('>', at_);
      if (close == std::string_view::npos)
        return false;
      at_ = close + 1;
      return true;
    }
    const std::size_t begin = at_;
    while (!atEnd() && ((peek() >= 'A' && peek() <= 'Z') || (peek() >= 'a' && peek() <= 'z')))
      ++at_;
    return at_ - begin >= 3;
  }

  std::optional<int> number() {
    int value = 0;
    std::size_t digits = 0;
    while (!atEnd() && peek() >= '0' && peek() <= '9' && digits < 4) {
      value = value * 10 + (text_[at_++] - '0');
      ++digits;
    }
    if (digits == 0)
      return std::nullopt;
    return value;
  }

  // [+-]hh[:mm[:ss]] in seconds.
  std::optional<int> offset() {
    int sign = 1;
    if (literal('-')) {
      sign = -1;
    } else {
      literal('+');
    }
    const auto hours = number();
    if (!hours || *hours > 167)
      return std::nullopt;
    int seconds = *hours * 3600;
    for (int unit : {60, 1}) {
      if (!literal(':'))
        break;
      const auto part = number();
      if (!part || *part > 59)
        return std::nullopt;
      seconds += *part * unit;
    }
    return sign * seconds;
  }

  bool ruleDate(PosixRuleDate& date) {
    if (literal('J')) {
      const auto day = number();
      if (!day || *day < 1 || *day > 365)
        return false;
      date.kind = PosixRuleDate::Kind::julianNoLeap;
      date.day = *day;
    } else if (literal('M')) {
      const auto month = number();
      if (!month || *month < 1 || *month > 12 || !literal('.'))
        return false;
      const auto week = number();
      if (!week || *week < 1 || *week > 5 || !literal('.'))
        return false;
      const auto day = number();
      if (!day || *day > 6)
        return false;
      date = {PosixRuleDate::Kind::monthWeekDay, *day, *week, *month, 7200};
    } else {
      const auto day = number();
      if (!day || *day > 365)
        return false;
      date.kind = PosixRuleDate::Kind::julian;
      date.day = *day;
    }
    date.time = 7200;
    if (literal('/')) {
      const auto time = offset();
      if (!time)
        return false;
      date.time = *time;
    }
    return true;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

// An offset as iCalendar writes it: +0800, -0330, +053012.
std::string offsetText(int seconds) {
  const char sign = seconds < 0 ? '-' : '+';
  const int magnitude = std::abs(seconds);
  char text[16];
  if (magnitude % 60 != 0) {
    std::snprintf(text, sizeof text, "%c%02d%02d%02d", sign, magnitude / 3600, magnitude / 60 % 60,
                  magnitude % 60);
  } else {
    std::snprintf(text, sizeof text, "%c%02d%02d", sign, magnitude / 3600, magnitude / 60 % 60);
  }
  return text;
}

std::string dateText(const PosixRuleDate& date) {
  char text[48];
  switch (date.kind) {
    case PosixRuleDate::Kind::julianNoLeap:
      std::snprintf(text, sizeof text, "J%d/%lld", date.day, static_cast<long long>(date.time));
      break;
    case PosixRuleDate::Kind::julian:
      std::snprintf(text, sizeof text, "%d/%lld", date.day, static_cast<long long>(date.time));
      break;
    case PosixRuleDate::Kind::monthWeekDay:
      std::snprintf(text, sizeof text, "M%d.%d.%d/%lld", date.month, date.week, date.day,
                    static_cast<long long>(date.time));
      break;
  }
  return text;
}

// The yearly RRULE of a rule date.
std::string yearlyRule(const PosixRuleDate& date) {
  static constexpr const char* kDays[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};
  char text[64];
  switch (date.kind) {
    case PosixRuleDate::Kind::julianNoLeap: {
      // Day n of a year without 29 February is one date of the calendar every year.
      const civil::Date day = civil::civilFromDays(civil::daysFromCivil(1970, 1, 1) + date.day - 1);
      std::snprintf(text, sizeof text, "FREQ=YEARLY;BYMONTH=%u;BYMONTHDAY=%u", day.month, day.day);
      break;
    }
    case PosixRuleDate::Kind::julian:
      std::snprintf(text, sizeof text, "FREQ=YEARLY;BYYEARDAY=%d", date.day + 1);
      break;
    case PosixRuleDate::Kind::monthWeekDay:
      std::snprintf(text, sizeof text, "FREQ=YEARLY;BYMONTH=%d;BYDAY=%d%s", date.month,
                    date.week == 5 ? -1 : date.week, kDays[date.day]);
      break;
  }
  return text;
}

// One observance: from `before` to `after` at the rule date, every year from 1970.
std::string observance(const char* kind, int before, int after, const PosixRuleDate& date) {
  const std::int64_t time = std::clamp<std::int64_t>(date.time, 0, 86399);
  const civil::Date day = civil::civilFromDays(date.daysIn(1970));
  char start[96];
  std::snprintf(start, sizeof start, "%04lld%02u%02uT%02lld%02lld%02lld",
                static_cast<long long>(day.year), day.month, day.day,
                static_cast<long long>(time / 3600), static_cast<long long>(time / 60 % 60),
                static_cast<long long>(time % 60));
  return std::string("BEGIN:") + kind + "\r\nDTSTART:" + start +
         "\r\nTZOFFSETFROM:" + offsetText(before) + "\r\nTZOFFSETTO:" + offsetText(after) +
         "\r\nRRULE:" + yearlyRule(date) + "\r\nEND:" + kind + "\r\n";
}

}  // namespace

std::int64_t PosixRuleDate::daysIn(std::int64_t year) const {
  const std::int64_t jan1 = civil::daysFromCivil(year, 1, 1);
  switch (kind) {
    case Kind::julianNoLeap:
      return jan1 + day - 1 + (civil::isLeap(year) && day >= 60 ? 1 : 0);
    case Kind::julian:
      return jan1 + day;
    case Kind::monthWeekDay: {
      const auto m = static_cast<unsigned>(month);
      const std::int64_t first = civil::daysFromCivil(year, m, 1);
      const int firstWeekday = static_cast<int>(civil::weekday(first));
      std::int64_t date = first + (day - firstWeekday + 7) % 7 + (week - 1) * 7;
      const std::int64_t last = first + civil::daysInMonth(year, m) - 1;
      while (date > last)
        date -= 7;
      return date;
    }
  }
  return jan1;
}

std::optional<PosixZone> PosixZone::parse(std::string_view text) {
  return PosixParser(text).parse();
}

int PosixZone::offsetAt(std::int64_t utc) const {
  if (!daylight)
    return standard;
  const std::int64_t year = civil::civilFromDays(civil::floorDiv(utc + standard, 86400)).year;
  const std::int64_t begins = start.daysIn(year) * 86400 + start.time - standard;
  const std::int64_t ends = end.daysIn(year) * 86400 + end.time - *daylight;
  const bool inDaylight =
      begins < ends ? (utc >= begins && utc < ends) : !(utc >= ends && utc < begins);
  return inDaylight ? *daylight : standard;
}

std::string PosixZone::canonical() const {
  if (!daylight)
    return standard == 0 ? "UTC" : "UTC" + offsetText(standard);
  return "UTC" + offsetText(standard) + "," + offsetText(*daylight) + "," + dateText(start) + "," +
         dateText(end);
}

std::string PosixZone::vtimezone(std::string_view tzid) const {
  std::string text = "BEGIN:VTIMEZONE\r\nTZID:" + std::string(tzid) + "\r\n";
  if (!daylight) {
    text += "BEGIN:STANDARD\r\nDTSTART:19700101T000000\r\nTZOFFSETFROM:" + offsetText(standard) +
            "\r\nTZOFFSETTO:" + offsetText(standard) + "\r\nEND:STANDARD\r\n";
  } else {
    text += observance("DAYLIGHT", standard, *daylight, start);
    text += observance("STANDARD", *daylight, standard, end);
  }
  return text + "END:VTIMEZONE\r\n";
}

}  // namespace tembra
