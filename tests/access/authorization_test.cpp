// The status texts, the permission request's decision table and its deadline.
#include "access/authorization.h"

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cli/messages.h"
#include "support/fake_store.h"
#include "support/in_process.h"

namespace tembra {
namespace {

using testing::FakeAnswer;
using testing::FakeStore;

struct StatusTextCase {
  int code;
  const char* modern;
  const char* older;
};

TEST(AuthorizationStatusString, NamesEveryCodeOnBothSystems) {
  const StatusTextCase cases[] = {
      {0, "notDetermined", "notDetermined"},
      {1, "restricted", "restricted"},
      {2, "denied", "denied"},
      {3, "fullAccess", "authorized"},
      {4, "writeOnly", "unknown"},
      {5, "unknown", "unknown"},
      {-1, "unknown", "unknown"},
  };
  for (const StatusTextCase& c : cases) {
    EXPECT_EQ(authorizationStatusString(c.code, true), c.modern) << c.code;
    EXPECT_EQ(authorizationStatusString(c.code, false), c.older) << c.code;
  }
}

struct DecisionCase {
  const char* name;
  int code;
  FakeAnswer answer;
  bool modern;
  bool asks;
  bool granted;
  const char* status;
  bool refreshes;  // the store hears accessGranted
};

class RequestFullAccessTest : public ::testing::TestWithParam<DecisionCase> {};

TEST_P(RequestFullAccessTest, FollowsTheDecisionTable) {
  const DecisionCase& c = GetParam();
  FakeStore store;
  store.data().authorization = c.code;
  store.data().answer = c.answer;
  const AccessResult result = requestFullAccess(store, c.modern, std::chrono::milliseconds(2000));
  EXPECT_EQ(store.data().accessRequests, c.asks ? 1 : 0);
  EXPECT_EQ(result.granted, c.granted);
  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(store.data().grantsSeen, c.refreshes ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RequestFullAccessTest,
    ::testing::Values(
        DecisionCase{"restricted", 1, FakeAnswer::grant, true, false, false, "restricted", false},
        DecisionCase{"denied", 2, FakeAnswer::grant, true, false, false, "denied", false},
        DecisionCase{"full_access", 3, FakeAnswer::deny, true, false, true, "fullAccess", false},
        DecisionCase{"authorized_before_14", 3, FakeAnswer::deny, false, false, true, "authorized",
                     false},
        DecisionCase{"not_determined_grant", 0, FakeAnswer::grant, true, true, true, "fullAccess",
                     true},
        DecisionCase{"not_determined_deny", 0, FakeAnswer::deny, true, true, false, "denied",
                     false},
        DecisionCase{"not_determined_grant_before_14", 0, FakeAnswer::grant, false, true, true,
                     "authorized", true},
        DecisionCase{"not_determined_deny_before_14", 0, FakeAnswer::deny, false, true, false,
                     "denied", false},
        DecisionCase{"write_only_asks", 4, FakeAnswer::grant, true, true, true, "fullAccess", true},
        DecisionCase{"write_only_refused", 4, FakeAnswer::deny, true, true, false, "denied", false},
        DecisionCase{"unknown_code_asks", 9, FakeAnswer::grant, true, true, true, "fullAccess",
                     true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RequestFullAccess, ReadsTheCodeAgainAfterTheAnswerOnModernSystems) {
  FakeStore store;
  store.data().authorization = 0;
  store.data().authorizationAfterGrant = 4;  // the store says write-only although it granted
  const AccessResult result = requestFullAccess(store, true, std::chrono::milliseconds(2000));
  EXPECT_TRUE(result.granted);
  EXPECT_EQ(result.status, "writeOnly");
}

TEST(RequestFullAccess, NoAnswerBeforeTheDeadlineIsARefusal) {
  for (const bool modern : {true, false}) {
    FakeStore store;
    store.data().authorization = 0;
    store.data().answer = FakeAnswer::never;
    const AccessResult result = requestFullAccess(store, modern, std::chrono::milliseconds(20));
    EXPECT_FALSE(result.granted);
    EXPECT_EQ(result.status, modern ? "notDetermined" : "denied");
    EXPECT_EQ(store.data().grantsSeen, 0);
  }
}

TEST(RequestFullAccess, AnAnswerAfterTheDeadlineTouchesNothingReleased) {
  FakeStore store;
  store.data().authorization = 0;
  store.data().answer = FakeAnswer::late;
  store.data().lateBy = std::chrono::milliseconds(100);
  const AccessResult result = requestFullAccess(store, true, std::chrono::milliseconds(10));
  EXPECT_FALSE(result.granted);
  // The completion still runs; under AddressSanitizer a freed flag or semaphore would show here.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(store.data().grantsSeen, 0);
}

// The first run that asks must be served like any later one: the store hears of the grant before
// the command reads anything, whatever the command.
TEST(RequireAccess, TellsTheStoreOfAGrantBeforeAnyRead) {
  const std::vector<std::vector<std::string>> commands = {
      {"calendars"},
      {"default-calendar"},
      {"resolve-calendar", "--title", "Work"},
      {"list", "--from", "2024-05-01T00:00:00Z", "--to", "2024-05-02T00:00:00Z"},
      {"get", "--id", "e1"},
      {"create", "--input", R"({"start":"2024-05-01T09:00:00Z"})"},
      {"update", "--input", R"({"id":"e1"})"},
      {"delete", "--id", "e1"},
  };
  for (const auto& words : commands) {
    FakeStore store;
    store.data().authorization = 0;
    testing::runCommand(store, words);
    EXPECT_EQ(store.data().grantsSeen, 1) << words[0];
    EXPECT_EQ(store.data().readsBeforeGrant, 0) << words[0];
    EXPECT_GT(store.data().storeReads, 0) << words[0];
  }
}

TEST(RequireAccess, FailsWithStatusTwoAndTheExactMessage) {
  FakeStore store;
  store.data().authorization = 2;
  const testing::Outcome outcome = testing::runCommand(store, {"calendars"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.out,
            "{\"error\":\"日历访问未授权（denied）。请在 系统设置 → 隐私与安全性 → 日历 "
            "中允许本应用访问。\"}\n");
  EXPECT_EQ(store.data().storeReads, 0);
}

TEST(Status, NeverAsks) {
  FakeStore store;
  store.data().authorization = 0;
  const testing::Outcome outcome = testing::runCommand(store, {"status"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "{\"granted\":false,\"status\":\"notDetermined\"}\n");
  EXPECT_EQ(store.data().accessRequests, 0);
}

}  // namespace
}  // namespace tembra
