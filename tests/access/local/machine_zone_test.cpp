// The local store in every TZ the C library honours: a POSIX rule and a file's path name their
// zones, and all-day and floating times are read and written in them, not in UTC.
#include <filesystem>
#include <fstream>
#include <set>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "access/local/files.h"
#include "support/black_box.h"

namespace tembra {
namespace {

using nlohmann::json;

struct ZoneCase {
  const char* tz;
  const char* offset;          // in force on 1 May 2024
  const char* floatingNineAm;  // 09:00 of 1 May 2024 in the zone, in UTC
};

TEST(MachineZone, AllDayAndFloatingTimesFollowEveryTzTheCLibraryHonours) {
  const ZoneCase cases[] = {
      {"CST-8", "+08:00", "2024-05-01T01:00:00.000Z"},
      {"<+0530>-5:30", "+05:30", "2024-05-01T03:30:00.000Z"},
      {"EST5EDT,M3.2.0,M11.1.0", "-04:00", "2024-05-01T13:00:00.000Z"},
      {":/usr/share/zoneinfo/Asia/Shanghai", "+08:00", "2024-05-01T01:00:00.000Z"},
  };
  for (const ZoneCase& c : cases) {
    SCOPED_TRACE(c.tz);
    testing::TempStore store;
    store.zone = c.tz;
    store.adminOk({"set-access", "fullAccess"});
    const std::string midnight = std::string("2024-05-01T00:00:00") + c.offset;
    const auto created =
        store.tembra({"create", "--input", json{{"start", midnight}, {"allDay", true}}.dump()});
    ASSERT_EQ(created.status, 0) << created.out;
    const std::string id = json::parse(created.out)["id"];
    const auto text = local::readFile(store.path() / id);
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("DTSTART;VALUE=DATE:20240501\r\n"), std::string::npos) << *text;

    std::ofstream(store.path() / "local/calendar/floating.ics", std::ios::binary)
        << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:x\r\nBEGIN:VEVENT\r\nUID:floating\r\n"
           "DTSTAMP:20240101T000000Z\r\nDTSTART:20240501T090000\r\nEND:VEVENT\r\n"
           "END:VCALENDAR\r\n";
    const auto got = store.tembra({"get", "--id", "local/calendar/floating.ics"});
    EXPECT_EQ(json::parse(got.out)["start"], c.floatingNineAm) << got.out;
    const auto listed =
        store.tembra({"list", "--from", "2024-04-29T00:00:00Z", "--to", "2024-05-03T00:00:00Z"});
    EXPECT_EQ(json::parse(listed.out).size(), 2u) << listed.out;
  }
}

// Each zone has an index of its own; spellings of one zone share it, and names that are no zone
// (read as UTC) share UTC's, rather than each leave one behind.
TEST(MachineZone, OneIndexPerZoneNotPerSpelling) {
  testing::TempStore store;
  store.adminOk({"set-access", "fullAccess"});
  for (const char* tz : {"CST-8", "<+08>-8", "Asia/Shanghai", ":/usr/share/zoneinfo/PRC", "UTC", "",
                         "Mars/Olympus_Mons", "Nowhere", "Etc/UTC"}) {
    store.zone = tz;
    const auto listed =
        store.tembra({"list", "--from", "2024-04-29T00:00:00Z", "--to", "2024-05-03T00:00:00Z"});
    EXPECT_EQ(listed.status, 0) << tz << listed.out;
  }
  std::set<std::string> indexes;
  for (const auto& entry : std::filesystem::directory_iterator(store.path())) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(".index.") && name.ends_with(".sqlite"))
      indexes.insert(name);
  }
  EXPECT_EQ(indexes, (std::set<std::string>{".index.Asia-Shanghai.sqlite", ".index.UTC.sqlite",
                                            ".index.rule-UTC+0800.sqlite"}));
}

}  // namespace
}  // namespace tembra
