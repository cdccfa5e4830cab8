// The real tembra over the stores it serves, the local store and EDS: creating, reading, listing,
// changing and deleting events, checked by exact output bytes and exit statuses.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/stores.h"

namespace tembra {
namespace {

using nlohmann::json;
using testing::Backend;
using testing::escapedSlashes;
using testing::ProcessResult;
using testing::Shown;
using testing::StoreUnderTest;
using testing::TempStore;

const std::string kDataDir = std::string(TEMBRA_SOURCE_DIR) + "/tests/access/local/data/";

// A fresh store of the back-end with full access, as a person who allowed tembra would have it.
class EventCommands : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (!testing::backendAvailable(GetParam()))
      GTEST_SKIP() << "EDS is tested inside tests/eds/eds_session";
    store.emplace(GetParam());
  }

  json ok(const std::vector<std::string>& args) {
    const ProcessResult result = store->tembra(args);
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(result.out.back(), '\n');
    return json::parse(result.out, nullptr, false);
  }

  std::string create(const json& input) { return ok({"create", "--input", input.dump()})["id"]; }

  std::optional<StoreUnderTest> store;
};
INSTANTIATE_TEST_SUITE_P(Stores, EventCommands, testing::kBothBackends, testing::backendName);

// What only the local store does.
class LocalEventCommands : public EventCommands {};
INSTANTIATE_TEST_SUITE_P(Stores, LocalEventCommands, ::testing::Values(Backend::local),
                         testing::backendName);

TEST_P(EventCommands, CreateThenGetShowsWhatWasSaved) {
  const Shown starter = store->starter();
  const json summary = ok({"create", "--input",
                           R"({"title":"Dentist / 牙医","notes":"bring card","location":"Main St",
                               "start":"2024-05-01T17:30:00+08:00","end":"2024-05-01T10:45:00Z",
                               "alarms":[{"relative":-900},{"absolute":"2024-05-01T08:00:00Z"}]})"});
  const std::string id = summary["id"];
  ASSERT_TRUE(id.starts_with(starter.id + "/")) << id;
  const std::string uid = store->uidOf(id);
  const std::int64_t modified = summary["lastModified"];
  EXPECT_EQ(modified % 1000, 0);  // whole seconds, as iCalendar keeps them

  const ProcessResult got = store->tembra({"get", "--id", id});
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.out,
            "{\"alarms\":[{\"relative\":-900},{\"absolute\":\"2024-05-01T08:00:00.000Z\"}],"
            "\"allDay\":false,\"calendarId\":\"" +
                escapedSlashes(starter.id) + "\",\"calendarTitle\":\"" + starter.title +
                "\",\"end\":\"2024-05-01T10:45:00.000Z\",\"externalId\":\"" + uid + "\",\"id\":\"" +
                escapedSlashes(id) + "\",\"lastModified\":" + std::to_string(modified) +
                ",\"location\":\"Main St\",\"notes\":\"bring card\","
                "\"start\":\"2024-05-01T09:30:00.000Z\",\"title\":\"Dentist \\/ 牙医\"}\n");
}

// The series has an EXDATE and an occurrence detached from it (over EDS, through EDS's own API).
TEST_P(EventCommands, ListShowsEachOccurrenceButTheMovedOne) {
  const std::string id = store->import(store->starter().id, kDataDir + "weekly_berlin.ics");
  const json events =
      ok({"list", "--from", "2024-03-01T00:00:00Z", "--to", "2024-05-01T00:00:00Z"});
  ASSERT_TRUE(events.is_array());
  std::vector<std::string> starts;
  for (const json& event : events) {
    EXPECT_EQ(event["id"], id);
    EXPECT_EQ(event["recurring"], true);
    EXPECT_EQ(event["title"], "Team sync");
    EXPECT_EQ(event["externalId"], "weekly-berlin@example.com");
    EXPECT_EQ(event["alarms"], json::parse(R"([{"relative":-600}])"));
    starts.push_back(event["start"]);
  }
  // 27 March was moved on its own and 3 April excluded; summer time begins on 31 March.
  EXPECT_EQ(starts,
            (std::vector<std::string>{"2024-03-13T08:00:00.000Z", "2024-03-20T08:00:00.000Z",
                                      "2024-04-10T07:00:00.000Z", "2024-04-17T07:00:00.000Z"}));
}

