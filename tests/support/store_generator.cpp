// Realistic generated stores.
#include "support/store_generator.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>

#include "access/local/admin.h"

namespace tembra::testing {
namespace {

struct Zone {
  const char* tzid;
  const char* definition;
};

const Zone kZones[] = {
    {"Europe/Berlin",
     "BEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\nBEGIN:DAYLIGHT\r\nTZOFFSETFROM:+0100\r\n"
     "TZOFFSETTO:+0200\r\nTZNAME:CEST\r\nDTSTART:19700329T020000\r\n"
     "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\nEND:DAYLIGHT\r\nBEGIN:STANDARD\r\n"
     "TZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nTZNAME:CET\r\nDTSTART:19701025T030000\r\n"
     "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n"},
    {"America/New_York",
     "BEGIN:VTIMEZONE\r\nTZID:America/New_York\r\nBEGIN:DAYLIGHT\r\nTZOFFSETFROM:-0500\r\n"
     "TZOFFSETTO:-0400\r\nTZNAME:EDT\r\nDTSTART:20070311T020000\r\n"
     "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=2SU\r\nEND:DAYLIGHT\r\nBEGIN:STANDARD\r\n"
     "TZOFFSETFROM:-0400\r\nTZOFFSETTO:-0500\r\nTZNAME:EST\r\nDTSTART:20071104T020000\r\n"
     "RRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n"},
    {"Asia/Shanghai",
     "BEGIN:VTIMEZONE\r\nTZID:Asia/Shanghai\r\nBEGIN:STANDARD\r\nTZOFFSETFROM:+0800\r\n"
     "TZOFFSETTO:+0800\r\nTZNAME:CST\r\nDTSTART:19700101T000000\r\nEND:STANDARD\r\n"
     "END:VTIMEZONE\r\n"},
    {"Asia/Tokyo",
     "BEGIN:VTIMEZONE\r\nTZID:Asia/Tokyo\r\nBEGIN:STANDARD\r\nTZOFFSETFROM:+0900\r\n"
     "TZOFFSETTO:+0900\r\nTZNAME:JST\r\nDTSTART:19700101T000000\r\nEND:STANDARD\r\n"
     "END:VTIMEZONE\r\n"},
};

const char* const kTitles[] = {"Standup",       "1:1",          "Dentist", "Lunch with Ana",
                               "项目评审",      "Gym",          "Flight",  "Review, part 2",
                               "School pickup", "Call \"Bob\"", "周会",    "Yoga"};

constexpr std::int64_t kStart2024 = 1704067200;  // 2024-01-01T00:00:00Z

std::string stamp(std::int64_t seconds, bool utc = true) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm parts{};
  gmtime_r(&time, &parts);
  char text[96];
  std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02d%s", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                utc ? "Z" : "");
  return text;
}

std::string date(std::int64_t seconds) {
  return stamp(seconds).substr(0, 8);
}

// One generated event: its VEVENTs (the series and any moved occurrence) and the zone they use.
struct GeneratedEvent {
  const Zone* zone = nullptr;
  std::string components;
};

GeneratedEvent generatedEvent(std::uint64_t seed, std::size_t number, int years) {
  std::mt19937_64 random(seed * 1'000'003 + number);
  const auto chance = [&](double p) { return std::uniform_real_distribution<>(0, 1)(random) < p; };
  const auto pick = [&](std::int64_t low, std::int64_t high) {
    return std::uniform_int_distribution<std::int64_t>(low, high)(random);
  };
  const std::string uid = "gen-" + std::to_string(seed) + "-" + std::to_string(number);
  // Starts on a quarter hour between 07:00 and 20:00 UTC on some day of the span.
  const std::int64_t day = pick(0, 365LL * years - 1);
  const std::int64_t start = kStart2024 + day * 86400 + pick(28, 80) * 900;
  const bool allDay = chance(0.07);
  const bool repeating = chance(0.10);
  const Zone* zone = !allDay && chance(0.5) ? &kZones[pick(0, 3)] : nullptr;

  std::string properties;
  if (allDay) {
    const std::int64_t first = kStart2024 + day * 86400;
    properties += "DTSTART;VALUE=DATE:" + date(first) + "\r\n";
    properties += "DTEND;VALUE=DATE:" + date(first + pick(1, 3) * 86400) + "\r\n";
  } else if (zone) {
    // The wall-clock time is written as given; the zone places it.
    properties += std::string("DTSTART;TZID=") + zone->tzid + ":" + stamp(start, false) + "\r\n";
    properties += std::string("DTEND;TZID=") + zone->tzid + ":" +
                  stamp(start + pick(1, 12) * 900, false) + "\r\n";
  } else {
    properties += "DTSTART:" + stamp(start) + "\r\n";
    properties += "DTEND:" + stamp(start + pick(1, 12) * 900) + "\r\n";
  }
  std::string overrides;
  if (repeating) {
    // Daily series are short (a course, a trip); weekly ones often end; monthly and yearly ones
    // (rent, birthdays) usually go on.
    static const char* const kFrequencies[] = {"WEEKLY", "WEEKLY",  "WEEKLY",  "WEEKLY",
                                               "DAILY",  "MONTHLY", "MONTHLY", "YEARLY"};
    const std::string frequency = kFrequencies[pick(0, 7)];
    const std::int64_t step = frequency == "DAILY" ? 86400 : frequency == "WEEKLY" ? 7 * 86400 : 0;
    const double endless = frequency == "DAILY"     ? 0.0
                           : frequency == "WEEKLY"  ? 0.3
                           : frequency == "MONTHLY" ? 0.5
                                                    : 0.8;
    std::string rule = "RRULE:FREQ=" + frequency;
    if (frequency == "WEEKLY" && chance(0.05))
      rule += ";BYDAY=MO,TU,WE,TH,FR";
    if (chance(endless)) {
      // no end
    } else if (frequency == "DAILY" || chance(0.5)) {
      rule += ";COUNT=" + std::to_string(frequency == "DAILY" ? pick(3, 15) : pick(4, 30));
    } else {
      rule += ";UNTIL=" + stamp(start + pick(30, 365) * 86400);
    }
    properties += rule + "\r\n";
    if (step && chance(0.3)) {
      const std::int64_t excluded =
          allDay ? kStart2024 + day * 86400 + step * pick(1, 3) : start + step * pick(1, 3);
      if (allDay) {
        properties += "EXDATE;VALUE=DATE:" + date(excluded) + "\r\n";
      } else if (zone) {
        properties +=
            std::string("EXDATE;TZID=") + zone->tzid + ":" + stamp(excluded, false) + "\r\n";
      } else {
        properties += "EXDATE:" + stamp(excluded) + "\r\n";
      }
    }
    if (step && !allDay && chance(0.2)) {
      const std::int64_t original = start + step * 4;
      const std::string id = zone
                                 ? std::string(";TZID=") + zone->tzid + ":" + stamp(original, false)
                                 : ":" + stamp(original);
      const std::string moved = zone ? std::string(";TZID=") + zone->tzid + ":" : std::string(":");
      overrides += "BEGIN:VEVENT\r\nUID:" + uid + "\r\nDTSTAMP:20240101T000000Z\r\n" +
                   "RECURRENCE-ID" + id + "\r\nDTSTART" + moved + stamp(original + 7200, !zone) +
                   "\r\nDTEND" + moved + stamp(original + 10800, !zone) +
                   "\r\nSUMMARY:Moved\r\nEND:VEVENT\r\n";
    }
  }
  if (chance(0.3)) {
    properties += "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:Reminder\r\nTRIGGER:-PT" +
                  std::to_string(pick(1, 6) * 5) + "M\r\nEND:VALARM\r\n";
  }
  std::string text = "BEGIN:VEVENT\r\nUID:" + uid + "\r\nDTSTAMP:20240101T000000Z\r\n";
  text += "LAST-MODIFIED:" + stamp(kStart2024 + pick(0, 86400 * 365)) + "\r\n";
  text += std::string("SUMMARY:") + kTitles[pick(0, 11)] + "\r\n";
  if (chance(0.3))
    text += "DESCRIPTION:Notes for event " + std::to_string(number) + "\r\n";
  if (chance(0.2))
    text += "LOCATION:Room " + std::to_string(pick(1, 40)) + "\r\n";
  text += properties + "END:VEVENT\r\n" + overrides;
  return {zone, std::move(text)};
}

constexpr const char* kHeader =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//tembra tests//generator//EN\r\n";

}  // namespace

