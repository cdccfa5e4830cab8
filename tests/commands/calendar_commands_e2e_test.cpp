// The real tembra over stores: calendars, default-calendar and resolve-calendar, checked by exact
// output bytes and exit status; over each back-end where they behave alike, the rest over local
// stores made with tembra-store.
#include <gtest/gtest.h>

#include "support/stores.h"

namespace tembra {
namespace {

using testing::Backend;
using testing::escapedSlashes;
using testing::ProcessResult;
using testing::Shown;
using testing::StoreUnderTest;
using testing::TempStore;

const std::string kNoDefaultRecord =
    "{\"error\":\"系统没有可用的默认日历，请先在「日历」应用中创建一个可写日历。\"}\n";
const std::string kNoCalendarRecord =
    "{\"error\":\"没有可写入的日历，请先在「日历」应用中创建一个可写日历。\"}\n";

std::string boolText(bool value) {
  return value ? "true" : "false";
}

// The compact record with the writer's key order, optionally with "isDefault" and "matched".
std::string recordText(const Shown& calendar, const std::string& added = "") {
  return "{\"allowsContentModifications\":" + boolText(calendar.writable) + ",\"color\":\"" +
         calendar.color + "\",\"id\":\"" + escapedSlashes(calendar.id) + "\"," + added +
         "\"source\":\"" + calendar.source + "\",\"title\":\"" + calendar.title + "\"}";
}

std::string chosenText(const Shown& calendar, bool matched, bool isDefault) {
  return recordText(calendar, "\"isDefault\":" + boolText(isDefault) +
                                  ",\"matched\":" + boolText(matched) + ",") +
         "\n";
}

void expectOutput(const ProcessResult& result, int status, const std::string& out) {
  EXPECT_EQ(result.status, status);
  EXPECT_EQ(result.out, out);
  EXPECT_EQ(result.err, "");
}

// An empty store to which access is granted.
void makeEmpty(const TempStore& store) {
  store.adminOk({"init", "--empty"});
  store.adminOk({"set-access", "fullAccess"});
}

// A fresh store of the back-end with full access.
class StoreCalendars : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (!testing::backendAvailable(GetParam()))
      GTEST_SKIP() << "EDS is tested inside tests/eds/eds_session";
    store.emplace(GetParam());
  }
  std::optional<StoreUnderTest> store;
};
INSTANTIATE_TEST_SUITE_P(Stores, StoreCalendars, testing::kBothBackends, testing::backendName);

TEST_P(StoreCalendars, ListTheStarterCalendarWhichIsTheDefault) {
  const Shown starter = store->starter();
  expectOutput(store->tembra({"calendars"}), 0, "[" + recordText(starter) + "]\n");
  expectOutput(store->tembra({"default-calendar"}), 0, chosenText(starter, true, true));
}

TEST_P(StoreCalendars, ResolveChoosesByTitleOrFallsBackToTheDefault) {
  const Shown upper{store->addCalendar("Work", "iCloud", "#336699"), "Work", "iCloud", "#336699"};
  const Shown lower{store->addCalendar("work", "iCloud", "#FF8000"), "work", "iCloud", "#FF8000"};
  const Shown starter = store->starter();
  const std::string readOnly = store->readOnlyWithEvent().calendar.title;

  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string out;
  };
  const Case cases[] = {
      {"exact", {"--title", "work"}, chosenText(lower, true, false)},
      {"case_insensitive_after_trimming", {"--title", "  WORK\n"}, chosenText(upper, true, false)},
      {"names_the_default", {"--title", starter.title}, chosenText(starter, true, false)},
      {"no_title", {}, chosenText(starter, true, true)},
      {"title_option_last", {"--title"}, chosenText(starter, true, true)},
      {"only_white_space", {"--title", " \u3000 "}, chosenText(starter, true, true)},
      {"no_match", {"--title", "Travel"}, chosenText(starter, false, true)},
      {"read_only_not_matched", {"--title", readOnly}, chosenText(starter, false, true)},
      {"not_utf8", {"--title", "Work\xFF"}, chosenText(starter, false, true)},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"resolve-calendar"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(c.name);
    expectOutput(store->tembra(args), 0, c.out);
  }
}

