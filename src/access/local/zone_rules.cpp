// TZif files and POSIX TZ rules.
#include "access/local/zone_rules.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include "access/local/files.h"
#include "records/civil.h"

namespace tembra::local {
namespace {

constexpr const char* kZoneDirectory = "/usr/share/zoneinfo/";

class UtcRules final : public ZoneRules {
 public:
  int offsetAt(std::int64_t) const override { return 0; }
};

// A rule date of a POSIX TZ string: Jn (day of a non-leap year, 1 to 365), n (day of the year
// from 0) or Mm.w.d (day d of week w of month m; week 5 is the last), at `time` seconds after
// local midnight.
struct RuleDate {
  enum class Kind { julianNoLeap, julian, monthWeekDay } kind = Kind::monthWeekDay;
  int day = 0, week = 0, month = 0;
  std::int64_t time = 7200;

  // Days since 1970 of this date in the year.
  std::int64_t daysIn(std::int64_t year) const {
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
};

// The rule of a POSIX TZ string such as "EST5EDT,M3.2.0,M11.1.0" or "<+08>-8".
struct PosixRule {
  int standard = 0;  // seconds east of UTC
  std::optional<int> daylight;
  RuleDate start, end;  // when daylight time begins (in standard time) and ends (in daylight time)

  int offsetAt(std::int64_t utc) const {
    if (!daylight)
      return standard;
    const std::int64_t year = civil::civilFromDays(civil::floorDiv(utc + standard, 86400)).year;
    const std::int64_t begins = start.daysIn(year) * 86400 + start.time - standard;
    const std::int64_t ends = end.daysIn(year) * 86400 + end.time - *daylight;
    const bool inDaylight =
        begins < ends ? (utc >= begins && utc < ends) : !(utc >= ends && utc < begins);
    return inDaylight ? *daylight : standard;
  }
};

class PosixParser {
 public:
  explicit PosixParser(std::string_view text) : text_(text) {}

