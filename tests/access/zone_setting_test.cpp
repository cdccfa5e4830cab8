// The machine's zone as the C library reads TZ, and POSIX rules: their offsets agree with the C
// library's, and their VTIMEZONE with both, as libical reads it.
#include "access/zone_setting.h"

#include <libical/ical.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "support/black_box.h"
#include "support/scoped_tz.h"

namespace tembra {
namespace {

struct SettingCase {
  const char* tz;
  ZoneSetting::Kind kind;
  std::string identity;
};

TEST(ZoneSetting, EverySpellingOfAZoneIsOneZone) {
  using Kind = ZoneSetting::Kind;
  const SettingCase cases[] = {
      {"", Kind::utc, "UTC"},
      {"UTC", Kind::utc, "UTC"},
      {":Etc/UTC", Kind::utc, "UTC"},
      {"UTC0", Kind::utc, "UTC"},
      {"Asia/Shanghai", Kind::named, "Asia/Shanghai"},
      {":Asia/Shanghai", Kind::named, "Asia/Shanghai"},
      {"/usr/share/zoneinfo/Asia/Shanghai", Kind::named, "Asia/Shanghai"},
      {":/usr/share/zoneinfo/Asia/Shanghai", Kind::named, "Asia/Shanghai"},
      {"PRC", Kind::named, "Asia/Shanghai"},  // a link in the system's data
      {"US/Eastern", Kind::named, "America/New_York"},
      {"CST-8", Kind::posix, "rule-UTC+0800"},
      {"<+08>-8", Kind::posix, "rule-UTC+0800"},
      {"<+0530>-5:30", Kind::posix, "rule-UTC+0530"},
      {"EST5EDT,M3.2.0,M11.1.0", Kind::posix, "rule-UTC-0500,-0400,M3.2.0/7200,M11.1.0/7200"},
      {"EST5EDT4,M3.2.0/2,M11.1.0/2:00:00", Kind::posix,
       "rule-UTC-0500,-0400,M3.2.0/7200,M11.1.0/7200"},
      // Names that are no zone are UTC, as the C library reads them: one zone, not one each.
      {"Mars/Olympus_Mons", Kind::utc, "UTC"},
      {"../../../etc/passwd", Kind::utc, "UTC"},
      {"CST", Kind::utc, "UTC"},
  };
  for (const SettingCase& c : cases) {
    const ZoneSetting setting = zoneSettingOf(c.tz);
    EXPECT_EQ(setting.kind, c.kind) << c.tz;
    EXPECT_EQ(setting.identity, c.identity) << c.tz;
  }

  // A TZif file outside the zone folder is its own zone, named by its bytes.
  testing::TempStore folder;
  std::filesystem::create_directories(folder.path());
  for (const char* name : {"one", "two"}) {
    std::filesystem::copy_file("/usr/share/zoneinfo/Europe/Berlin", folder.path() / name);
  }
  const ZoneSetting one = zoneSettingOf((folder.path() / "one").string());
  EXPECT_EQ(one.kind, ZoneSetting::Kind::file);
  EXPECT_TRUE(one.identity.starts_with("file-")) << one.identity;
  EXPECT_EQ(zoneSettingOf(":" + (folder.path() / "two").string()).identity, one.identity);
}

using testing::ScopedTz;

struct ComponentFree {
  void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};
struct ZoneFree {
  void operator()(icaltimezone* zone) const { icaltimezone_free(zone, 1); }
};

TEST(PosixZone, OffsetsAgreeWithTheCLibraryAndTheirVtimezoneWithLibical) {
  const char* const rules[] = {
      "CST-8",
      "<+0530>-5:30",
      "EST5EDT,M3.2.0,M11.1.0",
      "<-03>3<-02>,M3.5.0/-2,M10.5.0/-1",  // clocks change before midnight
      "AEST-10AEDT,M10.1.0,M4.1.0/3",      // the southern summer spans the new year
      "IST-2IDT,M3.4.4/26,M10.5.0",        // after midnight of the next day
      "WET0WEST,J60/1,J300/2",             // days of a year without 29 February
      "XXX-1YYY,59/1,299/2",               // days of the year from 0
  };
  std::mt19937_64 random(7);
  std::uniform_int_distribution<std::int64_t> instants(0, 4'102'444'800);  // 1970 to 2100
  for (const char* text : rules) {
    const auto rule = PosixZone::parse(text);
    ASSERT_TRUE(rule) << text;
    std::unique_ptr<icalcomponent, ComponentFree> component(
        icalcomponent_new_from_string(rule->vtimezone("test").c_str()));
    ASSERT_TRUE(component) << rule->vtimezone("test");
    std::unique_ptr<icaltimezone, ZoneFree> zone(icaltimezone_new());
    ASSERT_TRUE(icaltimezone_set_component(zone.get(), component.release()));
    // Changes late in a day or past it are made at the nearest moment of the day in VTIMEZONE.
    const bool exact = rule->start.time >= 0 && rule->start.time < 86400 && rule->end.time >= 0 &&
                       rule->end.time < 86400;
    ScopedTz tz(text);
    for (int i = 0; i < 2000; ++i) {
      const auto utc = static_cast<std::time_t>(instants(random));
      std::tm local{};
      ::localtime_r(&utc, &local);
      ASSERT_EQ(rule->offsetAt(utc), local.tm_gmtoff) << text << " at " << utc;
      icaltimetype time = icaltime_from_timet_with_zone(utc, 0, icaltimezone_get_utc_timezone());
      const int fromLibical = icaltimezone_get_utc_offset_of_utc_time(zone.get(), &time, nullptr);
      if (exact || fromLibical == local.tm_gmtoff) {
        ASSERT_EQ(fromLibical, local.tm_gmtoff) << text << " at " << utc;
      } else {
        // Only within a day of a change of the clocks.
        const int dayBefore = rule->offsetAt(utc - 86400), dayAfter = rule->offsetAt(utc + 86400);
        EXPECT_TRUE(dayBefore != dayAfter) << text << " at " << utc;
      }
    }
  }
}

}  // namespace
}  // namespace tembra
