// Files as other calendar tools write them, with what libical cannot read (empty values, names it
// does not know, errors another program left): their events are listed, whether a sync put the
// file in a calendar folder or tembra-store imported it, and what tembra writes back keeps them.
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "access/local/files.h"
#include "support/black_box.h"

namespace tembra {
namespace {

using nlohmann::json;
using testing::TempStore;

namespace fs = std::filesystem;

std::string calendarOf(const std::string& events) {
  return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Other//Tool//EN\r\n" + events +
         "END:VCALENDAR\r\n";
}

struct OtherFile {
  const char* name;
  std::string events;  // the VEVENTs of the file
  // "start end" of each occurrence in April to June 2024, in UTC; none when the file is unreadable
  std::vector<std::string> occurrences;
  const char* title;
  const char* refusal = "";  // what tembra-store import says of an unreadable file
  friend void PrintTo(const OtherFile& file, std::ostream* out) { *out << file.name; }
};

const std::string kEvent = "UID:other-1\r\nDTSTAMP:20240401T000000Z\r\nSUMMARY:Standup\r\n";
const std::string kHour = "DTSTART:20240501T090000Z\r\nDTEND:20240501T100000Z\r\n";
const std::vector<std::string> kOneHour = {"2024-05-01T09:00:00.000Z 2024-05-01T10:00:00.000Z"};

const OtherFile kFiles[] = {
    {"empty_texts",  // as Google Calendar exports them
     "BEGIN:VEVENT\r\n" + kEvent + kHour +
         "DESCRIPTION:\r\nLOCATION:\r\nCATEGORIES:\r\nCONTACT:\r\nX-GOOGLE-CONFERENCE:\r\n"
         "END:VEVENT\r\n",
     kOneHour, "Standup"},
    {"error_another_program_left",
     "BEGIN:VEVENT\r\n" + kEvent + kHour +
         "X-LIC-ERROR;X-LIC-ERRORTYPE=VALUE-PARSE-ERROR:No value for LOCATION property\r\n"
         "END:VEVENT\r\n",
     kOneHour, "Standup"},
    {"unknown_names",
     "BEGIN:VEVENT\r\n" + kEvent + kHour + "EVENT-ALLDAY:false\r\nx-wr-lower:yes\r\nEND:VEVENT\r\n",
     kOneHour, "Standup"},
    {"line_without_a_name",  // a long text wrapped without folding it
     "BEGIN:VEVENT\r\n" + kEvent + kHour +
         "DESCRIPTION:first line\r\nsecond line, not folded\r\nEND:VEVENT\r\n",
     kOneHour, "Standup"},
    {"trigger_out_of_range",  // as tembra once wrote an alarm in year 10000
     "BEGIN:VEVENT\r\n" + kEvent + kHour +
         "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER;VALUE=DATE-TIME:00000000T000000\r\n"
         "DESCRIPTION:Reminder\r\nEND:VALARM\r\nEND:VEVENT\r\n",
     kOneHour, "Standup"},
    {"blank_before_a_colon",  // libical reads "BEGIN\t:" as BEGIN, so its END is not left over
     "BEGIN:VEVENT\r\n" + kEvent +
         "DESCRIPTION:\r\nBEGIN\t:X-EXTRA\r\nX-NOTE:kept\r\nEND:X-EXTRA\r\n" + kHour +
         "END:VEVENT\r\n",
     kOneHour, "Standup"},
    {"rdate_periods",
     "BEGIN:VEVENT\r\n" + kEvent + kHour +
         "RDATE;VALUE=PERIOD:20240601T090000Z/20240601T120000Z,20240602T090000Z/PT30M\r\n"
         "RDATE:20240603T090000Z\r\nEND:VEVENT\r\n",
     {"2024-05-01T09:00:00.000Z 2024-05-01T10:00:00.000Z",
      "2024-06-01T09:00:00.000Z 2024-06-01T12:00:00.000Z",
      "2024-06-02T09:00:00.000Z 2024-06-02T09:30:00.000Z",
      "2024-06-03T09:00:00.000Z 2024-06-03T10:00:00.000Z"},
     "Standup"},
    {"two_series_higher_sequence",
     "BEGIN:VEVENT\r\nUID:other-1\r\nSEQUENCE:2\r\nDTSTAMP:20240101T000000Z\r\n" + kHour +
         "SUMMARY:Moved\r\nEND:VEVENT\r\n"
         "BEGIN:VEVENT\r\nUID:other-1\r\nSEQUENCE:1\r\nDTSTAMP:20240301T000000Z\r\n"
         "DTSTART:20240502T090000Z\r\nSUMMARY:Old\r\nEND:VEVENT\r\n",
     kOneHour, "Moved"},
    {"two_series_later_stamp",
     "BEGIN:VEVENT\r\nUID:other-1\r\nDTSTAMP:20240101T000000Z\r\nDTSTART:20240502T090000Z\r\n"
     "SUMMARY:Old\r\nEND:VEVENT\r\n"
     "BEGIN:VEVENT\r\nUID:other-1\r\nDTSTAMP:20240301T000000Z\r\n" +
         kHour + "SUMMARY:Moved\r\nEND:VEVENT\r\n",
     kOneHour, "Moved"},
    // What places the event in time must be read, or its occurrences are unknown.
    {"rule_not_read",
     "BEGIN:VEVENT\r\n" + kEvent + kHour + "RRULE:FREQ=SOMETIMES\r\nEND:VEVENT\r\n",
     {},
     "",
     "the event other-1 cannot be stored: a time in it cannot be read: RRULE:FREQ=SOMETIMES"},
    {"cut_short", "BEGIN:VEVENT\r\n" + kEvent + kHour, {}, "", "the file is not iCalendar text"},
};

class OtherToolsFiles : public ::testing::TestWithParam<OtherFile> {
 protected:
  void SetUp() override { store.adminOk({"set-access", "fullAccess"}); }

