// Reading, writing and judging RRULE value text.
#include "access/recurrence_rule.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>

#include "records/civil.h"

namespace tembra {
namespace {

constexpr std::string_view kFrequencies[] = {"SECONDLY", "MINUTELY", "HOURLY", "DAILY",
                                             "WEEKLY",   "MONTHLY",  "YEARLY"};
constexpr std::string_view kWeekdays[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

std::string upper(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return result;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t at = 0;;) {
    const std::size_t next = text.find(separator, at);
    parts.push_back(text.substr(at, next == std::string_view::npos ? next : next - at));
    if (next == std::string_view::npos)
      return parts;
    at = next + 1;
  }
}

// A whole number with an optional sign, of at most six digits.
std::optional<int> integer(std::string_view text) {
  std::size_t at = 0;
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    at = 1;
  }
  if (at == text.size() || text.size() - at > 6)
    return std::nullopt;
  int value = 0;
  for (; at < text.size(); ++at) {
    if (text[at] < '0' || text[at] > '9')
      return std::nullopt;
    value = value * 10 + (text[at] - '0');
  }
  return negative ? -value : value;
}

std::optional<int> weekday(std::string_view text) {
  const auto found = std::find(std::begin(kWeekdays), std::end(kWeekdays), text);
  if (found == std::end(kWeekdays))
    return std::nullopt;
  return static_cast<int>(found - std::begin(kWeekdays));
}

// A list of numbers, each within [low, high] and, when `signed`, also within [-high, -low].
std::optional<std::vector<int>> numbers(std::string_view text, int low, int high, bool negative) {
  std::vector<int> values;
  for (const std::string_view part : split(text, ',')) {
    const auto value = integer(part);
    const bool inRange = value && ((*value >= low && *value <= high) ||
                                   (negative && *value <= -low && *value >= -high));
    if (!inRange)
      return std::nullopt;
    values.push_back(*value);
  }
  return values;
}

// UNTIL: YYYYMMDD, YYYYMMDDTHHMMSS or YYYYMMDDTHHMMSSZ, a real date and time.
bool isUntil(std::string_view text) {
  if (text.size() != 8 && text.size() != 15 && text.size() != 16)
    return false;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const bool digit = text[at] >= '0' && text[at] <= '9';
    if (at == 8 ? text[at] != 'T' : at == 15 ? text[at] != 'Z' : !digit)
      return false;
  }
  const int year = std::atoi(std::string(text.substr(0, 4)).c_str());
  const int month = std::atoi(std::string(text.substr(4, 2)).c_str());
  const int day = std::atoi(std::string(text.substr(6, 2)).c_str());
  if (month < 1 || month > 12 || day < 1 ||
      day > static_cast<int>(civil::daysInMonth(year, static_cast<unsigned>(month)))) {
    return false;
  }
  if (text.size() == 8)
    return true;
  return std::atoi(std::string(text.substr(9, 2)).c_str()) < 24 &&
         std::atoi(std::string(text.substr(11, 2)).c_str()) < 60 &&
         std::atoi(std::string(text.substr(13, 2)).c_str()) <= 60;
}

std::string joined(const std::vector<int>& values) {
  std::string text;
  for (const int value : values) {
    if (!text.empty())
      text += ',';
    text += std::to_string(value);
  }
  return text;
}

}  // namespace

