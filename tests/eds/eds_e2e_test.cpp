// The real tembra over EDS where only EDS can tell: what GNOME's own client library reads back of
// what tembra wrote, identifiers of UIDs that hold "/", moves between calendars, the registry's
// order of calendars, and a session without EDS. Runs inside tests/eds/eds_session.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

#include "support/stores.h"

namespace tembra {
namespace {

using nlohmann::json;
using testing::Backend;
using testing::ProcessResult;
using testing::StoreUnderTest;

const std::string kDataDir = std::string(TEMBRA_SOURCE_DIR) + "/tests/access/local/data/";

class EdsStore : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (!testing::backendAvailable(Backend::eds))
      GTEST_SKIP() << "EDS is tested inside tests/eds/eds_session";
    store.emplace(Backend::eds);
  }

  json ok(const std::vector<std::string>& args) {
    const ProcessResult result = store->tembra(args);
    EXPECT_EQ(result.status, 0) << result.out;
    return json::parse(result.out, nullptr, false);
  }

  // The UID's VEVENTs as EDS's client library reads them.
  std::string shown(const std::string& calendar, const std::string& uid) {
    return testing::runProgram(TEMBRA_EDS_FIXTURE_BINARY, {"show", calendar, uid}).out;
  }

  std::optional<StoreUnderTest> store;
};
INSTANTIATE_TEST_SUITE_P(Stores, EdsStore, ::testing::Values(Backend::eds), testing::backendName);

TEST_P(EdsStore, WhatTembraWritesTheClientLibraryReadsBack) {
  const json created =
      ok({"create", "--input", R"({"title":"Standup","start":"2024-05-01T09:30:00Z",
      "end":"2024-05-01T10:00:00Z","alarms":[{"relative":-900},{"absolute":"2024-05-01T08:00:00Z"}]})"});
  const std::string uid = store->uidOf(created["id"]);
  const std::string timed = shown("system-calendar", uid);
  for (const char* line : {"SUMMARY:Standup", "DTSTART:20240501T093000Z", "DTEND:20240501T100000Z",
                           "TRIGGER:-PT15M", "TRIGGER;VALUE=DATE-TIME:20240501T080000Z"}) {
    EXPECT_NE(timed.find(line), std::string::npos) << line << " in\n" << timed;
  }
  store->zone = "America/New_York";
  ok({"update", "--input", json{{"id", created["id"]}, {"allDay", true}}.dump()});
  EXPECT_NE(shown("system-calendar", uid).find("DTSTART;VALUE=DATE:20240501"), std::string::npos);
}

// A change to one occurrence is saved as EDS's own detached instance of it (the list's side of
// this is EventCommands.UpdatingARepeatingEventChangesItsFirstOccurrenceOnly); what tembra does not
// model stays.
TEST_P(EdsStore, AChangedOccurrenceIsADetachedInstanceAndTheRestSurvives) {
  const std::string id = store->import("system-calendar", kDataDir + "weekly_berlin.ics");
  ok({"update", "--input", json{{"id", id}, {"title", "First only"}}.dump()});
  const std::string series = shown("system-calendar", "weekly-berlin@example.com");
  for (const char* line :
       {"RECURRENCE-ID;TZID=Europe/Berlin:20240313T090000", "SUMMARY:First only",
        "SUMMARY:Team sync (moved)", "ATTENDEE;CN=Ana:mailto:ana@example.com", "CATEGORIES:work",
        "RRULE", "EXDATE;TZID=Europe/Berlin:20240403T090000"}) {
    EXPECT_NE(series.find(line), std::string::npos) << line << " in\n" << series;
  }
}

// Regression: after another client's change to one occurrence, made as GNOME's programs make it
// (e_cal_util_construct_instance, then E_CAL_OBJ_MOD_THIS), the file back-end's time-range query
// no longer returned the detached instance, so that the next list showed the old occurrence.
TEST_P(EdsStore, ListAfterAnotherClientChangedAnOccurrenceLeavesItOut) {
  const std::string id = store->import("system-calendar", kDataDir + "weekly_berlin.ics");
  ASSERT_EQ(testing::runProgram(TEMBRA_EDS_FIXTURE_BINARY,
                                {"change-occurrence", "system-calendar",
                                 "weekly-berlin@example.com", "20240320T080000Z", "Elsewhere"},
                                {{"TZ", store->zone}})
                .status,
            0);
  const auto starts = [&](const char* from, const char* to) {
    std::vector<std::string> found;
    for (const json& event : ok({"list", "--from", from, "--to", to}))
      found.push_back(event["start"]);
    return found;
  };
  EXPECT_EQ(starts("2024-03-19T00:00:00Z", "2024-03-21T00:00:00Z"), std::vector<std::string>{});
  EXPECT_EQ(starts("2024-03-01T00:00:00Z", "2024-05-01T00:00:00Z"),
            (std::vector<std::string>{"2024-03-13T08:00:00.000Z", "2024-04-10T07:00:00.000Z",
                                      "2024-04-17T07:00:00.000Z"}));
}

