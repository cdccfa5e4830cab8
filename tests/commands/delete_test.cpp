// The delete command over the fake store.
#include "commands/delete.h"

#include <gtest/gtest.h>

#include "access/authorization.h"
#include "support/event_fixtures.h"
#include "support/in_process.h"

namespace tembra {
namespace {

using testing::eventStore;
using testing::FakeStore;
using testing::kNineThirty;
using testing::runCommand;
using testing::storedEvent;
using testing::storedRecord;

FakeStore storeWithEvent() {
  FakeStore store = eventStore();
  store.data().events = {storedEvent(store, "e1", "ro", kNineThirty)};
  return store;
}

TEST(Delete, AccessIsCheckedBeforeAnyOption) {
  FakeStore store = storeWithEvent();
  store.data().authorization = 2;
  const auto outcome = runCommand(store, {"delete"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.out, "{\"error\":\"" + accessDeniedMessage("denied") + "\"}\n");
  EXPECT_EQ(store.data().events.size(), 1u);
}

TEST(Delete, NeedsANonEmptyId) {
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{"delete"}, std::vector<std::string>{"delete", "--id"},
        std::vector<std::string>{"delete", "--id", ""},
        std::vector<std::string>{"delete", "--input", R"({"id":"e1"})"}}) {
    FakeStore store = storeWithEvent();
    const auto outcome = runCommand(store, words);
    EXPECT_EQ(outcome.status, 64);
    EXPECT_EQ(outcome.out, "{\"error\":\"delete 需要 --id\"}\n");
    EXPECT_EQ(store.data().storeReads, 0);
    EXPECT_EQ(store.data().events.size(), 1u);
  }
}

TEST(Delete, RemovesOnceThenReportsAlreadyGone) {
  FakeStore store = storeWithEvent();
  auto outcome = runCommand(store, {"delete", "--id", "e1"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "{\"ok\":true}\n");
  EXPECT_TRUE(store.data().events.empty());
  EXPECT_EQ(store.data().spans, std::vector<Span>{Span::thisEvent});

  outcome = runCommand(store, {"delete", "--id", "e1"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "{\"alreadyGone\":true,\"ok\":true}\n");
  EXPECT_EQ(store.data().removed.size(), 1u);
}

TEST(Delete, UnknownOrOddIdentifiersAreAlreadyGone) {
  for (const std::string id : {"nope", " e1", "e1\n", "\xFF\xFE", "../../etc/passwd"}) {
    FakeStore store = storeWithEvent();
    const auto outcome = runCommand(store, {"delete", "--id", id});
    EXPECT_EQ(outcome.status, 0) << id;
    EXPECT_EQ(outcome.out, "{\"alreadyGone\":true,\"ok\":true}\n") << id;
    EXPECT_EQ(store.data().events.size(), 1u) << id;
    EXPECT_TRUE(store.data().spans.empty()) << id;
  }
}

TEST(Delete, ARefusedRemovalKeepsTheEvent) {
  FakeStore store = storeWithEvent();
  store.data().refuseRemove = "日历“节假日”是只读的";
  const std::string before = storedRecord(store, "e1");
  const auto outcome = runCommand(store, {"delete", "--id", "e1"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "{\"error\":\"删除事件失败: 日历“节假日”是只读的\"}\n");
  EXPECT_EQ(storedRecord(store, "e1"), before);
  EXPECT_EQ(store.data().spans.size(), 1u);
}

TEST(Delete, AnEventRemovedMeanwhileIsAlreadyGone) {
  FakeStore store = storeWithEvent();
  store.data().goneOnWrite = true;
  const auto outcome = runCommand(store, {"delete", "--id", "e1"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "{\"alreadyGone\":true,\"ok\":true}\n");
}

}  // namespace
}  // namespace tembra
