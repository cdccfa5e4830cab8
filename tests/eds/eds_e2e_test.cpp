// The real tembra over EDS where only EDS can tell: what GNOME's own client library reads back of
// what tembra wrote, identifiers of UIDs that hold "/", moves between calendars, the registry's
// order of calendars, and desktops as people have them: buses and online accounts that stop
// answering, calendars switched off, big calendars. Runs inside tests/eds/eds_session.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "support/stores.h"

namespace tembra {
namespace {

using nlohmann::json;
using testing::Backend;
using testing::ProcessResult;
using testing::StoreUnderTest;

const std::string kDataDir = std::string(TEMBRA_SOURCE_DIR) + "/tests/access/local/data/";
const std::string kEdsDataDir = std::string(TEMBRA_SOURCE_DIR) + "/tests/eds/data/";
const std::string kRestricted =
    "{\"error\":\"日历访问未授权（restricted）。请在 系统设置 → 隐私与安全性 → 日历 "
    "中允许本应用访问。\"}\n";

// A process that accepts every connection on the socket it is given and never answers: a stalled
// account's server, or a session bus that has stopped. Stopped by its PID.
class SilentServer {
 public:
  explicit SilentServer(int listening) : pid_(fork()) {
    if (pid_ == 0) {
      for (;;)
        accept(listening, nullptr, nullptr);  // each connection is held, and nothing said
    }
    close(listening);
  }
  ~SilentServer() {
    if (pid_ > 0 && kill(pid_, SIGKILL) == 0)
      waitpid(pid_, nullptr, 0);
  }
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;

 private:
  pid_t pid_;
};

// A listening socket on 127.0.0.1 at a port of the system's choosing, which `port` receives.
int listenOnLocalPort(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), length), 0);
  EXPECT_EQ(listen(fd, 64), 0);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return fd;
}

int listenAt(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(listen(fd, 64), 0);
  return fd;
}

// A session bus of its own, with the policy of the system's session bus but no service to start,
// so that nothing owns EDS's names and nothing can start them. Stopped by its PID.
class EmptyBus {
 public:
  explicit EmptyBus(const std::filesystem::path& folder) {
    const std::filesystem::path config = folder / "empty-bus.conf";
    std::ofstream(config) << "<busconfig><type>session</type><listen>unix:tmpdir="
                          << folder.string() << "</listen><auth>EXTERNAL</auth>"
                          << "<policy context=\"default\"><allow send_destination=\"*\" "
                          << "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                          << "</policy></busconfig>";
    const ProcessResult started = testing::runProgram(
        "/usr/bin/dbus-daemon",
        {"--config-file=" + config.string(), "--fork", "--print-address=1", "--print-pid=1"});
    std::istringstream printed(started.out);
    printed >> address >> pid_;
  }
  ~EmptyBus() {
    if (pid_ > 0)
      kill(pid_, SIGTERM);
  }
  EmptyBus(const EmptyBus&) = delete;
  EmptyBus& operator=(const EmptyBus&) = delete;

  std::string address;