  std::vector<std::string> listed() {
    const auto result =
        store.tembra({"list", "--from", "2024-04-01T00:00:00Z", "--to", "2024-07-01T00:00:00Z"});
    EXPECT_EQ(result.status, 0) << result.out;
    std::vector<std::string> found;
    for (const json& event : json::parse(result.out)) {
      found.push_back(event["start"].get<std::string>() + " " + event["end"].get<std::string>());
      EXPECT_EQ(event["title"], GetParam().title);
      EXPECT_EQ(event["alarms"], json::array());
    }
    return found;
  }

  TempStore store;
};

TEST_P(OtherToolsFiles, SyncedIntoACalendarFolder) {
  const OtherFile& file = GetParam();
  const fs::path path = store.path() / "local/calendar/synced.ics";
  std::ofstream(path, std::ios::binary) << calendarOf(file.events);
  EXPECT_EQ(listed(), file.occurrences);
  const auto got = store.tembra({"get", "--id", "local/calendar/synced.ics"});
  EXPECT_EQ(got.status, file.occurrences.empty() ? 4 : 0) << got.out;
  EXPECT_EQ(local::readFile(path), calendarOf(file.events)) << "a reader changed the file";
}

TEST_P(OtherToolsFiles, Imported) {
  const OtherFile& file = GetParam();
  const fs::path path = store.path() / "import.ics";
  std::ofstream(path, std::ios::binary) << calendarOf(file.events);
  const auto imported = store.admin({"import", "local/calendar", path.string()});
  if (file.occurrences.empty()) {
    EXPECT_NE(imported.status, 0);
    ASSERT_STRNE(file.refusal, "");
    EXPECT_NE(imported.err.find(file.refusal), std::string::npos) << imported.err;
  } else {
    EXPECT_EQ(imported.status, 0) << imported.err;
  }
  EXPECT_EQ(listed(), file.occurrences);
}

INSTANTIATE_TEST_SUITE_P(Kinds, OtherToolsFiles, ::testing::ValuesIn(kFiles),
                         [](const auto& info) { return std::string(info.param.name); });

// An alarm measured from the end of occurrences of different lengths is as far from each start as
// its own end says, through the index as from the file.
TEST(OtherToolsFilePeriods, AlarmsFromTheEndFollowEachLength) {
  TempStore store;
  store.adminOk({"set-access", "fullAccess"});
  std::ofstream(store.path() / "local/calendar/periods.ics", std::ios::binary) << calendarOf(
      "BEGIN:VEVENT\r\n" + kEvent + kHour +
      "RDATE;VALUE=PERIOD:20240601T090000Z/PT3H,20240602T090000Z/PT30M\r\n"
      "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER;RELATED=END:-PT10M\r\nDESCRIPTION:x\r\n"
      "END:VALARM\r\nEND:VEVENT\r\n");
  for (int run = 0; run < 2; ++run) {  // the first builds the index, the second reads it
    const auto listed =
        store.tembra({"list", "--from", "2024-04-01T00:00:00Z", "--to", "2024-07-01T00:00:00Z"});
    ASSERT_EQ(listed.status, 0) << listed.out;
    std::vector<json> alarms;
    for (const json& event : json::parse(listed.out))
      alarms.push_back(event["alarms"]);
    EXPECT_EQ(alarms, (std::vector<json>{json::parse(R"([{"relative":3000}])"),
                                         json::parse(R"([{"relative":10200}])"),
                                         json::parse(R"([{"relative":1200}])")}));
  }
}

// An alarm related to the end of an all-day event counts from the midnight that ends it (it read a
// second short), and an update that keeps it keeps it related to the end, with its own lines.
TEST(OtherToolsFilePeriods, AnAllDayAlarmFromTheEndCountsFromItsMidnightAndStaysSo) {
  TempStore store;
  store.adminOk({"set-access", "fullAccess"});
  const fs::path path = store.path() / "local/calendar/holiday.ics";
  std::ofstream(path, std::ios::binary) << calendarOf(
      "BEGIN:VEVENT\r\n" + kEvent +
      "DTSTART;VALUE=DATE:20240501\r\nDTEND;VALUE=DATE:20240502\r\nBEGIN:VALARM\r\n"
      "ACTION:AUDIO\r\nTRIGGER;RELATED=END:-PT15M\r\nX-SOUND:bell\r\nEND:VALARM\r\nEND:VEVENT\r\n");
  const std::string id = "local/calendar/holiday.ics";
  EXPECT_EQ(json::parse(store.tembra({"get", "--id", id}).out)["alarms"],
            json::parse(R"([{"relative":85500}])"));
  const json alarms = json::parse(R"([{"relative":-3600},{"relative":85500}])");
  ASSERT_EQ(store.tembra({"update", "--input", json{{"id", id}, {"alarms", alarms}}.dump()}).status,
            0);
  EXPECT_EQ(json::parse(store.tembra({"get", "--id", id}).out)["alarms"], alarms);
  const auto text = local::readFile(path);
  ASSERT_TRUE(text);
  EXPECT_NE(text->find("TRIGGER;RELATED=END:-PT15M\r\nX-SOUND:bell\r\n"), std::string::npos)
      << *text;
}

// Two copies of a series stamped by a clock ahead of this one (another device's): the one read is
// the one changed, and the change stays the one read, since its DTSTAMP is not set back.
struct AheadStamps {
  const char* name;
  std::string events;
  friend void PrintTo(const AheadStamps& file, std::ostream* out) { *out << file.name; }
};

const AheadStamps kAheadStamps[] = {
    {"same_stamp_first_wins",
     "BEGIN:VEVENT\r\nUID:other-1\r\nDTSTAMP:20990101T000000Z\r\n" + kHour +
         "RRULE:FREQ=DAILY;COUNT=3\r\nSUMMARY:Standup\r\nEND:VEVENT\r\n"
         "BEGIN:VEVENT\r\nUID:other-1\r\nDTSTAMP:20990101T000000Z\r\n" +
         kHour + "RRULE:FREQ=DAILY;COUNT=3\r\nSUMMARY:Old\r\nEND:VEVENT\r\n"},
    {"later_stamp_wins", "BEGIN:VEVENT\r\nUID:other-1\r\nDTSTAMP:20980101T000000Z\r\n" + kHour +
                             "RRULE:FREQ=DAILY;COUNT=3\r\nSUMMARY:Old\r\nEND:VEVENT\r\n"
                             "BEGIN:VEVENT\r\nUID:other-1\r\nDTSTAMP:20990101T000000Z\r\n" +
                             kHour +
                             "RRULE:FREQ=DAILY;COUNT=3\r\nSUMMARY:Standup\r\nEND:VEVENT\r\n"},
};

class OtherToolsAheadStamps : public ::testing::TestWithParam<AheadStamps> {};

TEST_P(OtherToolsAheadStamps, ChangesStayTheSeriesRead) {
  TempStore store;
  store.adminOk({"set-access", "fullAccess"});
  std::ofstream(store.path() / "local/calendar/ahead.ics", std::ios::binary)
      << calendarOf(GetParam().events);
  const std::string id = "local/calendar/ahead.ics";
  ASSERT_EQ(json::parse(store.tembra({"get", "--id", id}).out)["title"], "Standup");

  const json titled = {{"id", id}, {"title", "Retro"}, {"span", "all"}};
  ASSERT_EQ(store.tembra({"update", "--input", titled.dump()}).status, 0);
  EXPECT_EQ(json::parse(store.tembra({"get", "--id", id}).out)["title"], "Retro");

  // An occurrence removed stamps the series too.
  ASSERT_EQ(
      store.tembra({"delete", "--id", id, "--occurrence", "2024-05-02T09:00:00Z", "--span", "this"})
          .status,
      0);
  const json listed = json::parse(
      store.tembra({"list", "--from", "2024-04-01T00:00:00Z", "--to", "2024-07-01T00:00:00Z"}).out);
  std::vector<std::string> starts;
  for (const json& event : listed) {
    starts.push_back(event["start"]);
    EXPECT_EQ(event["title"], "Retro");
  }
  EXPECT_EQ(starts,
            (std::vector<std::string>{"2024-05-01T09:00:00.000Z", "2024-05-03T09:00:00.000Z"}));
}

INSTANTIATE_TEST_SUITE_P(Kinds, OtherToolsAheadStamps, ::testing::ValuesIn(kAheadStamps),
                         [](const auto& info) { return std::string(info.param.name); });

// The lines of a file but those of the named properties, which a save rewrites.
std::vector<std::string> linesBut(const std::string& text, const std::vector<std::string>& names) {
  std::vector<std::string> kept;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const std::string name = line.substr(0, line.find_first_of(";:"));
    if (std::find(names.begin(), names.end(), name) == names.end())
      kept.push_back(line);
  }
  return kept;
}

TEST(OtherToolsFileUpdate, ChangesOnlyWhatItChanged) {
  TempStore store;
  store.adminOk({"set-access", "fullAccess"});
  // As libical writes what it reads, so that every line but the changed ones compares equal.
  const std::string before = calendarOf(
      "BEGIN:VEVENT\r\n" + kEvent + kHour +
      "DESCRIPTION:\r\nLOCATION:\r\nEVENT-ALLDAY:false\r\nx-lower:yes\r\nX-EMPTY:\r\n"
      "X-KNOWN;X-PARAM=1:kept\r\nATTENDEE;RSVP=MAYBE:mailto:a@example.com\r\n"
      "EVENT-LONG:" +
      std::string(70, 'a') + "\r\n " + std::string(30, 'b') +
      "\r\n"
      "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nDESCRIPTION:Standup\r\nX-ALARM:\r\n"
      "END:VALARM\r\nEND:VEVENT\r\n");
  const fs::path path = store.path() / "local/calendar/other.ics";
  std::ofstream(path, std::ios::binary) << before;
  const std::string id = "local/calendar/other.ics";

  ASSERT_EQ(store.tembra({"update", "--input", json{{"id", id}, {"title", "Retro"}}.dump()}).status,
            0);
  const auto titled = local::readFile(path);
  ASSERT_TRUE(titled);
  const std::vector<std::string> changed = {"SUMMARY", "DTSTAMP", "LAST-MODIFIED"};
  EXPECT_EQ(linesBut(*titled, changed), linesBut(before, changed)) << *titled;
  EXPECT_NE(titled->find("SUMMARY:Retro\r\n"), std::string::npos) << *titled;

  // Notes given replace the empty DESCRIPTION that libical could not read, rather than join it.
  ASSERT_EQ(
      store.tembra({"update", "--input", json{{"id", id}, {"notes", "agenda"}}.dump()}).status, 0);
  const auto noted = local::readFile(path);
  ASSERT_TRUE(noted);
  EXPECT_EQ(linesBut(*noted, {"SUMMARY", "DTSTAMP", "LAST-MODIFIED", "DESCRIPTION"}),
            linesBut(before, {"SUMMARY", "DTSTAMP", "LAST-MODIFIED", "DESCRIPTION"}));
  const json got = json::parse(store.tembra({"get", "--id", id}).out);
  EXPECT_EQ(got["notes"], "agenda");
  EXPECT_EQ(got["title"], "Retro");
  EXPECT_EQ(got["alarms"], json::parse(R"([{"relative":-900}])"));
  EXPECT_NE(noted->find("DESCRIPTION:agenda\r\n"), std::string::npos) << *noted;
  EXPECT_EQ(noted->find("DESCRIPTION:\r\n"), std::string::npos) << *noted;
}

}  // namespace
}  // namespace tembra
