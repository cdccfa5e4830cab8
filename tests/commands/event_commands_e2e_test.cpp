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

// Repeating events over both stores: occurrences named by their original start, changes to one,
// to those that follow and to all, rules, and what is refused. The series of weekly_berlin.ics:
// weekly at 09:00 Berlin from 13 March 2024, six times; 3 April excluded, 27 March moved to 14:00.
class RepeatingOverBothStores : public EventCommands {
 protected:
  // The occurrences of March and April 2024, every one, as "start title".
  std::vector<std::string> occurrences() {
    std::vector<std::string> found;
    for (const json& event : ok({"list", "--from", "2024-03-01T00:00:00Z", "--to",
                                 "2024-05-01T00:00:00Z", "--occurrences", "all"})) {
      found.push_back(event["start"].get<std::string>().substr(0, 16) + " " +
                      event["title"].get<std::string>());
    }
    return found;
  }

  std::string weekly() {
    return store->import(store->starter().id, kDataDir + "weekly_berlin.ics");
  }

  ProcessResult update(const json& input) {
    return store->tembra({"update", "--input", input.dump()});
  }
};
INSTANTIATE_TEST_SUITE_P(Stores, RepeatingOverBothStores, testing::kBothBackends,
                         testing::backendName);

const std::vector<std::string> kWeeklyAsImported{
    "2024-03-13T08:00 Team sync", "2024-03-20T08:00 Team sync",
    "2024-03-27T13:00 Team sync (moved)", "2024-04-10T07:00 Team sync",
    "2024-04-17T07:00 Team sync"};

