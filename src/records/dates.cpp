// ISO 8601 date text and epoch milliseconds.
#include "records/dates.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "records/civil.h"

namespace tembra {
namespace {

constexpr std::int64_t kMillisPerDay = 86'400'000;

using civil::civilFromDays;
using civil::daysFromCivil;
using civil::daysInMonth;
using CivilDate = civil::Date;

// Appends a non-negative number with at least `width` digits, zero-padded.
void appendDigits(std::string& text, std::int64_t number, int width) {
  char digits[24];
  int length = 0;
  do {
    digits[length++] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number > 0);
  while (length < width)
    digits[length++] = '0';
  while (length > 0)
    text += digits[--length];
}

// Milliseconds since 1970 as whole days and the milliseconds into the last of them.
struct DayAndTime {
  std::int64_t days;
  std::int64_t ofDay;  // 0 to 86,399,999
};

DayAndTime splitDay(std::int64_t millis) {
  DayAndTime split{millis / kMillisPerDay, millis % kMillisPerDay};
  if (split.ofDay < 0) {
    split.ofDay += kMillisPerDay;
    --split.days;
  }
  return split;
}

// Appends the day's date and the "T" that follows it: 2024-05-01T, or with a sign and as many
// digits as they need for years outside 0000..9999.
void appendDayText(std::string& text, std::int64_t days) {
  const CivilDate date = civilFromDays(days);
  if (date.year >= 0 && date.year <= 9999) {
    appendDigits(text, date.year, 4);
  } else {
    text += date.year < 0 ? '-' : '+';
    appendDigits(text, date.year < 0 ? -date.year : date.year, 4);
  }
  text += '-';
  appendDigits(text, date.month, 2);
  text += '-';
  appendDigits(text, date.day, 2);
  text += 'T';
}

// A cursor over date text that reads fixed-width digit fields and literal characters.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  bool digits(std::size_t count, unsigned& value) {
    if (text_.size() - pos_ < count)
      return false;
    value = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const char c = text_[pos_ + i];
      if (c < '0' || c > '9')
        return false;
      value = value * 10 + static_cast<unsigned>(c - '0');
    }
    pos_ += count;
    return true;
  }

  // Four digits, or a sign and four to six digits.
  bool year(std::int64_t& value) {
    int sign = 0;
    if (literal('+')) {
      sign = 1;
    } else if (literal('-')) {
      sign = -1;
    }
    std::size_t count = 0;
    value = 0;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9' && count < 6) {
      value = value * 10 + (text_[pos_++] - '0');
      ++count;
    }
    if (sign == 0)
      return count == 4;
    value *= sign;
    return count >= 4;
  }

  bool literal(char c) {
    if (pos_ >= text_.size() || text_[pos_] != c)
      return false;
    ++pos_;
    return true;
  }

  // One or more digits, at most nine, as a fraction of one.
  bool fraction(double& value) {
    unsigned long long numerator = 0;
    double denominator = 1;
    std::size_t count = 0;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
      if (++count > 9)
        return false;
      numerator = numerator * 10 + static_cast<unsigned>(text_[pos_++] - '0');
      denominator *= 10;
    }
    value = static_cast<double>(numerator) / denominator;
    return count > 0;
  }

  bool atEnd() const { return pos_ == text_.size(); }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

std::int64_t roundHalfAwayFromZero(double value) {
  if (std::isnan(value))
    return 0;
  // std::round rounds halves away from zero and is exact for every double.
  const double rounded = std::round(value);
  // 2^63 is exactly representable; anything at or beyond it does not fit.
  constexpr double kLimit = 9223372036854775808.0;
  if (rounded >= kLimit)
    return std::numeric_limits<std::int64_t>::max();
  if (rounded < -kLimit)
    return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(rounded);
}

std::int64_t epochMillis(Instant instant) {
  return roundHalfAwayFromZero(instant.seconds * 1000);
}