 private:
  pid_t pid_ = -1;
};

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

  // The first line the fixture prints.
  std::string fixture(const std::vector<std::string>& args) {
    const ProcessResult result = testing::runProgram(TEMBRA_EDS_FIXTURE_BINARY, args);
    EXPECT_EQ(result.status, 0) << result.err;
    return result.out.substr(0, result.out.find('\n'));
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

// Two hosts update one event at once, each a field of its own: both changes stay, since each
// save puts its fields onto the event as EDS holds it just before the modify. A save of an event
// another client removed meanwhile finds it gone.
TEST_P(EdsStore, UpdatesOfOneEventAtOnceKeepEveryChange) {
  const json created = ok({"create", "--input", R"({"title":"Standup","notes":"old",
      "start":"2024-05-01T09:30:00Z"})"});
  const ProcessResult raced =
      testing::runProgram(TEMBRA_EDS_FIXTURE_BINARY, {"race", created["id"]});
  EXPECT_EQ(raced.status, 0) << raced.err;
  EXPECT_EQ(raced.out, "Retro|agenda\ngone\n");
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

// A series tembra makes and then changes, step by step, is the series EDS's own client library
// shows (as GNOME's programs expand it): the same occurrences as tembra lists, part by part.
TEST_P(EdsStore, SeriesTembraChangesAreWhatTheClientLibraryShows) {
  const std::string id = ok({"create", "--input",
                             json{{"title", "Standup"},
                                  {"start", "2024-05-06T09:00:00Z"},
                                  {"end", "2024-05-06T09:15:00Z"},
                                  {"recurrence", "FREQ=WEEKLY;BYDAY=MO,WE;COUNT=6"}}
                                 .dump()})["id"];
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::size_t parts;
  } steps[] = {
      {"as_created", {}, 1},
      {"one_moved",
       {"update", "--input",
        json{{"id", id}, {"occurrence", "2024-05-08T09:00:00Z"}, {"start", "2024-05-08T11:00:00Z"}}
            .dump()},
       1},
      {"all_an_hour_later",
       {"update", "--input",
        json{{"id", id},
             {"span", "all"},
             {"start", "2024-05-06T10:00:00Z"},
             {"end", "2024-05-06T10:15:00Z"}}
            .dump()},
       1},
      {"future_from_the_fourth",
       {"update", "--input",
        json{{"id", id},
             {"occurrence", "2024-05-15T10:00:00Z"},
             {"span", "future"},
             {"title", "Later"}}
            .dump()},
       2},
      {"one_removed", {"delete", "--id", id, "--occurrence", "2024-05-13T10:00:00Z"}, 2},
      {"rule_changed",
       {"update", "--input", json{{"id", id}, {"recurrence", "FREQ=DAILY;COUNT=2"}}.dump()},
       2},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    if (!step.args.empty())
      ok(step.args);
    std::map<std::string, std::vector<std::string>> listed;
    for (const json& event : ok({"list", "--from", "2024-05-01T00:00:00Z", "--to",
                                 "2024-07-01T00:00:00Z", "--occurrences", "all"})) {
      listed[event["externalId"]].push_back(event["start"]);
    }
    EXPECT_EQ(listed.size(), step.parts);
    for (auto& [uid, starts] : listed) {
      std::istringstream lines(testing::runProgram(TEMBRA_EDS_FIXTURE_BINARY,
                                                   {"occurrences", "system-calendar", uid,
                                                    "20240501T000000Z", "20240701T000000Z"},
                                                   {{"TZ", store->zone}})
                                   .out);
      std::vector<std::string> generated;
      for (std::string line; std::getline(lines, line);)
        generated.push_back(line);
      std::sort(generated.begin(), generated.end());
      std::sort(starts.begin(), starts.end());
      EXPECT_EQ(generated, starts) << uid;
    }
  }
}

// Regression guard: EDS's own removal of an occurrence and those after it
// (E_CAL_OBJ_MOD_THIS_AND_FUTURE) leaves the series' master out of the file back-end's file, so
// that the series is gone once the calendar factory starts again. tembra ends the series instead;
// a split writes the later part as a series of its own, related to the first.
TEST_P(EdsStore, EndingOrSplittingASeriesKeepsItInTheCalendarsFile) {
  const std::string id = store->import("system-calendar", kDataDir + "weekly_berlin.ics");
  // The file back-end writes its file when it is idle.
  const auto fileWith = [&](const std::string& text) {
    std::string written;
    for (int tries = 0; tries < 50 && written.find(text) == std::string::npos; ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      written = testing::runProgram(TEMBRA_EDS_FIXTURE_BINARY, {"file", "system-calendar"}).out;
    }
    return written;
  };
  ok({"delete", "--id", id, "--occurrence", "2024-04-10T07:00:00Z", "--span", "future"});
  std::string written = fileWith("FREQ=WEEKLY;COUNT=4");
  for (const char* line : {"DTSTART;TZID=Europe/Berlin:20240313T090000", "FREQ=WEEKLY;COUNT=4",
                           "RECURRENCE-ID;TZID=Europe/Berlin:20240327T090000"}) {
    EXPECT_NE(written.find(line), std::string::npos) << line << " in\n" << written;
  }

  const json later = ok({"update", "--input",
                         json{{"id", id},
                              {"occurrence", "2024-03-20T08:00:00Z"},
                              {"span", "future"},
                              {"title", "Later"}}
                             .dump()});
  written = fileWith("RELATED-TO;RELTYPE=SIBLING:weekly-berlin@example.com");
  const std::string part = store->uidOf(later["id"]);
  const std::vector<std::string> lines{"FREQ=WEEKLY;COUNT=1",
                                       "UID:" + part,
                                       "DTSTART;TZID=Europe/Berlin:20240320T090000",
                                       "FREQ=WEEKLY;COUNT=3",
                                       "RELATED-TO;RELTYPE=SIBLING:weekly-berlin@example.com",
                                       "SUMMARY:Later"};
  for (const std::string& line : lines) {
    EXPECT_NE(written.find(line), std::string::npos) << line << " in\n" << written;
  }
  // The moved occurrence went with the later part, under the part's UID.
  const std::string shownPart = shown("system-calendar", part);
  EXPECT_NE(shownPart.find("RECURRENCE-ID;TZID=Europe/Berlin:20240327T090000"), std::string::npos)
      << shownPart;
  EXPECT_EQ(shown("system-calendar", "weekly-berlin@example.com").find("RECURRENCE-ID"),
            std::string::npos);
}

// A change to every occurrence moves the detached instances with the series, their
// RECURRENCE-IDs too; the windows around where they are now and where they were show each once,
// or not at all, although the calendar's index of time ranges is not to be trusted after such
// changes.
TEST_P(EdsStore, AChangeToAllIsListedWhereItMovedTheOccurrences) {
  const std::string id = store->import("system-calendar", kDataDir + "weekly_berlin.ics");
  ok({"update", "--input",
      json{{"id", id},
           {"span", "all"},
           {"start", "2024-03-13T09:00:00Z"},
           {"end", "2024-03-13T10:00:00Z"}}
          .dump()});
  const std::string series = shown("system-calendar", "weekly-berlin@example.com");
  for (const char* line : {"RECURRENCE-ID;TZID=Europe/Berlin:20240327T100000",
                           "DTSTART;TZID=Europe/Berlin:20240327T150000",
                           "EXDATE;TZID=Europe/Berlin:20240403T100000"}) {
    EXPECT_NE(series.find(line), std::string::npos) << line << " in\n" << series;
  }
  EXPECT_EQ(series.find("20240327T090000"), std::string::npos) << series;
  const struct {
    const char* from;
    const char* to;
    std::vector<std::string> starts;
  } windows[] = {
      {"2024-03-27T13:30:00Z", "2024-03-27T14:30:00Z", {"2024-03-27T14:00:00.000Z"}},
      {"2024-03-27T12:30:00Z", "2024-03-27T13:30:00Z", {}},
      {"2024-03-27T08:30:00Z", "2024-03-27T10:00:00Z", {}},
      {"2024-04-03T07:00:00Z", "2024-04-03T09:00:00Z", {}},
      {"2024-04-17T07:30:00Z", "2024-04-17T08:30:00Z", {"2024-04-17T08:00:00.000Z"}},
  };
  for (const auto& window : windows) {
    SCOPED_TRACE(window.from);
    std::vector<std::string> starts;
    for (const json& event :
         ok({"list", "--from", window.from, "--to", window.to, "--occurrences", "all"}))
      starts.push_back(event["start"]);
    EXPECT_EQ(starts, window.starts);
  }
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

// Regression: a session bus that never answered made every command wait for ever, and on a bus
// where nothing owned or could start EDS's registry, status answered fullAccess and every list [].
// Where the registry does not answer, nothing the user could allow would change it.
TEST_P(EdsStore, WithoutARegistryThatAnswersAccessIsRestricted) {
  const std::filesystem::path session = std::getenv("TEMBRA_EDS_SESSION");
  const SilentServer silent(listenAt((session / "silent-bus").string()));
  const EmptyBus empty(session);
  const struct {
    const char* name;
    std::string bus;
  } rows[] = {{"no bus", "unix:path=/nonexistent"},
              {"no registry on the bus, none to start", empty.address},
              {"a bus that never answers", "unix:path=" + (session / "silent-bus").string()}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::map<std::string, std::string> env{{"TEMBRA_BACKEND", "eds"},
                                                 {"DBUS_SESSION_BUS_ADDRESS", row.bus}};
    const ProcessResult status = testing::runProgram(TEMBRA_BINARY, {"status"}, env);
    EXPECT_EQ(status.status, 0);
    EXPECT_EQ(status.out, "{\"granted\":false,\"status\":\"restricted\"}\n");
    const ProcessResult calendars = testing::runProgram(TEMBRA_BINARY, {"calendars"}, env);
    EXPECT_EQ(calendars.status, 2);
    EXPECT_EQ(calendars.out, kRestricted);
    EXPECT_EQ(calendars.err, "");
  }
}

// Regression: opening a CalDAV calendar whose server accepts the connection and never answers
// waited for EDS's HTTP time-out (90 s) in every run, holding up the other calendars.
TEST_P(EdsStore, AStalledOnlineCalendarIsEmptyAndNotWritableForTheRun) {
  const std::string personal =
      ok({"create", "--input", R"({"title":"Here","start":"2024-05-02T10:00:00Z"})"})["id"];
  int port = 0;
  const SilentServer server(listenOnLocalPort(port));
  const std::string stalled = fixture({"add-calendar", "--title", "Stalled", "--caldav",
                                       "http://127.0.0.1:" + std::to_string(port) + "/dav/"});
  json calendars = ok({"calendars"});
  ASSERT_EQ(calendars.size(), 1u);
  EXPECT_EQ(calendars[0]["id"], "system-calendar");
  json listed = ok({"list", "--from", "2024-05-01T00:00:00Z", "--to", "2024-05-03T00:00:00Z"});
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0]["id"], personal);

  // New events go to the default calendar whether or not it answers.
  fixture({"set-default", stalled});
  const ProcessResult created =
      store->tembra({"create", "--input", R"({"start":"2024-05-02T12:00:00Z"})"});
  EXPECT_EQ(created.status, 1);
  EXPECT_EQ(created.out, "{\"error\":\"创建事件失败: 日历「Stalled」没有在限定时间内应答\"}\n");
}