std::optional<RecurrenceRule> parseRecurrenceRule(std::string_view text, std::string& problem) {
  RecurrenceRule rule;
  std::vector<std::string> seen;
  bool frequency = false;
  for (const std::string_view part : split(text, ';')) {
    const std::size_t equals = part.find('=');
    if (equals == std::string_view::npos || equals == 0) {
      problem = "不是 名称=值 的形式: " + std::string(part);
      return std::nullopt;
    }
    const std::string name = upper(part.substr(0, equals));
    const std::string value = upper(part.substr(equals + 1));
    if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
      problem = name + " 出现了不止一次";
      return std::nullopt;
    }
    seen.push_back(name);
    bool valid = !value.empty();
    if (name == "FREQ") {
      const auto found = std::find(std::begin(kFrequencies), std::end(kFrequencies), value);
      valid = found != std::end(kFrequencies);
      if (valid)
        rule.frequency = static_cast<Frequency>(found - std::begin(kFrequencies));
      frequency = true;
    } else if (name == "INTERVAL") {
      const auto interval = integer(value);
      valid = interval && *interval >= 1 && value[0] != '-' && value[0] != '+';
      rule.interval = interval.value_or(1);
    } else if (name == "COUNT") {
      rule.count = integer(value);
      valid = rule.count && *rule.count >= 1 && value[0] != '-' && value[0] != '+';
    } else if (name == "UNTIL") {
      valid = isUntil(value);
      rule.until = value;
    } else if (name == "WKST") {
      rule.weekStart = weekday(value);
      valid = rule.weekStart.has_value();
    } else if (name == "BYDAY") {
      for (const std::string_view day : split(value, ',')) {
        const std::size_t letters = day.size() >= 2 ? day.size() - 2 : 0;
        const auto weekdayOf = weekday(day.substr(letters));
        const auto ordinal = letters == 0 ? std::optional<int>(0) : integer(day.substr(0, letters));
        valid = valid && day.size() >= 2 && weekdayOf && ordinal && *ordinal >= -53 &&
                *ordinal <= 53 && (letters == 0 || *ordinal != 0);
        if (valid)
          rule.byDay.push_back({*weekdayOf, *ordinal});
      }
    } else {
      struct NumberPart {
        std::string_view name;
        std::vector<int> RecurrenceRule::*values;
        int low, high;
        bool negative;
      };
      static const NumberPart kParts[] = {
          {"BYSECOND", &RecurrenceRule::bySecond, 0, 60, false},
          {"BYMINUTE", &RecurrenceRule::byMinute, 0, 59, false},
          {"BYHOUR", &RecurrenceRule::byHour, 0, 23, false},
          {"BYMONTHDAY", &RecurrenceRule::byMonthDay, 1, 31, true},
          {"BYYEARDAY", &RecurrenceRule::byYearDay, 1, 366, true},
          {"BYWEEKNO", &RecurrenceRule::byWeekNo, 1, 53, true},
          {"BYMONTH", &RecurrenceRule::byMonth, 1, 12, false},
          {"BYSETPOS", &RecurrenceRule::bySetPos, 1, 366, true},
      };
      const auto found = std::find_if(std::begin(kParts), std::end(kParts),
                                      [&](const NumberPart& known) { return known.name == name; });
      if (found == std::end(kParts)) {
        problem = "不认识的部分 " + name;
        return std::nullopt;
      }
      const auto values = numbers(value, found->low, found->high, found->negative);
      valid = values.has_value();
      if (valid)
        rule.*found->values = *values;
    }
    if (!valid) {
      problem = name + " 的值不可用: " + std::string(part.substr(equals + 1));
      return std::nullopt;
    }
  }
  if (!frequency) {
    problem = "缺少 FREQ";
    return std::nullopt;
  }
  if (rule.count && rule.until) {
    problem = "COUNT 和 UNTIL 不能同时出现";
    return std::nullopt;
  }
  if (!rule.byWeekNo.empty() && rule.frequency != Frequency::yearly) {
    problem = "BYWEEKNO 只能用于 FREQ=YEARLY";
    return std::nullopt;
  }
  if (!rule.byYearDay.empty() &&
      (rule.frequency == Frequency::daily || rule.frequency == Frequency::weekly ||
       rule.frequency == Frequency::monthly)) {
    problem = "BYYEARDAY 不能用于 FREQ=DAILY、WEEKLY 或 MONTHLY";
    return std::nullopt;
  }
  if (!rule.byMonthDay.empty() && rule.frequency == Frequency::weekly) {
    problem = "BYMONTHDAY 不能用于 FREQ=WEEKLY";
    return std::nullopt;
  }
  const bool ordinals = std::any_of(rule.byDay.begin(), rule.byDay.end(),
                                    [](const RuleWeekday& day) { return day.ordinal != 0; });
  if (ordinals && ((rule.frequency != Frequency::monthly && rule.frequency != Frequency::yearly) ||
                   !rule.byWeekNo.empty())) {
    problem = "带序号的 BYDAY 只能用于 FREQ=MONTHLY 或 YEARLY，且不能与 BYWEEKNO 同用";
    return std::nullopt;
  }
  const bool otherParts = !rule.bySecond.empty() || !rule.byMinute.empty() ||
                          !rule.byHour.empty() || !rule.byDay.empty() || !rule.byMonthDay.empty() ||
                          !rule.byYearDay.empty() || !rule.byWeekNo.empty() ||
                          !rule.byMonth.empty();
  if (!rule.bySetPos.empty() && !otherParts) {
    problem = "BYSETPOS 需要与另一个 BY 部分同用";
    return std::nullopt;
  }
  return rule;
}

