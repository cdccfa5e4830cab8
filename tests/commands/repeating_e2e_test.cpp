// Repeating events as hosts use them, over the real tembra: one occurrence, it and those after
// it, every occurrence, and rules; requests the hosts make again find what is gone gone.
#include <ctime>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/stores.h"

namespace tembra {
namespace {

using nlohmann::json;
using testing::Backend;
using testing::ProcessResult;
using testing::StoreUnderTest;

// A local time of a May 2024 day, as tembra writes dates.
std::string mayAt(int day, int hour = 9) {
  std::tm parts{};
  parts.tm_year = 124;
  parts.tm_mon = 4;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_isdst = -1;
  const std::time_t instant = std::mktime(&parts);
  std::tm utc{};
  ::gmtime_r(&instant, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000Z", &utc);
  return text;
}

class RepeatingEvents : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (!testing::backendAvailable(GetParam()))
      GTEST_SKIP() << "EDS is tested inside tests/eds/eds_session";
    store.emplace(GetParam());
    // Mondays and Wednesdays at 09:00 local time, six times: 6, 8, 13, 15, 20 and 22 May.
    series = ok({"create", "--input",
                 json{{"title", "Standup"},
                      {"start", mayAt(6)},
                      {"recurrence", "FREQ=WEEKLY;BYDAY=MO,WE;COUNT=6"}}
                     .dump()})["id"];
  }

  json ok(const std::vector<std::string>& args) {
    const ProcessResult result = store->tembra(args);
    EXPECT_EQ(result.status, 0) << result.out;
    return json::parse(result.out, nullptr, false);
  }

  // Every occurrence of May: "day title", in order of start, from the record's own start.
  std::vector<std::string> may() {
    std::vector<std::string> shown;
    for (const json& event : ok({"list", "--from", "2024-05-01T00:00:00Z", "--to",
                                 "2024-06-01T00:00:00Z", "--occurrences", "all"})) {
      std::tm parts{};
      const std::string start = event["start"];
      ::strptime(start.c_str(), "%Y-%m-%dT%H:%M:%S", &parts);
      const std::time_t instant = ::timegm(&parts);
      std::tm local{};
      ::localtime_r(&instant, &local);
      char text[32];
      std::strftime(text, sizeof text, "%d %H:%M", &local);
      shown.push_back(std::string(text) + " " + event["title"].get<std::string>());
    }
    return shown;
  }

  json update(json input) {
    input["id"] = series;
    return ok({"update", "--input", input.dump()});
  }