// Regression: a calendar that did not answer said that its events were not there: get answered 4,
// delete "already gone", a list of it []. What tembra could not read it now says it could not.
TEST_P(EdsStore, ACalendarThatDidNotAnswerIsAFailureNotNothing) {
  int port = 0;
  const SilentServer server(listenOnLocalPort(port));
  const std::string stalled = fixture({"add-calendar", "--title", "Stalled", "--caldav",
                                       "http://127.0.0.1:" + std::to_string(port) + "/dav/"});
  const std::string id = stalled + "/somewhere";
  const struct {
    const char* name;
    std::vector<std::string> words;
    const char* failed;
  } rows[] = {
      {"get", {"get", "--id", id}, "读取日历失败: "},
      {"delete", {"delete", "--id", id}, "删除事件失败: "},
      {"list_of_it",
       {"list", "--from", "2024-05-01T00:00:00Z", "--to", "2024-05-03T00:00:00Z", "--calendar",
        stalled},
       "读取日历失败: "},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ProcessResult result = store->tembra(row.words);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, std::string("{\"error\":\"") + row.failed +
                              "日历「Stalled」没有在限定时间内应答\"}\n");
  }
}

// Regression: a default calendar switched off since it was chosen (an online account's calendar
// disabled) left default-calendar and create without a calendar at status 3.
TEST_P(EdsStore, ADefaultCalendarSwitchedOffGivesWayToPersonal) {
  const struct {
    const char* name;
    std::vector<std::string> switchOff;
  } rows[] = {{"the calendar", {}}, {"its account", {"--account"}}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string work = store->addCalendar("Work", "Acme");
    fixture({"set-default", work});
    std::vector<std::string> disable{"disable", work};
    disable.insert(disable.end(), row.switchOff.begin(), row.switchOff.end());
    fixture(disable);
    json chosen = ok({"default-calendar"});
    EXPECT_EQ(chosen["id"], "system-calendar");
    EXPECT_EQ(chosen["isDefault"], true);
    EXPECT_EQ(ok({"create", "--input", R"({"start":"2024-05-02T10:00:00Z"})"})["calendarId"],
              "system-calendar");
  }
}

