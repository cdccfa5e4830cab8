// Date text (ISO 8601, RFC 3339 profile) and epoch milliseconds: the two ways dates cross the
// program's boundary.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "access/calendar_store.h"

namespace tembra {

// Format option bits of an ISO 8601 formatter.
enum IsoFormatOption : unsigned {
  kIsoYear = 1,
  kIsoMonth = 2,
  kIsoWeekOfYear = 4,
  kIsoDay = 16,
  kIsoTime = 32,
  kIsoTimeZone = 64,
  kIsoSpaceBetweenDateAndTime = 128,
  kIsoDashSeparatorInDate = 256,
  kIsoColonSeparatorInTime = 512,
  kIsoColonSeparatorInTimeZone = 1024,
  kIsoFractionalSeconds = 2048,
};

// Internet date-time: 2024-05-01T09:30:00Z or 2024-05-01T17:30:00+08:00.
inline constexpr unsigned kInternetDateTime = 1907;
// Internet date-time with three digits of fractional seconds: 2024-05-01T09:30:00.000Z.
inline constexpr unsigned kInternetDateTimeWithFraction = 3955;

// Reads and writes date text in the internet date-time form. Reading requires the zone
// designator ("Z" or a numeric offset +HH:MM) and, exactly when the options hold
// kIsoFractionalSeconds, a fraction of one to nine digits. Writing is always in UTC with "Z".
class IsoFormatter {
 public:
  explicit IsoFormatter(unsigned options) : options_(options) {}

  std::optional<Instant> read(std::string_view text) const;
  // Fractions finer than the form shows are rounded half away from zero, like epochMillis.
  // Years outside 0000..9999 are written with a sign and as many digits as they need.
  std::string write(Instant instant) const;

 private:
  unsigned options_;
};

// The two process-wide formatters, created once at start-up.
struct Formatters {
  IsoFormatter isoFormatter{kInternetDateTimeWithFraction};
  IsoFormatter isoFormatterNoFraction{kInternetDateTime};
};

// Date text with or without fractional seconds, with "Z" or a numeric offset; none otherwise.
// The text is read unchanged: no trimming, no case folding.
std::optional<Instant> parseDate(const Formatters& formatters, std::string_view text);

// Always the form 2024-05-01T09:30:00.000Z.
std::string formatDate(const Formatters& formatters, Instant instant);

// Appends instants in the form formatDate gives them, for the many dates of a long list. An
// instant on the same day as the one before reuses that day's text.
class DateAppender {
 public:
  void append(std::string& out, Instant instant);

 private:
  std::int64_t day_ = std::numeric_limits<std::int64_t>::min();
  char dayText_[24] = {};  // the date and the "T", as many as 19 bytes for the farthest years
  std::size_t dayLength_ = 0;
};

// Milliseconds since 1970, rounded half away from zero. Values beyond the 64-bit range are
// clamped to it, and a value that is not a number gives 0; no instant of the store comes near.
std::int64_t epochMillis(Instant instant);

// Nearest whole number as a 64-bit integer, halves away from zero, clamped to the 64-bit range;
// not-a-number gives 0.
std::int64_t roundHalfAwayFromZero(double value);

}  // namespace tembra