TEST_P(EventCommands, ListNarrowsToOneCalendarByIdentifier) {
  const auto holidays = store->readOnlyWithEvent();
  create(json{{"title", "mine"}, {"start", "2025-05-10T09:00:00Z"}});
  const std::vector<std::string> window = {"list", "--from", "2025-05-01T00:00:00Z", "--to",
                                           "2025-06-01T00:00:00Z"};
  const auto listed = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = window;
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<std::string> titles;
    for (const json& event : ok(args))
      titles.push_back(event["title"]);
    return titles;
  };
  const std::vector<std::string> both{holidays.eventTitle, "mine"};
  EXPECT_EQ(listed({}), both);
  EXPECT_EQ(listed({"--calendar", ""}), both);
  EXPECT_EQ(listed({"--calendar"}), both);
  EXPECT_EQ(listed({"--calendar", holidays.calendar.id}),
            (std::vector<std::string>{holidays.eventTitle}));
  EXPECT_EQ(listed({"--calendar", store->starter().id}), (std::vector<std::string>{"mine"}));

  std::vector<std::string> unknown = window;
  unknown.insert(unknown.end(), {"--calendar", "nope/../x"});
  const ProcessResult result = store->tembra(unknown);
  EXPECT_EQ(result.status, 5);
  EXPECT_EQ(result.out, "{\"error\":\"日历不存在或已删除: nope\\/..\\/x\"}\n");
}

TEST_P(EventCommands, AReadOnlyCalendarRefusesChangesAndDeletion) {
  const auto holidays = store->readOnlyWithEvent();
  const std::string& id = holidays.event;

  const ProcessResult update =
      store->tembra({"update", "--input", json{{"id", id}, {"title", "x"}}.dump()});
  EXPECT_EQ(update.status, 1);
  EXPECT_EQ(update.out, "{\"error\":\"更新事件失败: " + store->readOnlyRefusal(false) + "\"}\n");
  const ProcessResult removal = store->tembra({"delete", "--id", id});
  EXPECT_EQ(removal.status, 1);
  EXPECT_EQ(removal.out, "{\"error\":\"删除事件失败: " + store->readOnlyRefusal(true) + "\"}\n");
  EXPECT_EQ(ok({"get", "--id", id})["title"], holidays.eventTitle);

  // Created there by calendarId, the event goes to the default calendar instead.
  const json summary =
      ok({"create", "--input",
          json{{"start", "2025-01-01T09:00:00Z"}, {"calendarId", holidays.calendar.id}}.dump()});
  EXPECT_EQ(summary["calendarId"], store->starter().id);
}

TEST_P(EventCommands, DeleteTwiceSaysTheSecondTimeThatItWasGone) {
  const std::string id = create(json{{"start", "2025-01-01T09:00:00Z"}});
  const ProcessResult first = store->tembra({"delete", "--id", id});
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.out, "{\"ok\":true}\n");
  const ProcessResult second = store->tembra({"delete", "--id", id});
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(second.out, "{\"alreadyGone\":true,\"ok\":true}\n");
  const ProcessResult got = store->tembra({"get", "--id", id});
  EXPECT_EQ(got.status, 4);
  EXPECT_EQ(got.out, "{\"error\":\"事件不存在或已删除: " + escapedSlashes(id) + "\"}\n");
}

TEST_P(EventCommands, UpdateChangesOnlyWhatItCarries) {
  const std::string id = create(json{{"title", "Plan"},
                                     {"notes", "keep"},
                                     {"start", "2025-01-01T09:00:00Z"},
                                     {"end", "2025-01-01T10:00:00Z"},
                                     {"alarms", json::parse(R"([{"relative":-300}])")}});
  // A start past the old end gets an end one hour after it.
  const json summary =
      ok({"update", "--input", json{{"id", id}, {"start", "2025-01-01T12:00:00Z"}}.dump()});
  EXPECT_EQ(summary["id"], id);
  const json event = ok({"get", "--id", id});
  EXPECT_EQ(event["start"], "2025-01-01T12:00:00.000Z");
  EXPECT_EQ(event["end"], "2025-01-01T13:00:00.000Z");
  EXPECT_EQ(event["notes"], "keep");
  EXPECT_EQ(event["alarms"], json::parse(R"([{"relative":-300}])"));

  ok({"update", "--input", json{{"id", id}, {"notes", ""}, {"alarms", json::array()}}.dump()});
  const json emptied = ok({"get", "--id", id});
  EXPECT_EQ(emptied["notes"], "");
  EXPECT_EQ(emptied["alarms"], json::array());
  EXPECT_EQ(emptied["title"], "Plan");
}