  std::optional<StoreUnderTest> store;
  std::string series;
};
INSTANTIATE_TEST_SUITE_P(Stores, RepeatingEvents, ::testing::Values(Backend::local),
                         testing::backendName);

TEST_P(RepeatingEvents, OneOccurrenceIsReadChangedAndRemovedAlone) {
  const json got = ok({"get", "--id", series, "--occurrence", mayAt(8)});
  EXPECT_EQ(got["occurrence"], mayAt(8));
  EXPECT_EQ(got["start"], mayAt(8));
  EXPECT_EQ(got["recurrence"], "FREQ=WEEKLY;COUNT=6;BYDAY=MO,WE");
  EXPECT_EQ(got["recurring"], true);
  // No occurrence starts there: a Tuesday.
  EXPECT_EQ(store->tembra({"get", "--id", series, "--occurrence", mayAt(7)}).status, 4);

  update({{"occurrence", mayAt(13)}, {"title", "Moved"}, {"start", mayAt(14)}});
  // The changed occurrence keeps its name, its original start.
  EXPECT_EQ(ok({"get", "--id", series, "--occurrence", mayAt(13)})["title"], "Moved");
  EXPECT_EQ(ok({"delete", "--id", series, "--occurrence", mayAt(15)}),
            json::parse(R"({"ok":true})"));
  // A retried delete removes nothing more.
  for (int retry = 0; retry < 2; ++retry) {
    EXPECT_EQ(ok({"delete", "--id", series, "--occurrence", mayAt(15)}),
              json::parse(R"({"ok":true,"alreadyGone":true})"));
  }
  EXPECT_EQ(may(),
            (std::vector<std::string>{"06 09:00 Standup", "08 09:00 Standup", "14 09:00 Moved",
                                      "20 09:00 Standup", "22 09:00 Standup"}));
  // Without --occurrences, the list leaves the moved occurrence out, as it always did.
  EXPECT_EQ(ok({"list", "--from", "2024-05-01T00:00:00Z", "--to", "2024-06-01T00:00:00Z"}).size(),
            4u);
}

TEST_P(RepeatingEvents, TheFutureIsSplitOffAndTheEarlierOccurrencesStay) {
  update({{"occurrence", mayAt(20)}, {"title", "Moved"}, {"start", mayAt(21)}});
  const json part = update({{"occurrence", mayAt(13)}, {"span", "future"}, {"title", "Retro"}});
  EXPECT_NE(part["id"], series);  // the part that holds the occurrence
  EXPECT_EQ(may(),
            (std::vector<std::string>{"06 09:00 Standup", "08 09:00 Standup", "13 09:00 Retro",
                                      "15 09:00 Retro", "21 09:00 Retro", "22 09:00 Retro"}));
  // Removing the future of the first part leaves it as it was; of the second, it ends.
  EXPECT_EQ(ok({"delete", "--id", part["id"], "--occurrence", mayAt(15), "--span", "future"}),
            json::parse(R"({"ok":true})"));
  EXPECT_EQ(ok({"delete", "--id", part["id"], "--occurrence", mayAt(15), "--span", "future"}),
            json::parse(R"({"ok":true,"alreadyGone":true})"));
  EXPECT_EQ(may(),
            (std::vector<std::string>{"06 09:00 Standup", "08 09:00 Standup", "13 09:00 Retro"}));
}

TEST_P(RepeatingEvents, AllReachesMovedOccurrencesAndShiftsThemAlike) {
  update({{"occurrence", mayAt(13)}, {"start", mayAt(14)}});
  // An hour later, asked of the third occurrence: every one moves an hour, the moved one too.
  update({{"occurrence", mayAt(15)}, {"span", "all"}, {"start", mayAt(15, 10)}, {"title", "Sync"}});
  EXPECT_EQ(may(), (std::vector<std::string>{"06 10:00 Sync", "08 10:00 Sync", "14 10:00 Sync",
                                             "15 10:00 Sync", "20 10:00 Sync", "22 10:00 Sync"}));
  EXPECT_EQ(ok({"delete", "--id", series, "--span", "all"}), json::parse(R"({"ok":true})"));
  EXPECT_EQ(ok({"delete", "--id", series, "--span", "all"}),
            json::parse(R"({"ok":true,"alreadyGone":true})"));
  EXPECT_TRUE(may().empty());
}

TEST_P(RepeatingEvents, RulesAreAddedChangedAndRemoved) {
  update({{"occurrence", mayAt(8)}, {"title", "Moved"}, {"start", mayAt(9)}});
  update({{"recurrence", "FREQ=WEEKLY;BYDAY=MO;COUNT=3"}});
  // An occurrence the new rule does not have goes, with its change.
  EXPECT_EQ(may(),
            (std::vector<std::string>{"06 09:00 Standup", "13 09:00 Standup", "20 09:00 Standup"}));
  EXPECT_EQ(ok({"get", "--id", series})["recurring"], true);
  update({{"recurrence", ""}});
  EXPECT_EQ(may(), (std::vector<std::string>{"06 09:00 Standup"}));
  EXPECT_FALSE(ok({"get", "--id", series}).contains("recurring"));
  update({{"recurrence", "FREQ=DAILY;COUNT=2"}});
  EXPECT_EQ(may(), (std::vector<std::string>{"06 09:00 Standup", "07 09:00 Standup"}));
}

TEST_P(RepeatingEvents, UnusableRequestsAreRefusedAndSaveNothing) {
  const std::vector<std::string> before = may();
  const struct {
    std::vector<std::string> args;
    std::string out;
  } rows[] = {
      {{"update", "--input", json{{"id", series}, {"span", "sometimes"}}.dump()},
       "{\"error\":\"span 只能是 this、future 或 all\"}\n"},
      {{"update", "--input", json{{"id", series}, {"span", 1}}.dump()},
       "{\"error\":\"span 只能是 this、future 或 all\"}\n"},
      {{"update", "--input", json{{"id", series}, {"occurrence", "May 8"}}.dump()},
       "{\"error\":\"occurrence 需要 ISO8601 日期\"}\n"},
      {{"update", "--input",
        json{{"id", series}, {"recurrence", "FREQ=WEEKLY;COUNT=2;UNTIL=20240601"}}.dump()},
       "{\"error\":\"recurrence 不是可用的重复规则: COUNT 和 UNTIL 不能同时出现\"}\n"},
      {{"create", "--input", json{{"start", mayAt(1)}, {"recurrence", "BYDAY=MO"}}.dump()},
       "{\"error\":\"recurrence 不是可用的重复规则: 缺少 FREQ\"}\n"},
      {{"delete", "--id", series, "--span", "everything"},
       "{\"error\":\"--span 只能是 this、future 或 all\"}\n"},
      {{"delete", "--id", series, "--occurrence", "soon"},
       "{\"error\":\"--occurrence 需要 ISO8601 日期\"}\n"},
      {{"get", "--id", series, "--occurrence", ""},
       "{\"error\":\"--occurrence 需要 ISO8601 日期\"}\n"},
      {{"list", "--from", "2024-05-01T00:00:00Z", "--to", "2024-06-01T00:00:00Z", "--occurrences",
        "moved"},
       "{\"error\":\"--occurrences 只能是 all\"}\n"},
  };
  for (const auto& row : rows) {
    const ProcessResult result = store->tembra(row.args);
    EXPECT_EQ(result.status, 64) << row.args[0];
    EXPECT_EQ(result.out, row.out);
  }
  EXPECT_EQ(may(), before);
}

TEST_P(RepeatingEvents, AnAllDaySeriesRepeatsOnLocalDays) {
  const std::string id = ok({"create", "--input",
                             json{{"title", "Gym"},
                                  {"start", mayAt(6, 0)},
                                  {"allDay", true},
                                  {"recurrence", "FREQ=DAILY;INTERVAL=2;COUNT=3"}}
                                 .dump()})["id"];
  std::vector<std::string> days;
  for (const json& event : ok({"list", "--from", "2024-05-01T00:00:00Z", "--to",
                               "2024-06-01T00:00:00Z", "--occurrences", "all"})) {
    if (event["id"] == id) {
      EXPECT_EQ(event["allDay"], true);
      EXPECT_EQ(event["occurrence"], event["start"]);
      days.push_back(event["start"]);
    }
  }
  // Local midnights two days apart, whatever the zone's offset.
  EXPECT_EQ(days, (std::vector<std::string>{mayAt(6, 0), mayAt(8, 0), mayAt(10, 0)}));
}

}  // namespace
}  // namespace tembra