// Regression: an alarm related to the end of an all-day event read one second short, measured
// from the last second of the day rather than the midnight that ends it; and written back, it
// became an alarm related to the start.
TEST_P(EdsStore, AnAlarmFromTheEndOfAnAllDayEventCountsFromItsMidnight) {
  const std::string id =
      store->import("system-calendar", kEdsDataDir + "all_day_alarm_from_end.ics");
  EXPECT_EQ(ok({"get", "--id", id})["alarms"], json::parse(R"([{"relative":85500}])"));
  ok({"update", "--input",
      json{{"id", id}, {"alarms", json::parse(R"([{"relative":85500},{"relative":-600}])")}}
          .dump()});
  const std::string written = shown("system-calendar", "all-day-alarm-from-end@example.com");
  EXPECT_NE(written.find("TRIGGER;RELATED=END:-PT15M"), std::string::npos) << written;
  EXPECT_EQ(ok({"get", "--id", id})["alarms"],
            json::parse(R"([{"relative":85500},{"relative":-600}])"));
}

// Regression: a move gave the other calendar the zone of the start only, so that an end written
// in another zone of the event's own read in the local zone there.
TEST_P(EdsStore, AMoveTakesEveryZoneTheEventUses) {
  const std::string work = store->addCalendar("Work");
  const std::string id =
      store->import("system-calendar", kEdsDataDir + "flight_zones_of_their_own.ics");
  json before = ok({"get", "--id", id});
  EXPECT_EQ(before["end"], "2024-05-13T05:30:00.000Z");
  json moved = ok({"update", "--input", json{{"id", id}, {"calendarId", work}}.dump()});
  json after = ok({"get", "--id", moved["id"]});
  EXPECT_EQ(after["start"], before["start"]);
  EXPECT_EQ(after["end"], before["end"]);
}

