// resolve-calendar in process over the fake store: which calendar a title chooses, and how.
#include <gtest/gtest.h>

#include "records/calendar_record.h"
#include "support/in_process.h"

namespace tembra {
namespace {

using Json = nlohmann::json;
using testing::FakeStore;
using testing::Outcome;
using testing::runCommand;

const std::string kNoCalendarRecord =
    "{\"error\":\"没有可写入的日历，请先在「日历」应用中创建一个可写日历。\"}\n";

struct Titled {
  std::string title;
  bool writable = true;
};

// Calendars c0, c1, ... in the order given; the default is c<defaultIndex>.
FakeStore storeWith(const std::vector<Titled>& calendars, std::optional<int> defaultIndex) {
  FakeStore store;
  for (std::size_t i = 0; i < calendars.size(); ++i) {
    store.data().calendars.push_back(
        testing::fakeCalendar("c" + std::to_string(i), calendars[i].title, calendars[i].writable));
  }
  if (defaultIndex)
    store.data().defaultCalendarId = "c" + std::to_string(*defaultIndex);
  return store;
}

// How the command ends: the calendar chosen and its two added keys, or no calendar (status 3).
struct Expected {
  std::optional<int> chosen;
  bool matched = false;
  bool isDefault = false;
};
Expected byTitle(int index) {
  return {index, true, false};
}
Expected defaultForNoTitle(int index) {
  return {index, true, true};
}
Expected defaultUnmatched(int index) {
  return {index, false, true};
}
const Expected kNoCalendar{};
const std::optional<int> kNoDefault;

std::vector<std::string> title(std::string text) {
  return {"--title", std::move(text)};
}

struct ResolveCase {
  const char* name;
  std::vector<Titled> calendars;
  std::optional<int> defaultIndex;
  std::vector<std::string> options;  // after the command word
  Expected expected;
};

void PrintTo(const ResolveCase& c, std::ostream* os) {
  *os << c.name;
}

class ResolveCalendarTest : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(ResolveCalendarTest, ChoosesTheCalendar) {
  const ResolveCase& c = GetParam();
  const FakeStore store = storeWith(c.calendars, c.defaultIndex);
  std::vector<std::string> words{"resolve-calendar"};
  words.insert(words.end(), c.options.begin(), c.options.end());
  const Outcome outcome = runCommand(store, words);
  if (!c.expected.chosen) {
    EXPECT_EQ(outcome.status, 3);
    EXPECT_EQ(outcome.out, kNoCalendarRecord);
    return;
  }
  ASSERT_EQ(outcome.status, 0) << outcome.out;
  ASSERT_TRUE(outcome.out.ends_with("}\n")) << outcome.out;
  const auto index = static_cast<std::size_t>(*c.expected.chosen);
  Json expected = calendarJSON(store.data().calendars[index]);
  expected["matched"] = c.expected.matched;
  expected["isDefault"] = c.expected.isDefault;
  EXPECT_EQ(Json::parse(outcome.out), expected);
}

const std::vector<Titled> kWorkAndHome = {{"Work"}, {"Home"}};
const std::vector<Titled> kOnlyReadOnly = {{"Holidays", false}, {"Birthdays", false}};

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ResolveCalendarTest,
    ::testing::Values(
        // Exact pass.
        ResolveCase{"exact_match_beats_earlier_case_insensitive",
                    {{"Work"}, {"work"}},
                    0,
                    title("work"),
                    byTitle(1)},
        ResolveCase{
            "exact_pass_skips_spaced_title", {{" Work "}, {"Work"}}, 0, title("Work"), byTitle(1)},
        ResolveCase{"title_names_writable_default", kWorkAndHome, 1, title("Home"), byTitle(1)},
        ResolveCase{"duplicate_titles_first_wins",
                    {{"Work"}, {"Work"}},
                    kNoDefault,
                    title("Work"),
                    byTitle(0)},
        ResolveCase{"wanted_title_trimmed", {{"Home"}, {"Work"}}, 0, title("  Work\n"), byTitle(1)},
        ResolveCase{"ideographic_space_and_line_separator_trimmed",
                    {{"工作"}},
                    kNoDefault,
                    title("\u3000工作\u2028\r\n"),
                    byTitle(0)},
        // Canonical equality already holds in the exact pass, ahead of a case-insensitive match.
        ResolveCase{"combining_title_finds_precomposed",
                    {{"CAF\u00C9"}, {"Caf\u00E9"}},
                    kNoDefault,
                    title("Cafe\u0301"),
                    byTitle(1)},
        ResolveCase{"precomposed_title_finds_combining",
                    {{"CAFE\u0301"}, {"Cafe\u0301"}},
                    kNoDefault,
                    title("Caf\u00E9"),
                    byTitle(1)},
        ResolveCase{"matched_without_default", {{"Work"}}, kNoDefault, title("Work"), byTitle(0)},

        // Case-insensitive pass.
        ResolveCase{"first_case_insensitive_match",
                    {{"WORK"}, {"Work"}},
                    kNoDefault,
                    title("work"),
                    byTitle(0)},
        ResolveCase{"spaced_title_found_case_insensitively",
                    {{" Work "}},
                    kNoDefault,
                    title("work"),
                    byTitle(0)},
        ResolveCase{"spaced_title_found_when_case_agrees",
                    {{" Work "}},
                    kNoDefault,
                    title("Work"),
                    byTitle(0)},
        ResolveCase{"calendar_title_trimmed_of_ideographic_space_and_line_breaks",
                    {{"\u3000工作\r\n"}},
                    kNoDefault,
                    title("工作"),
                    byTitle(0)},
        ResolveCase{"duplicates_first_case_insensitive_wins",
                    {{"work "}, {"WORK"}},
                    kNoDefault,
                    title("Work"),
                    byTitle(0)},
        ResolveCase{"case_and_composition_both_differ",
                    {{"CAF\u00C9"}},
                    kNoDefault,
                    title("cafe\u0301"),
                    byTitle(0)},
        ResolveCase{
            "greek_capitals_find_plain_sigma", {{"οδοσ"}}, kNoDefault, title("ΟΔΟΣ"), byTitle(0)},
        ResolveCase{"capital_dotted_i_finds_i_with_combining_dot",
                    {{"İzmir"}},
                    kNoDefault,
                    title("i\u0307zmir"),
                    byTitle(0)},

        // A title that names no writable calendar falls back with "matched" false.
        ResolveCase{"no_title_matches", kWorkAndHome, 1, title("Travel"), defaultUnmatched(1)},
        ResolveCase{"greek_final_sigma_not_folded",
                    {{"οδος"}, {"Home"}},
                    1,
                    title("ΟΔΟΣ"),
                    defaultUnmatched(1)},
        ResolveCase{"capital_dotted_i_misses_plain_i",
                    {{"İzmir"}, {"Home"}},
                    1,
                    title("izmir"),
                    defaultUnmatched(1)},
        ResolveCase{"no_turkish_rule_for_capitals",
                    {{"izmir"}, {"Home"}},
                    1,
                    title("İZMİR"),
                    defaultUnmatched(1)},
        ResolveCase{"zero_width_space_not_trimmed",
                    {{"Work\u200B"}, {"Home"}},
                    1,
                    title("Work"),
                    defaultUnmatched(1)},
        ResolveCase{"read_only_never_matched",
                    {{"Holidays", false}, {"Home"}},
                    1,
                    title("Holidays"),
                    defaultUnmatched(1)},
        ResolveCase{"read_only_default_named_by_title",
                    {{"Holidays", false}},
                    0,
                    title("Holidays"),
                    defaultUnmatched(0)},
        ResolveCase{"only_read_only_calendars_title_asked", kOnlyReadOnly, 1, title("Holidays"),
                    defaultUnmatched(1)},
        ResolveCase{"title_not_utf8", kWorkAndHome, 1, title("\xFF"), defaultUnmatched(1)},
        ResolveCase{"title_not_utf8_within_white_space", kWorkAndHome, 1, title(" \xFF\n"),
                    defaultUnmatched(1)},
        ResolveCase{
            "calendar_title_not_utf8", {{"\xFF"}, {"Home"}}, 1, title("\xFF"), defaultUnmatched(1)},
        ResolveCase{"cut_sequence_never_matches_its_repair",
                    {{"\uFFFD"}, {"Home"}},
                    1,
                    title("\xE5\xB7"),
                    defaultUnmatched(1)},

        // No title asked for: the default calendar, with "matched" true.
        ResolveCase{"no_title_option", kWorkAndHome, 1, {}, defaultForNoTitle(1)},
        ResolveCase{"title_option_last", kWorkAndHome, 1, {"--title"}, defaultForNoTitle(1)},
        ResolveCase{"empty_title", kWorkAndHome, 1, title(""), defaultForNoTitle(1)},
        ResolveCase{"only_spaces", kWorkAndHome, 1, title("   "), defaultForNoTitle(1)},
        ResolveCase{"only_line_breaks_and_ideographic_space", kWorkAndHome, 1,
                    title("\n\u3000\r\n\u2029"), defaultForNoTitle(1)},
        ResolveCase{"only_read_only_calendars", kOnlyReadOnly, 1, {}, defaultForNoTitle(1)},

        // The fallback without a default calendar.
        ResolveCase{"no_default_no_title", {{"Work"}}, kNoDefault, {}, kNoCalendar},
        ResolveCase{"no_default_no_match", {{"Work"}}, kNoDefault, title("Home"), kNoCalendar},
        ResolveCase{"no_default_read_only_match",
                    {{"Work", false}},
                    kNoDefault,
                    title("Work"),
                    kNoCalendar},
        ResolveCase{"no_calendars_at_all", {}, kNoDefault, title("Work"), kNoCalendar}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ResolveCalendar, WritesTheExactRecord) {
  const FakeStore store = storeWith({{"Work"}}, std::nullopt);
  const Outcome outcome = runCommand(store, {"resolve-calendar", "--title", "Work"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out,
            "{\"allowsContentModifications\":true,\"color\":\"#FF8000\",\"id\":\"c0\","
            "\"isDefault\":false,\"matched\":true,\"source\":\"iCloud\",\"title\":\"Work\"}\n");
}

TEST(ResolveCalendar, AsksForTheDefaultOnlyWhenFallingBack) {
  const FakeStore matched = storeWith(kWorkAndHome, 1);
  runCommand(matched, {"resolve-calendar", "--title", "work"});
  EXPECT_EQ(matched.data().storeReads, 1);  // the calendars, never the default

  const FakeStore fellBack = storeWith(kWorkAndHome, 1);
  runCommand(fellBack, {"resolve-calendar"});
  EXPECT_EQ(fellBack.data().storeReads, 2);
}

}  // namespace
}  // namespace tembra