TEST_P(RepeatingOverBothStores, GetNamesAnOccurrenceByItsOriginalStart) {
  const std::string id = weekly();
  const struct {
    const char* name;
    const char* occurrence;
    int status;
    const char* start;  // as get shows it
  } rows[] = {
      {"of_the_rule", "2024-03-20T08:00:00Z", 0, "2024-03-20T08:00:00.000Z"},
      {"in_another_offset", "2024-03-20T09:00:00+01:00", 0, "2024-03-20T08:00:00.000Z"},
      {"moved_on_its_own", "2024-03-27T08:00:00Z", 0, "2024-03-27T13:00:00.000Z"},
      {"where_it_was_moved_to", "2024-03-27T13:00:00Z", 4, nullptr},
      {"excluded", "2024-04-03T07:00:00Z", 4, nullptr},
      {"between_two", "2024-03-20T08:30:00Z", 4, nullptr},
      {"after_the_last", "2024-04-24T07:00:00Z", 4, nullptr},
      {"unreadable", "20th of March", 64, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ProcessResult got = store->tembra({"get", "--id", id, "--occurrence", row.occurrence});
    ASSERT_EQ(got.status, row.status) << got.out;
    if (row.status == 4) {
      EXPECT_EQ(got.out, "{\"error\":\"事件不存在或已删除: " + escapedSlashes(id) + "\"}\n");
    }
    if (row.status == 64) {
      EXPECT_EQ(got.out, "{\"error\":\"--occurrence 需要 ISO8601 日期\"}\n");
    }
    if (row.status != 0)
      continue;
    const json event = json::parse(got.out);
    EXPECT_EQ(event["start"], row.start);
    EXPECT_EQ(event["id"], id);
    EXPECT_EQ(event["recurrence"], "FREQ=WEEKLY;COUNT=6");
    // Its original start: the moved one's is where the series places it.
    EXPECT_EQ(event["occurrence"], std::string(row.start).substr(0, 11) + "08:00:00.000Z");
  }
}

// A change or removal of one occurrence touches that one only; a removal repeated, as a host that
// lost the answer repeats it, is already gone and removes nothing more.
TEST_P(RepeatingOverBothStores, OneOccurrenceChangesAndGoesAlone) {
  const std::string id = weekly();
  const json summary = json::parse(
      update({{"id", id}, {"occurrence", "2024-03-20T08:00:00Z"}, {"title", "Only this"}}).out);
  EXPECT_EQ(summary["id"], id);
  std::vector<std::string> expected = kWeeklyAsImported;
  expected[1] = "2024-03-20T08:00 Only this";
  EXPECT_EQ(occurrences(), expected);

  for (const char* occurrence : {"2024-03-20T08:00:00Z", "2024-04-10T07:00:00Z"}) {
    SCOPED_TRACE(occurrence);
    const std::vector<std::string> removal{"delete", "--id", id, "--occurrence", occurrence};
    EXPECT_EQ(store->tembra(removal).out, "{\"ok\":true}\n");
    EXPECT_EQ(store->tembra(removal).out, "{\"alreadyGone\":true,\"ok\":true}\n");
  }
  EXPECT_EQ(occurrences(), (std::vector<std::string>{kWeeklyAsImported[0], kWeeklyAsImported[2],
                                                     kWeeklyAsImported[4]}));
  // The moved one goes by its original start too.
  EXPECT_EQ(ok({"delete", "--id", id, "--occurrence", "2024-03-27T08:00:00Z"}),
            (json{{"ok", true}}));
  EXPECT_EQ(occurrences(), (std::vector<std::string>{kWeeklyAsImported[0], kWeeklyAsImported[4]}));
}

// "future" from a later occurrence splits the series there: the earlier occurrences stay as they
// were, and the summary names the part that holds the occurrence. "future" from the first, or
// "all", reaches every occurrence, the moved one too, each moved as far as the one named.
TEST_P(RepeatingOverBothStores, FutureAndAllReachAsFarAsTheyName) {
  const struct {
    const char* name;
    json input;
    bool sameId;
    std::vector<std::string> after;
  } rows[] = {
      {"future_from_the_fourth",
       {{"occurrence", "2024-04-10T07:00:00Z"}, {"span", "future"}, {"title", "Later"}},
       false,
       {kWeeklyAsImported[0], kWeeklyAsImported[1], kWeeklyAsImported[2], "2024-04-10T07:00 Later",
        "2024-04-17T07:00 Later"}},
      {"future_from_before_the_moved_one",
       {{"occurrence", "2024-03-20T08:00:00Z"},
        {"span", "future"},
        {"title", "Later"},
        {"start", "2024-03-20T08:30:00Z"}},
       false,
       {kWeeklyAsImported[0], "2024-03-20T08:30 Later", "2024-03-27T13:30 Later",
        "2024-04-10T07:30 Later", "2024-04-17T07:30 Later"}},
      {"all_from_a_later_one",
       {{"occurrence", "2024-03-20T08:00:00Z"},
        {"span", "all"},
        {"title", "Sync"},
        {"start", "2024-03-20T09:00:00Z"},
        {"end", "2024-03-20T09:30:00Z"}},
       true,
       {"2024-03-13T09:00 Sync", "2024-03-20T09:00 Sync", "2024-03-27T14:00 Sync",
        "2024-04-10T08:00 Sync", "2024-04-17T08:00 Sync"}},
      {"future_from_the_first",
       {{"span", "future"}, {"location", "Raum 5"}, {"title", "Sync"}},
       true,
       {"2024-03-13T08:00 Sync", "2024-03-20T08:00 Sync", "2024-03-27T13:00 Sync",
        "2024-04-10T07:00 Sync", "2024-04-17T07:00 Sync"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string id = weekly();
    json input = row.input;
    input["id"] = id;
    const ProcessResult saved = update(input);
    ASSERT_EQ(saved.status, 0) << saved.out;
    const json summary = json::parse(saved.out);
    EXPECT_EQ(summary["id"] == id, row.sameId) << summary;
    EXPECT_EQ(occurrences(), row.after);
    // The summary's event holds the occurrence, where its change moved it.
    const json named = ok({"get", "--id", summary["id"]});
    EXPECT_EQ(named["title"], input["title"]);
    if (input.contains("location")) {
      EXPECT_EQ(named["location"], "Raum 5");
    }
    ok({"delete", "--id", id, "--span", "all"});
    if (!row.sameId)
      ok({"delete", "--id", summary["id"], "--span", "all"});
    EXPECT_EQ(occurrences(), std::vector<std::string>{});
  }
}

// A removal of an occurrence and those after it leaves the earlier ones; of the whole series,
// nothing. Repeated, it is already gone and takes nothing more.
TEST_P(RepeatingOverBothStores, RemovalsReachAsFarAsTheyName) {
  const struct {
    const char* name;
    std::vector<std::string> options;
    std::vector<std::string> after;
  } rows[] = {
      {"future_from_the_fourth",
       {"--occurrence", "2024-04-10T07:00:00Z", "--span", "future"},
       {kWeeklyAsImported[0], kWeeklyAsImported[1], kWeeklyAsImported[2]}},
      {"future_from_the_moved_one",
       {"--occurrence", "2024-03-27T08:00:00Z", "--span", "future"},
       {kWeeklyAsImported[0], kWeeklyAsImported[1]}},
      {"future_from_the_first", {"--span", "future"}, {}},
      {"all_from_a_later_one", {"--occurrence", "2024-04-17T07:00:00Z", "--span", "all"}, {}},
      {"all", {"--span", "all"}, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string id = weekly();
    std::vector<std::string> removal{"delete", "--id", id};
    removal.insert(removal.end(), row.options.begin(), row.options.end());
    EXPECT_EQ(store->tembra(removal).out, "{\"ok\":true}\n");
    EXPECT_EQ(occurrences(), row.after);
    EXPECT_EQ(store->tembra(removal).out, "{\"alreadyGone\":true,\"ok\":true}\n");
    EXPECT_EQ(occurrences(), row.after);
    ok({"delete", "--id", id, "--span", "all"});
  }
}

// A rule given to a new event, to a single event, changed, and taken away: each list shows the
// occurrences the rule makes, with the rule in the spelling every store writes.
TEST_P(RepeatingOverBothStores, RulesAreAddedChangedAndRemoved) {
  const auto listed = [&] {
    std::vector<std::string> found;
    for (const json& event : ok({"list", "--from", "2025-01-01T00:00:00Z", "--to",
                                 "2025-02-01T00:00:00Z", "--occurrences", "all"})) {
      found.push_back(event["start"].get<std::string>().substr(5, 11) + " " +
                      event.value("recurrence", "-"));
    }
    return found;
  };
  const std::string id = create(json{{"title", "Standup"},
                                     {"start", "2025-01-06T09:00:00Z"},
                                     {"recurrence", "freq=daily;count=3;interval=2"}});
  EXPECT_EQ(listed(), (std::vector<std::string>{"01-06T09:00 FREQ=DAILY;COUNT=3;INTERVAL=2",
                                                "01-08T09:00 FREQ=DAILY;COUNT=3;INTERVAL=2",
                                                "01-10T09:00 FREQ=DAILY;COUNT=3;INTERVAL=2"}));
  const struct {
    const char* name;
    json input;
    std::vector<std::string> after;
  } rows[] = {
      {"changed_from_a_later_occurrence",
       {{"occurrence", "2025-01-08T09:00:00Z"}, {"recurrence", "FREQ=WEEKLY;COUNT=2"}},
       {"01-06T09:00 FREQ=WEEKLY;COUNT=2", "01-13T09:00 FREQ=WEEKLY;COUNT=2"}},
      {"until",
       {{"recurrence", "FREQ=WEEKLY;UNTIL=20250120T090000Z"}},
       {"01-06T09:00 FREQ=WEEKLY;UNTIL=20250120T090000Z",
        "01-13T09:00 FREQ=WEEKLY;UNTIL=20250120T090000Z",
        "01-20T09:00 FREQ=WEEKLY;UNTIL=20250120T090000Z"}},
      {"removed", {{"recurrence", ""}}, {"01-06T09:00 -"}},
      {"given_to_a_single_event",
       {{"recurrence", "FREQ=DAILY;COUNT=2"}},
       {"01-06T09:00 FREQ=DAILY;COUNT=2", "01-07T09:00 FREQ=DAILY;COUNT=2"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    json input = row.input;
    input["id"] = id;
    const ProcessResult saved = update(input);
    ASSERT_EQ(saved.status, 0) << saved.out;
    EXPECT_EQ(json::parse(saved.out)["id"], id);
    EXPECT_EQ(listed(), row.after);
  }
}

// A series without an end ends where a change to the future or a removal of it begins, timed or
// of whole days, in whatever zone: the earlier occurrences stay, the later ones follow the change.
TEST_P(RepeatingOverBothStores, AnEndlessSeriesEndsWhereTheFutureBegins) {
  const struct {
    const char* name;
    json event;
    const char* third;  // the original start of its third occurrence
  } rows[] = {
      {"timed", {{"start", "2025-03-01T09:00:00Z"}}, "2025-03-03T09:00:00Z"},
      {"all_day", {{"start", "2025-03-01T12:00:00Z"}, {"allDay", true}}, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    json input = row.event;
    input["title"] = "Daily";
    input["recurrence"] = "FREQ=DAILY";
    const std::string id = create(input);
    const auto titles = [&] {
      std::vector<std::string> found;
      for (const json& event : ok({"list", "--from", "2025-02-27T00:00:00Z", "--to",
                                   "2025-03-06T00:00:00Z", "--occurrences", "all"})) {
        found.push_back(event["title"]);
      }
      return found;
    };
    // All-day occurrences start at the local midnight: the third is what the list says it is.
    const json listed = ok({"list", "--from", "2025-02-27T00:00:00Z", "--to",
                            "2025-03-06T00:00:00Z", "--occurrences", "all"});
    ASSERT_GE(listed.size(), 4u);
    const std::string third = row.third ? row.third : listed[2]["occurrence"].get<std::string>();
    const std::string fourth = listed[3]["occurrence"];
    const json later = ok(
        {"update", "--input",
         json{{"id", id}, {"occurrence", third}, {"span", "future"}, {"title", "Later"}}.dump()});
    EXPECT_NE(later["id"], id);
    std::vector<std::string> expected(listed.size(), "Later");
    expected[0] = expected[1] = "Daily";
    EXPECT_EQ(titles(), expected);
    ok({"delete", "--id", later["id"], "--occurrence", fourth, "--span", "future"});
    EXPECT_EQ(titles(), (std::vector<std::string>{"Daily", "Daily", "Later"}));
    ok({"delete", "--id", id, "--span", "all"});
    ok({"delete", "--id", later["id"], "--span", "all"});
  }
}

// An all-day series repeats on the days of the zone it is made in.
TEST_P(RepeatingOverBothStores, AnAllDaySeriesRepeatsOnLocalDays) {
  const struct {
    const char* zone;
    const char* start;
    std::vector<std::string> starts;
  } rows[] = {
      {"Asia/Shanghai",
       "2024-05-01T09:30:00+08:00",
       {"2024-04-30T16:00:00.000Z", "2024-05-01T16:00:00.000Z", "2024-05-02T16:00:00.000Z"}},
      {"America/New_York",
       "2024-05-01T23:30:00-04:00",
       {"2024-05-01T04:00:00.000Z", "2024-05-02T04:00:00.000Z", "2024-05-03T04:00:00.000Z"}},
      {"UTC",
       "2024-05-01T00:00:00Z",
       {"2024-05-01T00:00:00.000Z", "2024-05-02T00:00:00.000Z", "2024-05-03T00:00:00.000Z"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.zone);
    store->zone = row.zone;
    const std::string id =
        create(json{{"start", row.start}, {"allDay", true}, {"recurrence", "FREQ=DAILY;COUNT=3"}});
    std::vector<std::string> starts;
    for (const json& event : ok({"list", "--from", "2024-04-29T00:00:00Z", "--to",
                                 "2024-05-05T00:00:00Z", "--occurrences", "all"})) {
      EXPECT_EQ(event["allDay"], true);
      EXPECT_EQ(event["occurrence"], event["start"]);
      starts.push_back(event["start"]);
    }
    EXPECT_EQ(starts, row.starts);
    // The second day, named by its local midnight.
    const ProcessResult second = store->tembra({"get", "--id", id, "--occurrence", row.starts[1]});
    EXPECT_EQ(second.status, 0) << second.out;
    ok({"delete", "--id", id, "--span", "all"});
  }
}

// What a host sends wrong is refused with status 64 before anything is saved or removed.
TEST_P(RepeatingOverBothStores, WrongSpansAndRulesAreRefusedAndNothingChanges) {
  const std::string id = weekly();
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::string error;
  } rows[] = {
      {"update_span",
       {"update", "--input", json{{"id", id}, {"span", "some"}, {"title", "x"}}.dump()},
       "span 只能是 this、future 或 all"},
      {"update_span_not_text",
       {"update", "--input", json{{"id", id}, {"span", 1}, {"title", "x"}}.dump()},
       "span 只能是 this、future 或 all"},
      {"update_occurrence",
       {"update", "--input", json{{"id", id}, {"occurrence", "soon"}, {"title", "x"}}.dump()},
       "occurrence 需要 ISO8601 日期"},
      {"rule_with_count_and_until",
       {"update", "--input",
        json{{"id", id}, {"recurrence", "FREQ=DAILY;COUNT=2;UNTIL=20250101"}, {"title", "x"}}
            .dump()},
       "recurrence 不是可用的重复规则: COUNT 和 UNTIL 不能同时出现"},
      {"rule_of_parts_that_do_not_go_together",
       {"update", "--input",
        json{{"id", id}, {"recurrence", "FREQ=WEEKLY;BYWEEKNO=2"}, {"title", "x"}}.dump()},
       "recurrence 不是可用的重复规则: BYWEEKNO 只能用于 FREQ=YEARLY"},
      {"create_rule",
       {"create", "--input",
        json{{"start", "2024-03-14T08:00:00Z"}, {"recurrence", "DAILY"}}.dump()},
       "recurrence 不是可用的重复规则: 不是 名称=值 的形式: DAILY"},
      {"delete_span",
       {"delete", "--id", id, "--span", "every"},
       "--span 只能是 this、future 或 all"},
      {"delete_occurrence",
       {"delete", "--id", id, "--occurrence", "x", "--span", "all"},
       "--occurrence 需要 ISO8601 日期"},
      {"list_occurrences",
       {"list", "--from", "2024-03-01T00:00:00Z", "--to", "2024-05-01T00:00:00Z", "--occurrences",
        "some"},
       "--occurrences 只能是 all"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ProcessResult refused = store->tembra(row.args);
    EXPECT_EQ(refused.status, 64);
    EXPECT_EQ(refused.out, "{\"error\":\"" + row.error + "\"}\n");
    EXPECT_EQ(occurrences(), kWeeklyAsImported);
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
