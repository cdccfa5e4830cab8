// What the executables need from ICU's data, through the real tembra: series that repeat in
// another calendar than the Gregorian (RSCALE), whose walk reads ICU's calendar data. The
// executables carry a cut of ICU's data; a cut that lacks what these reach makes a series lose
// its occurrences.
#include <fstream>
#include <map>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/black_box.h"

namespace tembra {
namespace {

using testing::ProcessResult;
using testing::TempStore;

struct SeriesRow {
  const char* name;
  const char* rule;
  const char* start;
  std::vector<std::string> starts;  // from 2025 to the end of 2028
};

const SeriesRow kSeries[] = {
    {"chinese",
     "RSCALE=CHINESE;FREQ=YEARLY",
     "20250129T120000Z",
     {"2025-01-29", "2026-02-17", "2027-02-07", "2028-01-26"}},
    {"chinese-leap-month",
     "RSCALE=CHINESE;FREQ=MONTHLY;BYMONTH=6L;BYMONTHDAY=1",
     "20250725T120000Z",
     {"2025-07-25"}},
    {"hebrew",
     "RSCALE=HEBREW;FREQ=YEARLY",
     "20250414T120000Z",
     {"2025-04-14", "2026-04-03", "2027-04-23", "2028-04-12"}},
    {"islamic-umalqura",
     "RSCALE=ISLAMIC-UMALQURA;FREQ=YEARLY",
     "20250330T120000Z",
     {"2025-03-30", "2026-03-20", "2027-03-09", "2028-02-26"}},
    {"japanese",
     "RSCALE=JAPANESE;FREQ=YEARLY",
     "20250301T120000Z",
     {"2025-03-01", "2026-03-01", "2027-03-01", "2028-03-01"}},
    {"gregorian-in-berlin",
     "FREQ=MONTHLY;BYDAY=-1SU;COUNT=3",
     "TZID=Europe/Berlin:20250330T013000",
     {"2025-03-30", "2025-04-26", "2025-05-24"}},  // 01:30 in Berlin, in UTC
};

TEST(CalendarSystems, SeriesOfOtherCalendarsRepeatOnTheirDays) {
  TempStore store;
  store.adminOk({"init"});
  std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//tests//EN\r\n";
  for (const SeriesRow& row : kSeries) {
    const std::string start = row.start;
    text += std::string("BEGIN:VEVENT\r\nUID:") + row.name + "\r\nDTSTAMP:20250101T000000Z\r\n" +
            (start.starts_with("TZID") ? "DTSTART;" : "DTSTART:") + start +
            "\r\nRRULE:" + row.rule + "\r\nSUMMARY:" + row.name + "\r\nEND:VEVENT\r\n";
  }
  text += "END:VCALENDAR\r\n";
  const auto file = store.path() / "series.ics";
  std::ofstream(file) << text;
  store.adminOk({"import", "local/calendar", file.string()});

  const ProcessResult listed =
      store.tembra({"list", "--from", "2025-01-01T00:00:00Z", "--to", "2029-01-01T00:00:00Z"});
  ASSERT_EQ(listed.status, 0) << listed.out;
  std::map<std::string, std::vector<std::string>> days;  // title to the UTC days of its starts
  for (const auto& event : nlohmann::json::parse(listed.out))
    days[event["title"]].push_back(event["start"].get<std::string>().substr(0, 10));
  for (const SeriesRow& row : kSeries)
    EXPECT_EQ(days[row.name], row.starts) << row.name;
}

}  // namespace
}  // namespace tembra