TEST_P(EdsStore, IdentifiersOfUidsWithSlashesGoBackIn) {
  const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                     ("tembra-uid-" + std::to_string(::getpid()) + ".ics");
  std::ofstream(file) << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\nBEGIN:VEVENT\r\n"
                         "UID:a/b c%d@example.com\r\nDTSTAMP:20240401T000000Z\r\n"
                         "DTSTART:20240501T120000Z\r\nDTEND:20240501T130000Z\r\nSUMMARY:Odd\r\n"
                         "END:VEVENT\r\nEND:VCALENDAR\r\n";
  const std::string id = store->import("system-calendar", file.string());
  std::filesystem::remove(file);
  EXPECT_EQ(id, "system-calendar/a%2Fb%20c%25d@example.com");
  EXPECT_EQ(ok({"get", "--id", id})["externalId"], "a/b c%d@example.com");
  ok({"update", "--input", json{{"id", id}, {"title", "Even"}}.dump()});
  EXPECT_EQ(ok({"get", "--id", id})["title"], "Even");
  for (const char* other :
       {"system-calendar/a/b c%d@example.com", "system-calendar/a%2fb%20c%25d@example.com",
        "system-calendar/a%2Fb%20c%25d%40example.com", "a%2Fb%20c%25d@example.com"}) {
    EXPECT_EQ(store->tembra({"get", "--id", other}).status, 4) << other;
  }
  EXPECT_EQ(ok({"delete", "--id", id}), (json{{"ok", true}}));
}

TEST_P(EdsStore, AMoveLeavesTheEventInTheOtherCalendarOnly) {
  const std::string work = store->addCalendar("Work", "Acme", "#336699");
  const std::string id =
      ok({"create", "--input", R"({"title":"Review","start":"2024-05-02T10:00:00Z"})"})["id"];
  const json moved = ok({"update", "--input", json{{"id", id}, {"calendarId", work}}.dump()});
  EXPECT_EQ(moved["calendarId"], work);
  EXPECT_EQ(moved["id"], work + "/" + store->uidOf(id));
  EXPECT_EQ(store->tembra({"get", "--id", id}).status, 4);
  const json listed =
      ok({"list", "--from", "2024-05-01T00:00:00Z", "--to", "2024-05-03T00:00:00Z"});
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0]["id"], moved["id"]);

  // One occurrence of a series moves as an event of its own; the series no longer has it.
  const std::string series = store->import("system-calendar", kDataDir + "weekly_berlin.ics");
  const json split = ok({"update", "--input", json{{"id", series}, {"calendarId", work}}.dump()});
  EXPECT_NE(split["id"], series);
  EXPECT_EQ(ok({"get", "--id", split["id"]})["start"], "2024-03-13T08:00:00.000Z");
  EXPECT_EQ(ok({"get", "--id", series})["start"], "2024-03-20T08:00:00.000Z");
}

TEST_P(EdsStore, CalendarsComeInTheRegistrysOrderWithTheirAccountsAndColours) {
  const std::string work = store->addCalendar("Work", "Acme", "#336699");
  const std::string alpha = store->addCalendar("Alpha", "", "#FF8000");
  const ProcessResult result = store->tembra({"calendars"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(
      result.out,
      "[{\"allowsContentModifications\":true,\"color\":\"#FF8000\",\"id\":\"" + alpha +
          "\",\"source\":\"\",\"title\":\"Alpha\"},"
          "{\"allowsContentModifications\":true,\"color\":\"#BECEDD\",\"id\":\"system-calendar\","
          "\"source\":\"On This Computer\",\"title\":\"Personal\"},"
          "{\"allowsContentModifications\":true,\"color\":\"#336699\",\"id\":\"" +
          work + "\",\"source\":\"Acme\",\"title\":\"Work\"}]\n");
}

// Regression: EDS dropped the DTSTART of an event after the year 3000 as it saved it, so that the
// event could be neither read nor listed; and a window reaching past the years iCalendar writes
// listed nothing at all.
TEST_P(EdsStore, FarDatesAreKeptOrRefusedNeverLost) {
  const struct {
    const char* start;
    int status;
  } rows[] = {{"0002-01-01T00:00:00Z", 0},  {"1900-06-01T10:00:00Z", 0},
              {"3000-06-01T00:00:00Z", 0},  {"3000-12-31T12:00:00Z", 64},
              {"3001-01-01T00:00:00Z", 64}, {"9999-06-01T00:00:00Z", 64},
              {"0001-01-01T00:00:00Z", 64}};
  std::vector<std::string> kept;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.start);
    const ProcessResult created =
        store->tembra({"create", "--input", json{{"start", row.start}}.dump()});
    ASSERT_EQ(created.status, row.status) << created.out;
    if (row.status == 0) {
      kept.push_back(std::string(row.start).substr(0, 19) + ".000Z");
      EXPECT_EQ(ok({"get", "--id", json::parse(created.out)["id"]})["start"], kept.back());
    }
  }
  std::vector<std::string> listed;
  for (const json& event :
       ok({"list", "--from", "-0001-01-01T00:00:00Z", "--to", "+10000-01-01T00:00:00Z"}))
    listed.push_back(event["start"]);
  EXPECT_EQ(listed, kept);
}

// Without a session bus nothing can be reached, and nothing the user could allow would change it.
TEST_P(EdsStore, WithoutABusAccessIsRestricted) {
  const std::map<std::string, std::string> noBus{
      {"TEMBRA_BACKEND", "eds"}, {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}};
  const ProcessResult status = testing::runProgram(TEMBRA_BINARY, {"status"}, noBus);
  EXPECT_EQ(status.status, 0);
  EXPECT_EQ(status.out, "{\"granted\":false,\"status\":\"restricted\"}\n");
  const ProcessResult calendars = testing::runProgram(TEMBRA_BINARY, {"calendars"}, noBus);
  EXPECT_EQ(calendars.status, 2);
  EXPECT_EQ(calendars.out,
            "{\"error\":\"日历访问未授权（restricted）。请在 系统设置 → 隐私与安全性 → 日历 "
            "中允许本应用访问。\"}\n");
  EXPECT_EQ(calendars.err, "");
}

}  // namespace
}  // namespace tembra