// Regression: the series of a big calendar were read again with one query that EDS evaluated
// against every component, and a window held each occurrence as a whole event. Now a series is one
// event of the window, and an occurrence another client changed stays out of the list although
// the calendar's index of time ranges no longer knows its instance. The calendar's file is
// written before EDS opens it, as a sync would leave it.
TEST_P(EdsStore, ABigCalendarsWindowHoldsEachSeriesOnce) {
  const std::string big = store->addCalendar("Big");
  constexpr int kSeries = 40;
  fixture({"generate", big, "2000", std::to_string(kSeries)});
  fixture({"change-occurrence", big, "weekly-0@example.com", "20240311T080000Z", "Moved"});
  // Four weeks from a Monday: four occurrences of each series, less the changed one, whose
  // instance keeps the series' first start and so lies outside the window.
  const std::vector<std::string> window{
      "list", "--from", "2024-03-04T00:00:00Z", "--to", "2024-04-01T00:00:00Z", "--calendar", big};
  const std::string shared = fixture({"window", big, "20240304T000000Z", "20240401T000000Z"});
  const long events = std::stol(shared.substr(0, shared.find(' ')));
  const long occurrences = std::stol(shared.substr(shared.find(' ') + 1));
  EXPECT_EQ(occurrences - events, 3 * kSeries - 1) << shared;
  json listed = ok(window);
  EXPECT_EQ(static_cast<long>(listed.size()), occurrences);
  for (json& event : listed) {
    EXPECT_FALSE(event["title"] == "Weekly 0" && event["start"] == "2024-03-11T08:00:00.000Z");
    EXPECT_NE(event["title"], "Moved");
  }
}

}  // namespace
}  // namespace tembra
