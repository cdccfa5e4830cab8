// A store that cannot answer what a command asks ends the command with status 1 and its words:
// never an empty list, "not found", "no calendar" or an event already gone.
#include "commands/answered.h"

#include <gtest/gtest.h>

#include "support/event_fixtures.h"
#include "support/in_process.h"

namespace tembra {
namespace {

using testing::eventStore;
using testing::FakeStore;
using testing::kNineThirty;
using testing::runCommand;
using testing::storedEvent;

TEST(Answered, EveryCommandEndsWithTheStoresWordsWhenItCannotAnswer) {
  const struct {
    const char* name;
    std::vector<std::string> words;
    const char* out;
  } rows[] = {
      {"calendars", {"calendars"}, "读取日历失败: 磁盘错误"},
      {"default_calendar", {"default-calendar"}, "读取日历失败: 磁盘错误"},
      {"resolve_calendar", {"resolve-calendar", "--title", "Work"}, "读取日历失败: 磁盘错误"},
      {"list",
       {"list", "--from", "2024-05-01T00:00:00Z", "--to", "2024-05-02T00:00:00Z"},
       "读取日历失败: 磁盘错误"},
      {"list_of_a_calendar",
       {"list", "--from", "2024-05-01T00:00:00Z", "--to", "2024-05-02T00:00:00Z", "--calendar",
        "c1"},
       "读取日历失败: 磁盘错误"},
      {"get", {"get", "--id", "e1"}, "读取日历失败: 磁盘错误"},
      {"get_an_occurrence",
       {"get", "--id", "e1", "--occurrence", "2024-05-01T09:30:00Z"},
       "读取日历失败: 磁盘错误"},
      {"create",
       {"create", "--input", R"({"start":"2024-05-01T09:30:00Z"})"},
       "创建事件失败: 磁盘错误"},
      {"update", {"update", "--input", R"({"id":"e1","title":"x"})"}, "更新事件失败: 磁盘错误"},
      {"delete", {"delete", "--id", "e1"}, "删除事件失败: 磁盘错误"},
      {"delete_an_occurrence",
       {"delete", "--id", "e1", "--occurrence", "2024-05-01T09:30:00Z", "--span", "all"},
       "删除事件失败: 磁盘错误"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeStore store = eventStore();
    store.data().events = {storedEvent(store, "e1", "c1", kNineThirty)};
    store.data().failLookups = "磁盘错误";
    const auto outcome = runCommand(store, row.words);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, std::string("{\"error\":\"") + row.out + "\"}\n");
    EXPECT_TRUE(store.data().saved.empty());
    EXPECT_TRUE(store.data().removed.empty());
  }
}

}  // namespace
}  // namespace tembra
