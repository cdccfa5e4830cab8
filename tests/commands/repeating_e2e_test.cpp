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
using testing::escapedSlashes;
using testing::ProcessResult;
using testing::StoreUnderTest;

const std::string kDataDir = std::string(TEMBRA_SOURCE_DIR) + "/tests/access/local/data/";

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

// A fresh store of the back-end with full access.
class RepeatingCommands : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (!testing::backendAvailable(GetParam()))
      GTEST_SKIP() << "EDS is tested inside tests/eds/eds_session";
    store.emplace(GetParam());
  }

  json ok(const std::vector<std::string>& args) {
    const ProcessResult result = store->tembra(args);
    EXPECT_EQ(result.status, 0) << result.out;
    return json::parse(result.out, nullptr, false);
  }

  std::string create(const json& input) { return ok({"create", "--input", input.dump()})["id"]; }

  std::optional<StoreUnderTest> store;
};

// A series made by the host: Mondays and Wednesdays at 09:00 local time, six times: 6, 8, 13, 15,
// 20 and 22 May.
class RepeatingEvents : public RepeatingCommands {
 protected:
  void SetUp() override {
    RepeatingCommands::SetUp();
    if (IsSkipped())
      return;
    series = create(json{{"title", "Standup"},
                         {"start", mayAt(6)},
                         {"recurrence", "FREQ=WEEKLY;BYDAY=MO,WE;COUNT=6"}});
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

  std::string series;
};
INSTANTIATE_TEST_SUITE_P(Stores, RepeatingEvents, testing::kBothBackends, testing::backendName);

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

// Repeating events over both stores: occurrences named by their original start, changes to one,
// to those that follow and to all, rules, and what is refused. The series of weekly_berlin.ics:
// weekly at 09:00 Berlin from 13 March 2024, six times; 3 April excluded, 27 March moved to 14:00.
class RepeatingOverBothStores : public RepeatingCommands {
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
      {"create_rule_without_frequency",
       {"create", "--input",
        json{{"start", "2024-03-14T08:00:00Z"}, {"recurrence", "BYDAY=MO"}}.dump()},
       "recurrence 不是可用的重复规则: 缺少 FREQ"},
      {"get_empty_occurrence",
       {"get", "--id", id, "--occurrence", ""},
       "--occurrence 需要 ISO8601 日期"},
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

}  // namespace
}  // namespace tembra