TEST(CalendarsCommand, GivesAnEmptyArrayWithoutWritableCalendars) {
  TempStore store;
  makeEmpty(store);
  expectOutput(store.tembra({"calendars"}), 0, "[]\n");
  const std::string holidays =
      store.adminOk({"add-calendar", "--title", "Holidays", "--read-only"});
  store.adminOk({"set-default", holidays});
  expectOutput(store.tembra({"calendars"}), 0, "[]\n");
}

TEST(CalendarsCommand, ListsWritableCalendarsInTheOrderAddedWithDuplicates) {
  TempStore store;
  makeEmpty(store);
  const Shown zeta{store.adminOk({"add-calendar", "--title", "Zeta", "--source", "iCloud",
                                  "--color", "#336699"}),
                   "Zeta", "iCloud", "#336699"};
  store.adminOk({"add-calendar", "--title", "Holidays", "--source", "订阅", "--read-only"});
  const Shown work{store.adminOk({"add-calendar", "--title", "Work", "--source", "iCloud",
                                  "--color", "#ff8000"}),
                   "Work", "iCloud", "#FF8000"};
  const Shown workAgain{store.adminOk({"add-calendar", "--title", "Work", "--source", "iCloud"}),
                        "Work", "iCloud", ""};
  const Shown alpha{store.adminOk({"add-calendar", "--title", "Alpha"}), "Alpha", "", ""};
  ASSERT_NE(work.id, workAgain.id);

  const std::string expected = "[" + recordText(zeta) + "," + recordText(work) + "," +
                               recordText(workAgain) + "," + recordText(alpha) + "]\n";
  expectOutput(store.tembra({"calendars"}), 0, expected);
  expectOutput(store.tembra({"calendars", "--title", "Work"}), 0, expected);
}

TEST(DefaultCalendarCommand, ReportsAReadOnlyDefault) {
  TempStore store;
  makeEmpty(store);
  store.adminOk({"add-calendar", "--title", "Work"});
  const Shown holidays{
      store.adminOk({"add-calendar", "--title", "节假日", "--source", "订阅", "--read-only"}),
      "节假日", "订阅", "", false};
  store.adminOk({"set-default", holidays.id});
  expectOutput(store.tembra({"default-calendar", "--title", "Work"}), 0,
               chosenText(holidays, true, true));
}

TEST(DefaultCalendarCommand, FailsWithStatusThreeWithoutADefault) {
  TempStore store;
  store.adminOk({"set-access", "fullAccess"});
  store.adminOk({"set-default", "--none"});
  expectOutput(store.tembra({"default-calendar"}), 3, kNoDefaultRecord);
}

TEST(ResolveCalendarCommand, NeedsADefaultOnlyWhenFallingBack) {
  TempStore store;
  makeEmpty(store);
  const Shown work{store.adminOk({"add-calendar", "--title", "Work"}), "Work", "", ""};
  expectOutput(store.tembra({"resolve-calendar", "--title", "work"}), 0,
               chosenText(work, true, false));
  expectOutput(store.tembra({"resolve-calendar", "--title", "Travel"}), 3, kNoCalendarRecord);
  expectOutput(store.tembra({"resolve-calendar"}), 3, kNoCalendarRecord);
}

TEST(ResolveCalendarCommand, ReturnsAReadOnlyDefaultWhenNothingIsWritable) {
  TempStore store;
  makeEmpty(store);
  const Shown holidays{store.adminOk({"add-calendar", "--title", "Holidays", "--read-only"}),
                       "Holidays", "", "", false};
  store.adminOk({"set-default", holidays.id});
  expectOutput(store.tembra({"resolve-calendar"}), 0, chosenText(holidays, true, true));
  expectOutput(store.tembra({"resolve-calendar", "--title", "Holidays"}), 0,
               chosenText(holidays, false, true));
}

TEST(CalendarCommands, RefuseWithStatusTwoWithoutAccess) {
  const std::string denied =
      "{\"error\":\"日历访问未授权（denied）。请在 系统设置 → 隐私与安全性 → 日历 "
      "中允许本应用访问。\"}\n";
  TempStore store;
  store.adminOk({"set-access", "denied"});
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"calendars"},
                                             {"default-calendar"},
                                             {"resolve-calendar"},
                                             {"resolve-calendar", "--title", "日历"}}) {
    SCOPED_TRACE(args.back());
    expectOutput(store.tembra(args), 2, denied);
  }
}

}  // namespace
}  // namespace tembra
