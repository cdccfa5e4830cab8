// Zone rules from the system's TZif files agree with the C library, which reads the same files.
#include "access/local/zone_rules.h"

#include <cstdlib>
#include <ctime>
#include <random>

#include <gtest/gtest.h>

namespace tembra::local {
namespace {

// Sets TZ for the C library while it lives.
class ScopedTz {
 public:
  explicit ScopedTz(const char* zone) {
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTz() {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
};

// The last two are links in the system's data; they were not read, and a machine set to one of
// them was read as UTC.
const char* const kZones[] = {"Europe/Berlin",     "America/New_York",  "Asia/Shanghai",
                              "Australia/Sydney",  "America/Sao_Paulo", "Asia/Kolkata",
                              "Pacific/Chatham",   "Europe/Dublin",     "America/St_Johns",
                              "Africa/Casablanca", "US/Eastern",        "PRC"};

TEST(ZoneRules, OffsetsMatchTheCLibraryFrom1900To2100) {
  std::mt19937_64 random(5);
  std::uniform_int_distribution<std::int64_t> instants(-2'208'988'800, 4'102'444'800);
  for (const char* zone : kZones) {
    const ZoneRules* rules = systemZoneRules(zone);
    ASSERT_TRUE(rules) << zone;
    ScopedTz tz(zone);
    for (int i = 0; i < 3000; ++i) {
      const std::time_t utc = static_cast<std::time_t>(instants(random));
      std::tm local{};
      ::localtime_r(&utc, &local);
      ASSERT_EQ(rules->offsetAt(utc), local.tm_gmtoff) << zone << " at " << utc;
    }
  }
}

TEST(ZoneRules, WallClockTimesMapBackToTheirInstants) {
  std::mt19937_64 random(6);
  std::uniform_int_distribution<std::int64_t> instants(0, 4'102'444'800);
  for (const char* zone : kZones) {
    const ZoneRules* rules = systemZoneRules(zone);
    ASSERT_TRUE(rules) << zone;
    for (int i = 0; i < 3000; ++i) {
      const std::int64_t utc = instants(random);
      const std::int64_t local = utc + rules->offsetAt(utc);
      const std::int64_t back = rules->utcOf(local);
      // A wall-clock time that occurs twice maps to the first of the two.
      EXPECT_TRUE(back == utc || (back < utc && back + rules->offsetAt(back) == local))
          << zone << " at " << utc;
    }
  }
}

TEST(ZoneRules, ChangesOfTheClockFollowTheCalendarConventions) {
  const ZoneRules& berlin = *systemZoneRules("Europe/Berlin");
  // 2024-03-31 02:30 does not exist in Berlin: read with the offset before, +01:00.
  EXPECT_EQ(berlin.utcOf(1711852200), 1711852200 - 3600);
  // 2024-10-27 02:30 occurs twice: the first, still +02:00.
  EXPECT_EQ(berlin.utcOf(1729996200), 1729996200 - 7200);
  // Far beyond the file's transitions the zone's rule still applies: 2090-07-01 is summer time.
  EXPECT_EQ(berlin.offsetAt(3802464000), 7200);
  EXPECT_EQ(berlin.offsetAt(3786912000), 3600);  // 2090-01-01
}

TEST(ZoneRules, OnlyPlainZoneNamesAreRead) {
  for (const char* name : {"", "../../etc/passwd", "/etc/localtime", "Europe/../Europe/Berlin",
                           "No/Such_Zone", "Europe/Berlin\n"}) {
    EXPECT_FALSE(systemZoneRules(name)) << name;
  }
  EXPECT_TRUE(systemZoneRules("Etc/GMT+5"));
  EXPECT_FALSE(parseTzif("not a zone file"));
  EXPECT_FALSE(parseTzif("TZif2"));
}

}  // namespace
}  // namespace tembra::local