  std::optional<PosixRule> parse() {
    PosixRule rule;
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
      rule.start = {RuleDate::Kind::monthWeekDay, 0, 2, 3, 7200};
      rule.end = {RuleDate::Kind::monthWeekDay, 0, 1, 11, 7200};
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

  bool ruleDate(RuleDate& date) {
    if (literal('J')) {
      const auto day = number();
      if (!day || *day < 1 || *day > 365)
        return false;
      date.kind = RuleDate::Kind::julianNoLeap;
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
      date = {RuleDate::Kind::monthWeekDay, *day, *week, *month, 7200};
    } else {
      const auto day = number();
      if (!day || *day > 365)
        return false;
      date.kind = RuleDate::Kind::julian;
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

// A zone from a TZif file: its transitions, and the POSIX rule for times after the last one.
class TzifRules final : public ZoneRules {
 public:
  TzifRules(std::vector<std::int64_t> transitions, std::vector<int> offsets, int initial,
            std::optional<PosixRule> future)
      : transitions_(std::move(transitions)),
        offsets_(std::move(offsets)),
        initial_(initial),
        future_(std::move(future)) {}

  int offsetAt(std::int64_t utc) const override {
    if (transitions_.empty() || utc < transitions_.front()) {
      return transitions_.empty() && future_ ? future_->offsetAt(utc) : initial_;
    }
    if (utc >= transitions_.back() && future_)
      return future_->offsetAt(utc);
    const auto after = std::upper_bound(transitions_.begin(), transitions_.end(), utc);
    return offsets_[static_cast<std::size_t>(after - transitions_.begin() - 1)];
  }

 private:
  std::vector<std::int64_t> transitions_;
  std::vector<int> offsets_;  // in force from the transition of the same index
  int initial_;
  std::optional<PosixRule> future_;
};

class Reader {
 public:
  explicit Reader(std::string_view data) : data_(data) {}
  bool has(std::size_t count) const { return data_.size() - at_ >= count; }
  std::int64_t integer(std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
      value = value << 8 | static_cast<unsigned char>(data_[at_++]);
    if (width == 4)
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    return static_cast<std::int64_t>(value);
  }
  void skip(std::size_t count) { at_ += count; }
  std::string_view rest() const { return data_.substr(at_); }

 private:
  std::string_view data_;
  std::size_t at_ = 0;
};

struct Counts {
  std::size_t isUt, isStd, leap, time, type, chars;
};

std::optional<Counts> header(Reader& reader, char& version) {
  if (!reader.has(44))
    return std::nullopt;
  if (reader.rest().substr(0, 4) != "TZif")
    return std::nullopt;
  version = reader.rest()[4];
  reader.skip(20);
  Counts counts{};
  for (std::size_t* count :
       {&counts.isUt, &counts.isStd, &counts.leap, &counts.time, &counts.type, &counts.chars}) {
    *count = static_cast<std::size_t>(reader.integer(4));
  }
  if (counts.type == 0 || counts.type > 256 || counts.time > 100'000)
    return std::nullopt;
  return counts;
}

}  // namespace

std::int64_t ZoneRules::utcOf(std::int64_t local) const {
  // Transitions are never closer together than two days, so the offsets a day either side are
  // the only candidates.
  const int before = offsetAt(local - 86400);
  const int after = offsetAt(local + 86400);
  const std::int64_t early = local - std::max(before, after);
  const std::int64_t late = local - std::min(before, after);
  if (offsetAt(early) == std::max(before, after))
    return early;
  if (offsetAt(late) == std::min(before, after))
    return late;
  return local - before;  // in the gap: the offset before the change
}

const ZoneRules& utcRules() {
  static const UtcRules utc;
  return utc;
}

std::unique_ptr<ZoneRules> parseTzif(const std::string& data) {
  Reader reader(data);
  char version = 0;
  auto counts = header(reader, version);
  if (!counts)
    return nullptr;
  std::size_t width = 4;
  if (version >= '2') {
    // Skip the 32-bit data; the 64-bit data and the footer follow.
    const std::size_t v1 = counts->time * 5 + counts->type * 6 + counts->chars + counts->leap * 8 +
                           counts->isStd + counts->isUt;
    if (!reader.has(v1))
      return nullptr;
    reader.skip(v1);
    counts = header(reader, version);
    if (!counts)
      return nullptr;
    width = 8;
  }
  const std::size_t size = counts->time * (width + 1) + counts->type * 6 + counts->chars +
                           counts->leap * (width + 4) + counts->isStd + counts->isUt;
  if (!reader.has(size))
    return nullptr;
  std::vector<std::int64_t> transitions(counts->time);
  for (auto& time : transitions)
    time = reader.integer(width);
  std::vector<std::size_t> typeOf(counts->time);
  for (auto& type : typeOf)
    type = static_cast<std::size_t>(reader.integer(1));
  std::vector<int> typeOffsets(counts->type);
  for (auto& offset : typeOffsets) {
    offset = static_cast<int>(reader.integer(4));
    reader.skip(2);  // is-DST flag and abbreviation index
  }
  reader.skip(counts->chars + counts->leap * (width + 4) + counts->isStd + counts->isUt);
  std::vector<int> offsets;
  for (const std::size_t type : typeOf) {
    if (type >= typeOffsets.size())
      return nullptr;
    offsets.push_back(typeOffsets[type]);
  }
  std::optional<PosixRule> future;
  if (width == 8) {
    const std::string_view footer = reader.rest();
    if (footer.size() >= 2 && footer.front() == '\n') {
      const auto end = footer.find('\n', 1);
      const std::string_view text = footer.substr(1, end == std::string_view::npos ? 0 : end - 1);
      if (!text.empty())
        future = PosixParser(text).parse();
    }
  }
  if (!std::is_sorted(transitions.begin(), transitions.end()))
    return nullptr;
  return std::make_unique<TzifRules>(std::move(transitions), std::move(offsets), typeOffsets[0],
                                     std::move(future));
}

const ZoneRules* systemZoneRules(const std::string& name) {
  const bool plain =
      !name.empty() && name.size() < 128 && name.front() != '/' &&
      name.find("..") == std::string::npos && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '/' || c == '_' || c == '-' || c == '+';
      });
  if (!plain)
    return nullptr;
  // The system's zone data does not change while a run lasts, so each zone is read once per
  // process and kept, as libical keeps its own zones; a run uses a handful of them.
  static std::map<std::string, std::unique_ptr<ZoneRules>> loaded;
  const auto found = loaded.find(name);
  if (found != loaded.end())
    return found->second.get();
  std::unique_ptr<ZoneRules> rules;
  // Many zone names are links to others ("US/Eastern" to "America/New_York").
  if (const auto data = readFile(std::string(kZoneDirectory) + name, Links::follow))
    rules = parseTzif(*data);
  return loaded.emplace(name, std::move(rules)).first->second.get();
}

}  // namespace tembra::local
