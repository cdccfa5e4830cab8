// tembra-store for people: where an iCalendar text's parts lie, its progress and summaries on a
// terminal and its silence off one, its help, and errors that name the file and line.
#include <unistd.h>

#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "access/local/console.h"
#include "access/local/ics_outline.h"
#include "support/black_box.h"

namespace tembra::local {
namespace {

using tembra::testing::ProcessResult;
using tembra::testing::TempStore;

struct OutlineRow {
  const char* name;
  std::string text;
  std::vector<std::tuple<std::string, std::size_t, std::string>> components;  // name, line, uid
  std::optional<std::size_t> badLine;
};

class OutlineTest : public ::testing::TestWithParam<OutlineRow> {};

TEST_P(OutlineTest, FindsTheComponentsAndTheFirstBadLine) {
  const OutlineRow& row = GetParam();
  const Outline outline = outlineOf(row.text);
  std::vector<std::tuple<std::string, std::size_t, std::string>> components;
  for (const OutlinedComponent& each : outline.components)
    components.emplace_back(each.name, each.line, each.uid);
  EXPECT_EQ(components, row.components);
  EXPECT_EQ(outline.firstBadLine ? std::optional(outline.firstBadLine->line) : std::nullopt,
            row.badLine);
}

INSTANTIATE_TEST_SUITE_P(
    StoreTool, OutlineTest,
    ::testing::Values(
        OutlineRow{"events_and_a_todo_with_crlf",
                   "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:a\r\nEND:VEVENT\r\n"
                   "BEGIN:VTODO\r\nUID:t\r\nEND:VTODO\r\nBEGIN:VEVENT\r\nUID:b\r\n"
                   "BEGIN:VALARM\r\nUID:alarm\r\nEND:VALARM\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
                   {{"VEVENT", 3, "a"}, {"VTODO", 6, "t"}, {"VEVENT", 9, "b"}},
                   std::nullopt},
        OutlineRow{"a_byte_order_mark_and_a_folded_uid",
                   "\xEF\xBB\xBF"
                   "BEGIN:VCALENDAR\nBEGIN:vevent\nUID:long\n -uid\nSUMMARY:x\nEND:VEVENT\n"
                   "END:VCALENDAR\n",
                   {{"VEVENT", 2, "long-uid"}},
                   std::nullopt},
        OutlineRow{"a_colon_in_a_quoted_parameter_ends_nothing",
                   "BEGIN:VCALENDAR\nBEGIN:VEVENT\nATTENDEE;CN=\"a:b\":mailto:x\nEND:VEVENT\n"
                   "END:VCALENDAR\n",
                   {{"VEVENT", 2, ""}},
                   std::nullopt},
        OutlineRow{"a_line_without_a_colon",
                   "BEGIN:VCALENDAR\nBEGIN:VEVENT\nUID:a\nnot a property\nEND:VEVENT\n"
                   "END:VCALENDAR\n",
                   {{"VEVENT", 2, "a"}},
                   4},
        OutlineRow{"a_mismatched_end_and_the_components_after_it",
                   "BEGIN:VCALENDAR\nBEGIN:VEVENT\nEND:VTODO\nEND:VEVENT\nBEGIN:VEVENT\nUID:c\n"
                   "END:VEVENT\nEND:VCALENDAR\n",
                   {{"VEVENT", 2, ""}, {"VEVENT", 5, "c"}},
                   3},
        OutlineRow{"a_quoted_value_left_open", "BEGIN:VCALENDAR\nX-A;P=\"x:y\n", {}, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StoreTool, SummariesCountWhatWasReadWrittenAndSkipped) {
  EXPECT_EQ(withThousands(999), "999");
  EXPECT_EQ(withThousands(1234567), "1,234,567");

  // Two series of UID s (the import keeps one), an occurrence of it, an event of its own.
  const Outline outline = outlineOf(
      "BEGIN:VCALENDAR\nBEGIN:VTIMEZONE\nEND:VTIMEZONE\nBEGIN:VEVENT\nUID:s\nEND:VEVENT\n"
      "BEGIN:VEVENT\nUID:s\nEND:VEVENT\nBEGIN:VEVENT\nUID:s\nRECURRENCE-ID:20250101T000000Z\n"
      "END:VEVENT\nBEGIN:VEVENT\nEND:VEVENT\nBEGIN:VTODO\nEND:VTODO\nBEGIN:VJOURNAL\n"
      "END:VJOURNAL\nBEGIN:VTODO\nEND:VTODO\nEND:VCALENDAR\n");
  EXPECT_EQ(importSummary("in.ics", "local/calendar", outline, 2),
            "imported in.ics into local/calendar: 4 events read, 3 written in 2 files, 4 skipped "
            "(1 VJOURNAL, 2 VTODO: only events are imported; 1 VEVENT: an earlier version of a "
            "series whose UID comes again)");
  EXPECT_EQ(importSummary("in.ics", "a/b", outlineOf(""), 0),
            "imported in.ics into a/b: 0 events read, 0 written in 0 files, 0 skipped");

  const std::vector<SkippedFile> skipped{
      whySkipped("a/b/x.ics", "BEGIN:VCALENDAR\nBEGIN:VEVENT\ngarbage\n", true),
      whySkipped("a/b/y.ics", "BEGIN:VCALENDAR\nEND:VCALENDAR\n", true),
      whySkipped("a/b/z.ics", "", false)};
  EXPECT_EQ(reindexSummary(1, 1200, skipped, 2),
            (std::vector<std::string>{"reindexed 1 calendar: 1,200 files read, 1,197 indexed, 3 "
                                      "skipped (no event could be read from them)",
                                      "  a/b/x.ics: line 3: a line without a colon",
                                      "  a/b/y.ics: holds no event", "  and 1 more"}));
}

TEST(StoreTool, TheProgressLineRewritesItselfAtMostTenTimesASecond) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
  {
    ProgressLine line(fds[1], "p", [&] { return now; });
    line.step("writing", 3000);
    line.advance(1);  // within 100 ms of the step: not shown
    now += std::chrono::milliseconds(150);
    line.advance(2000);  // shown
    line.advance(3000);  // the last item is always shown
    line.step("indexing", 0);
  }  // finishing clears the line
  ::close(fds[1]);
  std::string written;
  char buffer[512];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
    written.append(buffer, static_cast<std::size_t>(n));
  ::close(fds[0]);
  EXPECT_EQ(written,
            "\rp: writing 0 of 3,000 (0%)\033[K\rp: writing 2,000 of 3,000 (66%)\033[K"
            "\rp: writing 3,000 of 3,000 (100%)\033[K\rp: indexing...\033[K\r\033[K");
}

// tembra-store with its standard error on a terminal: util-linux's script runs it on a
// pseudo-terminal and copies what the terminal showed, with the CRLF line ends it made, while its
// standard output goes to a file. With `terminal` false, on pipes.
ProcessResult runStoreTool(const TempStore& store, const std::vector<std::string>& args,
                           bool terminal) {
  if (!terminal)
    return store.admin(args);
  const std::filesystem::path out = store.path() / "stdout.txt";
  std::string command = std::string(TEMBRA_STORE_BINARY) + " --store '" + store.path().string();
  for (const std::string& arg : args)
    command += "' '" + arg;
  ProcessResult result = testing::runProgram(
      "/usr/bin/script", {"-qec", command + "' >'" + out.string() + "'", "/dev/null"});
  result.err = std::move(result.out);
  std::ifstream file(out);
  result.out.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return result;
}

std::string eventsFile(std::size_t count) {
  std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:x\r\n";
  for (std::size_t i = 0; i < count; ++i) {
    text += "BEGIN:VEVENT\r\nUID:e" + std::to_string(i) +
            "\r\nDTSTAMP:20250101T000000Z\r\nDTSTART:20250102T090000Z\r\nSUMMARY:x\r\n"
            "END:VEVENT\r\n";
  }
  return text + "BEGIN:VTODO\r\nUID:t\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";
}

TEST(TembraStore, ImportAndReindexReportOnATerminalAndStayQuietOffOne) {
  TempStore store;
  store.adminOk({"init"});
  const std::string file = (store.path() / "in.ics").string();
  std::ofstream(file) << eventsFile(250);
  // Another tool's file the index cannot read: skipped, and named with why.
  std::ofstream(store.path() / "local" / "calendar" / "bad.ics")
      << "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:x\r\nnonsense\r\n";
  for (const bool terminal : {false, true}) {
    SCOPED_TRACE(terminal ? "terminal" : "pipe");
    const ProcessResult import = runStoreTool(store, {"import", "local/calendar", file}, terminal);
    EXPECT_EQ(import.status, 0) << import.err;
    EXPECT_EQ(std::count(import.out.begin(), import.out.end(), '\n'), 250);
    const ProcessResult reindex = runStoreTool(store, {"reindex"}, terminal);
    EXPECT_EQ(reindex.status, 0) << reindex.err;
    EXPECT_EQ(reindex.out, "");
    if (!terminal) {
      EXPECT_EQ(import.err, "");
      EXPECT_EQ(reindex.err, "");
      continue;
    }
    EXPECT_NE(import.err.find("\rtembra-store: import: writing the files 250 of 250 (100%)"),
              std::string::npos)
        << import.err;
    EXPECT_TRUE(import.err.ends_with(
        "\r\033[Ktembra-store: imported " + file +
        " into local/calendar: 250 events read, 250 written in 250 files, 1 skipped (1 VTODO: "
        "only events are imported)\r\n"))
        << import.err;
    EXPECT_NE(reindex.err.find("\rtembra-store: reindex: indexing the files 251 of 251 (100%)"),
              std::string::npos)
        << reindex.err;
    EXPECT_TRUE(reindex.err.ends_with(
        "tembra-store: reindexed 1 calendar: 251 files read, 250 indexed, 1 skipped (no event "
        "could be read from them)\r\n  local/calendar/bad.ics: line 4: a line without a colon\r\n"))
        << reindex.err;
  }
}

// The event the import refused, or the first line that is not what iCalendar text is made of.
TEST(TembraStore, ImportErrorsNameTheFileAndLine) {
  TempStore store;
  store.adminOk({"init"});
  const std::string head = "BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VEVENT\nUID:a\n";
  const struct {
    const char* name;
    std::string text;
    std::string line;
  } rows[] = {
      {"an_event_without_a_start",
       head + "DTSTART:20250101T100000Z\nEND:VEVENT\nBEGIN:VEVENT\nUID:b\nEND:VEVENT\n"
              "END:VCALENDAR\n",
       "7"},
      {"a_time_that_cannot_be_read", head + "DTSTART:2025XX01T100000Z\nEND:VEVENT\nEND:VCALENDAR\n",
       "3"},
      {"an_event_never_ended", head + "DTSTART:20250101T100000Z\n", "3"},
      {"no_icalendar_at_all", "Dear all,\nthe meeting moves to Friday.\n", "1"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string file = (store.path() / (std::string(row.name) + ".ics")).string();
    std::ofstream(file) << row.text;
    const ProcessResult result = store.admin({"import", "local/calendar", file});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.err.starts_with("tembra-store: " + file + ":" + row.line + ": the "))
        << result.err;
  }
}

TEST(TembraStore, HelpSaysWhatEachVerbDoes) {
  TempStore store;
  const ProcessResult overall = store.admin({"--help"});
  EXPECT_EQ(overall.status, 0);
  EXPECT_EQ(overall.err, "");
  for (const std::string verb :
       {"init", "set-access", "set-answer", "add-calendar", "set-default", "import", "reindex"}) {
    EXPECT_NE(overall.out.find("\n  " + verb), std::string::npos) << verb;
    EXPECT_TRUE(
        store.admin({verb, "--help"}).out.starts_with("usage: tembra-store [--store DIR] " + verb))
        << verb;
  }
  EXPECT_EQ(store.admin({"help", "import"}).out, store.admin({"import", "--help"}).out);
  // A misused verb says what is wrong, then that verb's usage.
  const ProcessResult misused = store.admin({"import", "local/calendar"});
  EXPECT_EQ(misused.status, 2);
  EXPECT_TRUE(
      misused.err.starts_with("tembra-store: import needs a calendar identifier and a "
                              "file\nusage: tembra-store [--store DIR] import ID FILE.ics\n"))
      << misused.err;
}

}  // namespace
}  // namespace tembra::local