std::string recurrenceRuleText(const RecurrenceRule& rule) {
  std::string text = "FREQ=" + std::string(kFrequencies[static_cast<int>(rule.frequency)]);
  if (rule.until)
    text += ";UNTIL=" + *rule.until;
  if (rule.count)
    text += ";COUNT=" + std::to_string(*rule.count);
  if (rule.interval != 1)
    text += ";INTERVAL=" + std::to_string(rule.interval);
  const auto list = [&](const char* name, const std::vector<int>& values) {
    if (!values.empty())
      text += std::string(";") + name + "=" + joined(values);
  };
  list("BYSECOND", rule.bySecond);
  list("BYMINUTE", rule.byMinute);
  list("BYHOUR", rule.byHour);
  if (!rule.byDay.empty()) {
    text += ";BYDAY=";
    for (std::size_t i = 0; i < rule.byDay.size(); ++i) {
      if (i > 0)
        text += ',';
      if (rule.byDay[i].ordinal != 0)
        text += std::to_string(rule.byDay[i].ordinal);
      text += kWeekdays[rule.byDay[i].weekday];
    }
  }
  list("BYMONTHDAY", rule.byMonthDay);
  list("BYYEARDAY", rule.byYearDay);
  list("BYWEEKNO", rule.byWeekNo);
  list("BYMONTH", rule.byMonth);
  list("BYSETPOS", rule.bySetPos);
  if (rule.weekStart)
    text += ";WKST=" + std::string(kWeekdays[*rule.weekStart]);
  return text;
}

std::string canonicalRuleText(std::string_view text) {
  std::string problem;
  const std::optional<RecurrenceRule> rule = parseRecurrenceRule(text, problem);
  return rule ? recurrenceRuleText(*rule) : std::string(text);
}

std::optional<Instant> untilInstant(const RecurrenceRule& rule) {
  if (!rule.until)
    return std::nullopt;
  const std::string& text = *rule.until;
  std::tm parts{};
  parts.tm_year = std::atoi(text.substr(0, 4).c_str()) - 1900;
  parts.tm_mon = std::atoi(text.substr(4, 2).c_str()) - 1;
  parts.tm_mday = std::atoi(text.substr(6, 2).c_str());
  if (text.size() == 8) {
    // The whole of its day, in the machine's zone.
    parts.tm_mday += 1;
    parts.tm_isdst = -1;
    return Instant{static_cast<double>(std::mktime(&parts)) - 1};
  }
  parts.tm_hour = std::atoi(text.substr(9, 2).c_str());
  parts.tm_min = std::atoi(text.substr(11, 2).c_str());
  parts.tm_sec = std::atoi(text.substr(13, 2).c_str());
  if (text.size() == 16)
    return Instant{static_cast<double>(::timegm(&parts))};
  parts.tm_isdst = -1;
  return Instant{static_cast<double>(std::mktime(&parts))};
}

std::optional<std::string> frameworkRuleProblem(const RecurrenceRule& rule) {
  if (rule.frequency == Frequency::secondly || rule.frequency == Frequency::minutely ||
      rule.frequency == Frequency::hourly) {
    return "系统日历只支持按天、周、月或年重复";
  }
  if (!rule.byHour.empty() || !rule.byMinute.empty() || !rule.bySecond.empty())
    return "系统日历不支持 BYHOUR、BYMINUTE 或 BYSECOND";
  if (!rule.byDay.empty() && rule.frequency == Frequency::daily)
    return "系统日历不支持每天重复时的 BYDAY";
  if (!rule.byMonthDay.empty() && rule.frequency != Frequency::monthly)
    return "系统日历只在按月重复时支持 BYMONTHDAY";
  if ((!rule.byMonth.empty() || !rule.byWeekNo.empty() || !rule.byYearDay.empty()) &&
      rule.frequency != Frequency::yearly) {
    return "系统日历只在按年重复时支持 BYMONTH、BYWEEKNO 和 BYYEARDAY";
  }
  if (!rule.bySetPos.empty() && rule.frequency == Frequency::daily)
    return "系统日历不支持每天重复时的 BYSETPOS";
  // The framework refuses a week number beyond the weeks of a month in a monthly rule.
  if (rule.frequency == Frequency::monthly &&
      std::any_of(rule.byDay.begin(), rule.byDay.end(),
                  [](const RuleWeekday& day) { return day.ordinal < -5 || day.ordinal > 5; })) {
    return "系统日历在按月重复时只支持 -5 到 5 的 BYDAY 序号";
  }
  // A rule is made without a first day of the week, so the framework counts weeks its own way:
  // a WKST other than Monday, the rule's default, is refused where it changes the occurrences.
  const bool weeksCounted =
      (rule.frequency == Frequency::weekly && rule.interval > 1 && rule.byDay.size() > 1) ||
      !rule.byWeekNo.empty();
  if (weeksCounted && rule.weekStart && *rule.weekStart != 1)
    return "系统日历无法保存这个规则的 WKST（一周的第一天）";
  return std::nullopt;
}

}  // namespace tembra