TEST_P(EventCommands, UpdatingARepeatingEventChangesItsFirstOccurrenceOnly) {
  const std::string id = store->import(store->starter().id, kDataDir + "weekly_berlin.ics");
  ok({"update", "--input", json{{"id", id}, {"title", "First only"}}.dump()});
  const json events =
      ok({"list", "--from", "2024-03-01T00:00:00Z", "--to", "2024-05-01T00:00:00Z"});
  // The first occurrence is now detached, so the list leaves it out with the other moved one.
  ASSERT_EQ(events.size(), 3u);
  for (const json& event : events)
    EXPECT_EQ(event["title"], "Team sync");
  EXPECT_EQ(ok({"get", "--id", id})["title"], "First only");
  ok({"delete", "--id", id});
  EXPECT_EQ(ok({"get", "--id", id})["start"], "2024-03-20T08:00:00.000Z");
}

TEST_P(EventCommands, AllDayEventsFollowTheLocalDays) {
  store->zone = "Asia/Shanghai";
  const std::string id =
      create(json{{"title", "Holiday"}, {"start", "2024-05-01T09:30:00+08:00"}, {"allDay", true}});
  const json event = ok({"get", "--id", id});
  EXPECT_EQ(event["allDay"], true);
  EXPECT_EQ(event["start"], "2024-04-30T16:00:00.000Z");
  EXPECT_EQ(event["end"], "2024-05-01T15:59:59.000Z");
  const json day = ok({"list", "--from", "2024-04-30T16:00:00Z", "--to", "2024-05-01T16:00:00Z"});
  EXPECT_EQ(day.size(), 1u);
  const json nextDay =
      ok({"list", "--from", "2024-05-01T16:00:00Z", "--to", "2024-05-02T16:00:00Z"});
  EXPECT_EQ(nextDay.size(), 0u);
}

// Every TZ the C library honours names the zone whose days all-day events fall on: before, a
// POSIX rule or a file's path was read as UTC and the event landed on the day before.
TEST_P(EventCommands, AllDayEventsFollowEveryFormOfTz) {
  const struct {
    const char* tz;
    const char* midnight;  // 1 May 2024 there
    const char* start;
  } rows[] = {
      {"CST-8", "2024-05-01T00:00:00+08:00", "2024-04-30T16:00:00.000Z"},
      {"<+0530>-5:30", "2024-05-01T00:00:00+05:30", "2024-04-30T18:30:00.000Z"},
      {"EST5EDT,M3.2.0,M11.1.0", "2024-05-01T00:00:00-04:00", "2024-05-01T04:00:00.000Z"},
      {":/usr/share/zoneinfo/Asia/Shanghai", "2024-05-01T00:00:00+08:00",
       "2024-04-30T16:00:00.000Z"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.tz);
    store->zone = row.tz;
    const std::string id = create(json{{"start", row.midnight}, {"allDay", true}});
    const json event = ok({"get", "--id", id});
    EXPECT_EQ(event["allDay"], true);
    EXPECT_EQ(event["start"], row.start);
  }
}