std::optional<Instant> IsoFormatter::read(std::string_view text) const {
  Scanner scan(text);
  // Years outside 0000..9999 carry a sign and may have more digits, as write gives them.
  std::int64_t year = 0;
  if (!scan.year(year))
    return std::nullopt;
  unsigned month, day, hour, minute, second;
  if (!scan.literal('-') || !scan.digits(2, month) || !scan.literal('-') || !scan.digits(2, day) ||
      !scan.literal('T') || !scan.digits(2, hour) || !scan.literal(':') ||
      !scan.digits(2, minute) || !scan.literal(':') || !scan.digits(2, second)) {
    return std::nullopt;
  }
  double fraction = 0;
  if (options_ & kIsoFractionalSeconds) {
    if (!scan.literal('.') || !scan.fraction(fraction))
      return std::nullopt;
  }
  int offsetMinutes = 0;
  if (!scan.literal('Z')) {
    int sign;
    if (scan.literal('+')) {
      sign = 1;
    } else if (scan.literal('-')) {
      sign = -1;
    } else {
      return std::nullopt;
    }
    unsigned offsetHours, offsetMins;
    if (!scan.digits(2, offsetHours) || !scan.literal(':') || !scan.digits(2, offsetMins) ||
        offsetHours > 23 || offsetMins > 59) {
      return std::nullopt;
    }
    offsetMinutes = sign * static_cast<int>(offsetHours * 60 + offsetMins);
  }
  if (!scan.atEnd())
    return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59) {
    return std::nullopt;
  }
  const std::int64_t whole = daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 +
                             second - offsetMinutes * 60;
  const Instant instant{static_cast<double>(whole) + fraction};
  // What is read is written back to the millisecond and read again to the same instant. That
  // holds while a double keeps every millisecond, up to about 69,000 years from 1970, so years
  // from -49999 to 49999 are read, every millisecond of them. An offset or a fraction that
  // carries an instant past them, once rounded to the millisecond, is refused too.
  constexpr std::int64_t kFirstWritable = daysFromCivil(-49999, 1, 1) * kMillisPerDay;
  constexpr std::int64_t kLastWritable = daysFromCivil(50000, 1, 1) * kMillisPerDay - 1;
  const std::int64_t millis = epochMillis(instant);
  if (millis < kFirstWritable || millis > kLastWritable)
    return std::nullopt;
  return instant;
}

std::string IsoFormatter::write(Instant instant) const {
  const bool withFraction = options_ & kIsoFractionalSeconds;
  std::int64_t millis = epochMillis(instant);
  if (!withFraction)
    millis = roundHalfAwayFromZero(static_cast<double>(millis) / 1000) * 1000;
  const auto [days, ofDay] = splitDay(millis);
  const auto msec = static_cast<int>(ofDay % 1000);
  const auto sec = static_cast<int>(ofDay / 1000 % 60);
  const auto min = static_cast<int>(ofDay / 60000 % 60);
  const auto hr = static_cast<int>(ofDay / 3600000);

  // Digits are placed by hand: this runs twice for every record of a long list.
  std::string text;
  text.reserve(32);
  appendDayText(text, days);
  appendDigits(text, hr, 2);
  text += ':';
  appendDigits(text, min, 2);
  text += ':';
  appendDigits(text, sec, 2);
  if (withFraction) {
    text += '.';
    appendDigits(text, msec, 3);
  }
  text += 'Z';
  return text;
}

namespace {

// "00" to "99", two bytes a number.
constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

char* putPair(char* at, int number) {
  std::memcpy(at, &kDigitPairs[2 * number], 2);
  return at + 2;
}

}  // namespace

void DateAppender::append(std::string& out, Instant instant) {
  const auto [days, ofDay] = splitDay(epochMillis(instant));
  if (days != day_) {
    std::string text;
    appendDayText(text, days);
    day_ = days;
    dayLength_ = text.size();
    std::memcpy(dayText_, text.data(), dayLength_);
  }
  const auto ms = static_cast<int>(ofDay % 1000);
  const auto seconds = static_cast<int>(ofDay / 1000);
  char time[13];
  char* at = putPair(time, seconds / 3600);
  *at++ = ':';
  at = putPair(at, seconds / 60 % 60);
  *at++ = ':';
  at = putPair(at, seconds % 60);
  *at++ = '.';
  *at++ = static_cast<char>('0' + ms / 100);
  at = putPair(at, ms % 100);
  *at = 'Z';
  out.append(dayText_, dayLength_);
  out.append(time, sizeof time);
}

std::optional<Instant> parseDate(const Formatters& formatters, std::string_view text) {
  if (auto instant = formatters.isoFormatter.read(text))
    return instant;
  return formatters.isoFormatterNoFraction.read(text);
}

std::string formatDate(const Formatters& formatters, Instant instant) {
  return formatters.isoFormatter.write(instant);
}

}  // namespace tembra
