// How an import splits iCalendar text into files: the zones each file holds, one file per UID, and
// what libical would write unreadable.
#include "access/local/import.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "access/local/event_files.h"
#include "access/local/files.h"
#include "access/local/ical.h"
#include "support/black_box.h"

namespace tembra::local {
namespace {

using tembra::testing::TempStore;

// A VTIMEZONE without rules: enough for a file to name it.
std::string zone(const std::string& tzid) {
  return "BEGIN:VTIMEZONE\r\nTZID:" + tzid + "\r\nBEGIN:STANDARD\r\nTZOFFSETFROM:+0100\r\n" +
         "TZOFFSETTO:+0100\r\nDTSTART:19700101T000000\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n";
}

std::string event(const std::string& uid, const std::string& start, const std::string& end,
                  const std::string& more = "") {
  return "BEGIN:VEVENT\r\nUID:" + uid + "\r\nDTSTAMP:20250101T000000Z\r\nDTSTART" + start +
         "\r\nDTEND" + end + "\r\n" + more + "END:VEVENT\r\n";
}

std::string calendarOf(const std::string& body) {
  return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:x\r\nMETHOD:PUBLISH\r\n" + body +
         "END:VCALENDAR\r\n";
}

// The TZIDs of a file's VTIMEZONEs, sorted.
std::vector<std::string> zonesOf(const std::filesystem::path& file) {
  std::vector<std::string> tzids;
  const ical::Component parsed = ical::parse(readFile(file).value_or(""));
  if (!parsed)
    return {"unreadable"};
  for (icalcomponent* zone : ical::children(parsed.get(), ICAL_VTIMEZONE_COMPONENT)) {
    icalproperty* tzid = icalcomponent_get_first_property(zone, ICAL_TZID_PROPERTY);
    tzids.push_back(tzid ? icalproperty_get_tzid(tzid) : "?");
  }
  std::sort(tzids.begin(), tzids.end());
  return tzids;
}

// Each UID's file holds the zones its events use, each once though the calendar defines one twice
// (which it must not), and no METHOD.
TEST(ImportEvents, EachFileHoldsTheZonesItsEventsUse) {
  TempStore store;
  const std::string text = calendarOf(zone("Europe/Berlin") + zone("America/New_York") +
                                      zone("Europe/Berlin") + zone("Asia/Tokyo") +
                                      event("berlin", ";TZID=Europe/Berlin:20250301T090000",
                                            ";TZID=Europe/Berlin:20250301T100000") +
                                      event("both", ";TZID=America/New_York:20250301T090000",
                                            ";TZID=Europe/Berlin:20250301T200000") +
                                      event("utc", ":20250301T090000Z", ":20250301T100000Z") +
                                      event("new-york", ";TZID=America/New_York:20250301T090000",
                                            ";TZID=America/New_York:20250301T100000"));
  std::vector<std::string> ids;
  ASSERT_FALSE(importEvents(store.path(), "local/calendar", text, ids));
  struct Case {
    const char* uid;
    std::vector<std::string> zones;
  };
  const Case cases[] = {
      {"berlin", {"Europe/Berlin"}},
      {"both", {"America/New_York", "Europe/Berlin"}},
      {"utc", {}},
      {"new-york", {"America/New_York"}},
  };
  ASSERT_EQ(ids.size(), std::size(cases));
  for (std::size_t at = 0; at < ids.size(); ++at) {
    const Case& c = cases[at];
    EXPECT_EQ(ids[at], std::string("local/calendar/") + c.uid + ".ics");
    EXPECT_EQ(zonesOf(store.path() / ids[at]), c.zones) << c.uid;
    EXPECT_EQ(readFile(store.path() / ids[at]).value_or("METHOD").find("METHOD"), std::string::npos)
        << c.uid;
  }
}

TEST(ImportEvents, AUidEndsInOneFile) {
  struct Case {
    const char* name;
    std::vector<std::string> imports;  // one text per import, in turn
    const char* title;                 // of the series once they are all in
    const char* holds;                 // a line of its file
  };
  const std::string master =
      event("u", ":20250301T090000Z", ":20250301T100000Z", "RRULE:FREQ=DAILY;COUNT=3\r\n");
  const Case cases[] = {
      {"imported twice",
       {calendarOf(event("u", ":20250301T090000Z", ":20250301T100000Z", "SUMMARY:old\r\n")),
        calendarOf(event("u", ":20250301T090000Z", ":20250301T100000Z", "SUMMARY:new\r\n"))},
       "new",
       "SUMMARY:new"},
      {"a series and its override apart in one text",
       {calendarOf(event("u", ":20250302T120000Z", ":20250302T130000Z",
                         "RECURRENCE-ID:20250302T090000Z\r\nSUMMARY:moved\r\n") +
                   event("other", ":20250301T090000Z", ":20250301T100000Z") + master)},
       "",
       "SUMMARY:moved"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempStore store;
    std::vector<std::string> ids;
    for (const std::string& text : c.imports)
      ASSERT_FALSE(importEvents(store.path(), "local/calendar", text, ids));
    const std::filesystem::path dir = store.path() / "local" / "calendar";
    std::size_t holding = 0;
    for (const std::string& name : eventFileNames(dir)) {
      const auto series = readSeries(dir / name);
      ASSERT_TRUE(series) << name;
      if (series->uid() != "u")
        continue;
      ++holding;
      EXPECT_EQ(series->eventAt(*series->first()).title.value_or(""), c.title);
      EXPECT_NE(readFile(dir / name)->find(c.holds), std::string::npos) << name;
    }
    EXPECT_EQ(holding, 1u);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), "local/calendar/u.ics"),
              static_cast<std::ptrdiff_t>(c.imports.size()));
  }
}

// Files that libical writes back as text it refuses, or reads as something else, were refused by
// an import or imported changed; each imports as the store reads the file itself.
TEST(ImportEvents, KeepsWhatLibicalWouldWriteUnreadable) {
  const std::filesystem::path fixtures =
      std::filesystem::path(TEMBRA_SOURCE_DIR) / "tests/access/local/data/fuzz";
  for (const char* name :
       {"date_stamp_written_as_refused_value", "alarm_related_end_with_invalid_byte",
        "alarm_trigger_date_under_date_time"}) {
    SCOPED_TRACE(name);
    const std::string text = readFile(fixtures / (std::string(name) + ".ics")).value_or("");
    const std::optional<Series> original = Series::parse(text);
    ASSERT_TRUE(original);
    TempStore store;
    std::vector<std::string> ids;
    ASSERT_FALSE(importEvents(store.path(), "local/calendar", text, ids));
    ASSERT_EQ(ids.size(), 1u);
    const std::optional<Series> imported = readSeries(store.path() / ids[0]);
    ASSERT_TRUE(imported);
    const Event before = original->eventAt(*original->first());
    const Event after = imported->eventAt(*imported->first());
    EXPECT_EQ(after.startDate, before.startDate);
    EXPECT_EQ(after.alarms, before.alarms);
  }
}

}  // namespace
}  // namespace tembra::local
