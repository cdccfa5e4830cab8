// The real tembra lists repeating events far from their start, past what its index holds, in the
// machine's zone where the file's times are floating or all-day.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/black_box.h"

namespace tembra {
namespace {

using nlohmann::json;
using testing::ProcessResult;
using testing::TempStore;

const std::string kDataDir = std::string(TEMBRA_SOURCE_DIR) + "/tests/access/local/data/";

struct FarList {
  const char* name;
  const char* zone;
  const char* file;
  const char* from;
  const char* to;
  std::vector<std::string> starts;
};

class FarListTest : public ::testing::TestWithParam<FarList> {};

TEST_P(FarListTest, ListsTheOccurrencesOfTheWindow) {
  const FarList& row = GetParam();
  TempStore store;
  store.zone = row.zone;
  store.adminOk({"set-access", "fullAccess"});
  store.adminOk({"import", "local/calendar", kDataDir + row.file});
  const ProcessResult result = store.tembra({"list", "--from", row.from, "--to", row.to});
  ASSERT_EQ(result.status, 0) << result.out;
  std::vector<std::string> starts;
  for (const json& event : json::parse(result.out))
    starts.push_back(event["start"]);
  EXPECT_EQ(starts, row.starts);
}

// 5 March 5000 is a Wednesday; New York's summer time begins on Sunday 9 March.
INSTANTIATE_TEST_SUITE_P(
    Zones, FarListTest,
    ::testing::Values(FarList{"floating_utc",
                              "UTC",
                              "weekly_floating.ics",
                              "5000-03-01T00:00:00Z",
                              "5000-03-13T00:00:00Z",
                              {"5000-03-05T09:00:00.000Z", "5000-03-12T09:00:00.000Z"}},
                      FarList{"floating_shanghai",
                              "Asia/Shanghai",
                              "weekly_floating.ics",
                              "5000-03-01T00:00:00Z",
                              "5000-03-13T00:00:00Z",
                              {"5000-03-05T01:00:00.000Z", "5000-03-12T01:00:00.000Z"}},
                      FarList{"floating_new_york",
                              "America/New_York",
                              "weekly_floating.ics",
                              "5000-03-01T00:00:00Z",
                              "5000-03-13T00:00:00Z",
                              {"5000-03-05T14:00:00.000Z", "5000-03-12T13:00:00.000Z"}},
                      FarList{"all_day_utc",
                              "UTC",
                              "birthday.ics",
                              "9999-05-01T00:00:00Z",
                              "9999-06-01T00:00:00Z",
                              {"9999-05-10T00:00:00.000Z"}},
                      FarList{"all_day_shanghai",
                              "Asia/Shanghai",
                              "birthday.ics",
                              "9999-05-01T00:00:00Z",
                              "9999-06-01T00:00:00Z",
                              {"9999-05-09T16:00:00.000Z"}},
                      FarList{"all_day_new_york",
                              "America/New_York",
                              "birthday.ics",
                              "9999-05-01T00:00:00Z",
                              "9999-06-01T00:00:00Z",
                              {"9999-05-10T04:00:00.000Z"}},
                      FarList{"hourly_count_utc",
                              "UTC",
                              "hourly_count.ics",
                              "2050-06-01T00:00:00Z",
                              "2050-06-01T02:00:00Z",
                              {"2050-06-01T00:00:00.000Z", "2050-06-01T01:00:00.000Z"}},
                      FarList{"hourly_count_shanghai",
                              "Asia/Shanghai",
                              "hourly_count.ics",
                              "2050-06-01T00:00:00Z",
                              "2050-06-01T02:00:00Z",
                              {"2050-06-01T00:00:00.000Z", "2050-06-01T01:00:00.000Z"}},
                      FarList{"hourly_count_after_its_last_new_york",
                              "America/New_York",
                              "hourly_count.ics",
                              "2059-05-21T23:10:00Z",
                              "2060-01-01T00:00:00Z",
                              {"2059-05-21T23:00:00.000Z"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tembra