std::string generatedEventText(std::uint64_t seed, std::size_t number, int years) {
  const GeneratedEvent event = generatedEvent(seed, number, years);
  std::string text = kHeader;
  if (event.zone)
    text += event.zone->definition;
  return text + event.components + "END:VCALENDAR\r\n";
}

std::string generatedCalendarText(std::uint64_t seed, std::size_t events, int years) {
  std::string components;
  bool used[std::size(kZones)] = {};
  for (std::size_t number = 0; number < events; ++number) {
    const GeneratedEvent event = generatedEvent(seed, number, years);
    if (event.zone)
      used[event.zone - kZones] = true;
    components += event.components;
  }
  std::string text = kHeader;
  for (std::size_t zone = 0; zone < std::size(kZones); ++zone) {
    if (used[zone])
      text += kZones[zone].definition;
  }
  return text + components + "END:VCALENDAR\r\n";
}

GeneratedStore generateStore(const std::filesystem::path& root, std::size_t events,
                             std::uint64_t seed, int years, std::size_t calendars) {
  GeneratedStore store;
  if (auto error = local::createStoreIfAbsent(root, false))
    throw std::runtime_error(*error);
  store.calendarIds.push_back("local/calendar");
  const char* const titles[] = {"Work", "Family"};
  for (std::size_t more = 0; more + 1 < calendars && more < std::size(titles); ++more) {
    const char* title = titles[more];
    std::string id;
    if (auto error = local::addCalendar(root, {title, "Generated", "#336699", false}, id)) {
      throw std::runtime_error(*error);
    }
    store.calendarIds.push_back(id);
  }
  for (std::size_t number = 0; number < events; ++number) {
    const std::string& calendar = store.calendarIds[number % store.calendarIds.size()];
    const std::string text = generatedEventText(seed, number, years);
    std::ofstream(root / calendar / ("gen-" + std::to_string(number) + ".ics"), std::ios::binary)
        << text;
    ++store.events;
    if (text.find("RRULE") != std::string::npos)
      ++store.repeating;
  }
  return store;
}

}  // namespace tembra::testing