// Dates and alarms far out: what a file holds (years 0000 to 9999) reads back as it was saved;
// what it cannot hold is refused as input and nothing is written. Regression: far starts crashed
// create, and alarms outside those years were saved as files no reader accepts, or dropped.
TEST_P(LocalEventCommands, FarDatesAreKeptOrRefusedNeverLost) {
  struct Case {
    const char* name;
    const char* input;
    const char* start;  // as get shows it when kept (null: all-day), "" when refused
  };
  const Case cases[] = {
      {"start_in_3001", R"({"start":"3001-01-01T00:00:00Z"})", "3001-01-01T00:00:00.000Z"},
      {"last_hour_of_9999", R"({"start":"9999-12-31T22:00:00Z","end":"9999-12-31T23:59:59Z"})",
       "9999-12-31T22:00:00.000Z"},
      {"first_second_of_0000", R"({"start":"0000-01-01T00:00:00Z"})", "0000-01-01T00:00:00.000Z"},
      {"all_day_on_9999_12_30", R"({"start":"9999-12-30T12:00:00Z","allDay":true})", nullptr},
      {"alarm_in_9999",
       R"({"start":"2025-03-05T10:00:00Z","alarms":[{"absolute":"9999-12-31T23:59:59Z"}]})",
       "2025-03-05T10:00:00.000Z"},
      {"end_in_10000", R"({"start":"9999-12-31T23:59:59.999Z"})", ""},
      {"start_before_0000", R"({"start":"-0001-01-01T00:00:00Z"})", ""},
      {"all_day_on_9999_12_31", R"({"start":"9999-12-31T12:00:00Z","allDay":true})", ""},
      {"alarm_in_10000",
       R"({"start":"2025-03-05T10:00:00Z","alarms":[{"absolute":"+10000-01-01T00:00:00Z"}]})", ""},
      {"alarm_before_0000",
       R"({"start":"2025-03-05T10:00:00Z","alarms":[{"absolute":"-0001-06-01T00:00:00Z"}]})", ""},
      {"alarm_at_the_end_of_49999",
       R"({"start":"2025-03-05T10:00:00Z","alarms":[{"absolute":"+49999-12-31T23:59:59.999Z"}]})",
       ""},
      {"alarm_68_years_away", R"({"start":"2025-03-05T10:00:00Z","alarms":[{"relative":3e9}]})",
       ""},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.name);
    const ProcessResult created = store->tembra({"create", "--input", each.input});
    if (each.start && !*each.start) {
      EXPECT_EQ(created.status, 64);
      EXPECT_EQ(created.out, "{\"error\":\"create 需要 --input <JSON>\"}\n");
      continue;
    }
    ASSERT_EQ(created.status, 0) << created.out;
    const json event = ok({"get", "--id", json::parse(created.out)["id"]});
    if (each.start) {
      EXPECT_EQ(event["start"], each.start);
    }
    if (!event["alarms"].empty()) {
      EXPECT_EQ(event["alarms"][0]["absolute"], "9999-12-31T23:59:59.000Z");
    }
    // The window finds it too, through the index.
    const json listed =
        ok({"list", "--from", "-0001-01-01T00:00:00Z", "--to", "+10000-01-01T00:00:00Z"});
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0], event);
    ok({"delete", "--id", event["id"]});
  }
  // Nothing refused reached a file.
  EXPECT_EQ(ok({"list", "--from", "-49999-01-01T00:00:00Z", "--to", "+49999-01-01T00:00:00Z"}),
            json::array());

  const std::string id = create(json{{"start", "2025-03-05T10:00:00Z"}});
  const ProcessResult updated = store->tembra(
      {"update", "--input",
       json{{"id", id}, {"alarms", json::parse(R"([{"absolute":"+10000-01-01T00:00:00Z"}])")}}
           .dump()});
  EXPECT_EQ(updated.status, 64);
  EXPECT_EQ(updated.out, "{\"error\":\"update 需要 --input <JSON>，且包含 id\"}\n");
  EXPECT_EQ(ok({"get", "--id", id})["alarms"], json::array());
}

// The README's advice to hosts west of UTC: midnight UTC is still the day before there.
TEST_P(EventCommands, AnAllDayStartLandsOnTheLocalDayOfItsInstant) {
  store->zone = "America/New_York";
  const struct {
    const char* start;
    const char* storedStart;
  } rows[] = {
      {"2024-05-01T00:00:00-04:00", "2024-05-01T04:00:00.000Z"},
      {"2024-05-01T00:00:00Z", "2024-04-30T04:00:00.000Z"},
  };
  for (const auto& row : rows) {
    const std::string id = create(json{{"start", row.start}, {"allDay", true}});
    EXPECT_EQ(ok({"get", "--id", id})["start"], row.storedStart) << row.start;
  }
}

TEST_P(LocalEventCommands, AStoreWithoutCalendarsRefusesToCreate) {
  TempStore empty;
  empty.adminOk({"init", "--empty"});
  empty.adminOk({"set-access", "fullAccess"});
  const ProcessResult result =
      empty.tembra({"create", "--input", R"({"start":"2025-01-01T09:00:00Z"})"});
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.out, "{\"error\":\"没有可写入的日历\"}\n");
}

}  // namespace
}  // namespace tembra
