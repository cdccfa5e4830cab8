// The real tembra binary: command words, exact output bytes and exit statuses.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "access/local/files.h"
#include "support/black_box.h"

namespace tembra {
namespace {

using testing::ProcessResult;
using testing::TempStore;

const std::string kUsage =
    "{\"error\":\"用法: tembra <status|calendars|default-calendar|resolve-calendar|list|create|"
    "update|delete> [参数]\"}\n";

struct WordCase {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string out;
};

class CommandWordTest : public ::testing::TestWithParam<WordCase> {};

TEST_P(CommandWordTest, GivesTheExactErrorRecord) {
  TempStore store;
  const ProcessResult result = store.tembra(GetParam().args);
  EXPECT_EQ(result.status, GetParam().status);
  EXPECT_EQ(result.out, GetParam().out);
  EXPECT_EQ(result.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Words, CommandWordTest,
    ::testing::Values(
        WordCase{"no_word", {}, 64, kUsage},
        WordCase{"empty_word", {""}, 64, "{\"error\":\"未知命令: \"}\n"},
        WordCase{"wrong_case", {"Status"}, 64, "{\"error\":\"未知命令: Status\"}\n"},
        WordCase{"trailing_space", {"status "}, 64, "{\"error\":\"未知命令: status \"}\n"},
        WordCase{"leading_space", {" list"}, 64, "{\"error\":\"未知命令:  list\"}\n"},
        WordCase{"option_first", {"--id", "get"}, 64, "{\"error\":\"未知命令: --id\"}\n"},
        WordCase{"slash", {"a/b"}, 64, "{\"error\":\"未知命令: a\\/b\"}\n"},
        WordCase{"non_ascii", {"日历"}, 64, "{\"error\":\"未知命令: 日历\"}\n"},
        WordCase{"not_utf8", {"a\xff"}, 64, "{\"error\":\"未知命令: a\xEF\xBF\xBD\"}\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct StatusCase {
  const char* state;
  std::string out;
};

TEST(StatusCommand, ReportsEachStateWithoutAsking) {
  const StatusCase cases[] = {
      {"notDetermined", "{\"granted\":false,\"status\":\"notDetermined\"}\n"},
      {"restricted", "{\"granted\":false,\"status\":\"restricted\"}\n"},
      {"denied", "{\"granted\":false,\"status\":\"denied\"}\n"},
      {"fullAccess", "{\"granted\":true,\"status\":\"fullAccess\"}\n"},
      {"writeOnly", "{\"granted\":false,\"status\":\"writeOnly\"}\n"},
  };
  for (const StatusCase& c : cases) {
    TempStore store;
    store.adminOk({"set-access", c.state});
    const ProcessResult first = store.tembra({"status", "--ignored", "x"});
    EXPECT_EQ(first.status, 0) << c.state;
    EXPECT_EQ(first.out, c.out) << c.state;
    // Asking nothing means the state is the same on the next run.
    EXPECT_EQ(store.tembra({"status"}).out, c.out) << c.state;
  }
}

TEST(StatusCommand, AFreshStoreIsNotDetermined) {
  TempStore store;
  const ProcessResult result = store.tembra({"status"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "{\"granted\":false,\"status\":\"notDetermined\"}\n");
}

std::string accessMessage(const std::string& status) {
  return "{\"error\":\"日历访问未授权（" + status +
         "）。请在 系统设置 → 隐私与安全性 → 日历 中允许本应用访问。\"}\n";
}

TEST(RequireAccess, RefusesRestrictedAndDeniedWithStatusTwo) {
  for (const std::string state : {"restricted", "denied"}) {
    TempStore store;
    store.adminOk({"set-access", state});
    // Access is checked before any option, so the missing options are never reported.
    for (const std::string word : {"calendars", "default-calendar", "resolve-calendar", "list",
                                   "get", "create", "update", "delete"}) {
      const ProcessResult result = store.tembra({word});
      EXPECT_EQ(result.status, 2) << word;
      EXPECT_EQ(result.out, accessMessage(state)) << word;
    }
    EXPECT_EQ(store.tembra({"status"}).status, 0);
  }
}

TEST(RequireAccess, AsksWhenNotDeterminedAndRemembersAGrant) {
  TempStore store;
  store.adminOk({"set-answer", "grant"});
  const ProcessResult result = store.tembra({"calendars"});
  EXPECT_NE(result.status, 2) << result.out;
  EXPECT_EQ(store.tembra({"status"}).out, "{\"granted\":true,\"status\":\"fullAccess\"}\n");
}

TEST(RequireAccess, AsksWhenNotDeterminedAndRemembersARefusal) {
  TempStore store;
  store.adminOk({"set-answer", "deny"});
  const ProcessResult result = store.tembra({"list", "--from", "x"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, accessMessage("denied"));
  EXPECT_EQ(store.tembra({"status"}).out, "{\"granted\":false,\"status\":\"denied\"}\n");
}

TEST(RequireAccess, AsksWhenWriteOnly) {
  TempStore store;
  store.adminOk({"set-access", "writeOnly"});
  store.adminOk({"set-answer", "deny"});
  EXPECT_EQ(store.tembra({"get", "--id", "x"}).out, accessMessage("denied"));
}

// A TEMBRA_BACKEND the run cannot serve: status says so without access, every other command ends
// with the message and status 64, after the command word is checked as always. A copy of tembra
// without tembra-eds beside it cannot serve "eds".
TEST(BackendChoice, AnUnknownOrMissingBackendEndsEveryCommandButStatus) {
  TempStore store;
  store.adminOk({"set-access", "fullAccess"});
  const std::filesystem::path alone = store.path() / "bin" / "tembra";
  std::filesystem::create_directories(alone.parent_path());
  std::filesystem::copy_file(TEMBRA_BINARY, alone);
  const struct {
    std::string program;
    std::string backend;
    std::string message;
  } rows[] = {
      {TEMBRA_BINARY, "EDS", "未知的日历后端（TEMBRA_BACKEND 可为 local 或 eds）: EDS"},
      {alone.string(), "eds", "这个日历后端没有安装（TEMBRA_BACKEND）: eds"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.backend);
    const std::map<std::string, std::string> env{{"TEMBRA_STORE", store.path().string()},
                                                 {"TEMBRA_BACKEND", row.backend}};
    const ProcessResult status = testing::runProgram(row.program, {"status"}, env);
    EXPECT_EQ(status.status, 0);
    EXPECT_EQ(status.out, "{\"granted\":false,\"status\":\"unknown\"}\n");
    for (const std::string word : {"calendars", "list", "delete"}) {
      const ProcessResult refused = testing::runProgram(row.program, {word}, env);
      EXPECT_EQ(refused.status, 64) << word;
      EXPECT_EQ(refused.out, "{\"error\":\"" + row.message + "\"}\n") << word;
    }
    EXPECT_EQ(testing::runProgram(row.program, {"frobnicate"}, env).out,
              "{\"error\":\"未知命令: frobnicate\"}\n");
  }
  // "local" and an empty value are the default store.
  for (const std::string backend : {"local", ""}) {
    EXPECT_EQ(
        testing::runProgram(TEMBRA_BINARY, {"status"},
                            {{"TEMBRA_STORE", store.path().string()}, {"TEMBRA_BACKEND", backend}})
            .out,
        "{\"granted\":true,\"status\":\"fullAccess\"}\n");
  }
}

// A relative TEMBRA_STORE would be another store in each folder a host runs in: it is refused,
// and nothing is made in the working folder.
TEST(BackendChoice, ARelativeStorePathIsRefused) {
  TempStore folder;
  std::filesystem::create_directories(folder.path());
  const auto run = [&](const std::string& word) {
    return testing::runProgram(
        "/bin/sh",
        {"-c", "cd \"$1\" && exec \"$0\" \"$2\"", TEMBRA_BINARY, folder.path().string(), word},
        {{"TEMBRA_STORE", "store"}});
  };
  EXPECT_EQ(run("status").out, "{\"granted\":false,\"status\":\"unknown\"}\n");
  for (const std::string word : {"calendars", "list", "create"}) {
    const ProcessResult refused = run(word);
    EXPECT_EQ(refused.status, 1) << word;
    EXPECT_EQ(refused.out,
              "{\"error\":\"本地日历库的位置（TEMBRA_STORE）必须是绝对路径: store\"}\n");
  }
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "store"));
}

// tembra finds tembra-eds where the install rules put it (bin/tembra, libexec/tembra/tembra-eds)
// and, in a build folder or a host's bundle, beside itself; a stand-in helper says which ran.
TEST(BackendChoice, TheEdsHelperIsFoundInstalledOrBeside) {
  TempStore store;
  const struct {
    const char* name;
    std::string tembra;
    std::string helper;
  } rows[] = {
      {"installed", "prefix/bin/tembra", "prefix/libexec/tembra/tembra-eds"},
      {"beside", "bundle/tembra", "bundle/tembra-eds"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::filesystem::path tembra = store.path() / row.tembra;
    const std::filesystem::path helper = store.path() / row.helper;
    std::filesystem::create_directories(tembra.parent_path());
    std::filesystem::create_directories(helper.parent_path());
    std::filesystem::copy_file(TEMBRA_BINARY, tembra);
    std::ofstream(helper) << "#!/bin/sh\necho \"{\\\"helper\\\":\\\"" << row.name << " $*\\\"}\"\n";
    std::filesystem::permissions(helper, std::filesystem::perms::owner_all);
    const ProcessResult result =
        testing::runProgram(tembra.string(), {"calendars", "x"},
                            {{"TEMBRA_STORE", store.path().string()}, {"TEMBRA_BACKEND", "eds"}});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, std::string("{\"helper\":\"") + row.name + " calendars x\"}\n");
  }
}

// Runs tembra status with its standard output on fd and returns how it ended.
int statusWithStdout(int fd, const std::string& storePath) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fd, 1);
    ::setenv("TEMBRA_STORE", storePath.c_str(), 1);
    ::execl(TEMBRA_BINARY, TEMBRA_BINARY, "status", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Output, AClosedPipeEndsTheRunWithStatusOneNotASignal) {
  TempStore store;
  store.adminOk({"set-access", "fullAccess"});
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  EXPECT_EQ(statusWithStdout(fds[1], store.path().string()), 1);
  ::close(fds[1]);
}

TEST(Output, AFullDeviceEndsTheRunWithStatusOne) {
  TempStore store;
  store.adminOk({"set-access", "fullAccess"});
  const int fd = ::open("/dev/full", O_WRONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(statusWithStdout(fd, store.path().string()), 1);
  ::close(fd);
}

// Input too large for one argument (Linux takes 128 KiB) comes on standard input with "--input -".
TEST(StandardInput, CarriesTheInputObjectOfCreateAndUpdate) {
  TempStore store;
  store.adminOk({"set-access", "fullAccess"});
  const std::map<std::string, std::string> env{{"TEMBRA_STORE", store.path().string()}};
  const std::string notes(300'000, 'n');
  const ProcessResult created = testing::runProgram(
      TEMBRA_BINARY, {"create", "--input", "-"}, env,
      R"({"title":"Long","start":"2024-05-01T09:00:00Z","notes":")" + notes + R"("})");
  ASSERT_EQ(created.status, 0) << created.out;
  const std::string id = nlohmann::json::parse(created.out)["id"];
  const ProcessResult updated = testing::runProgram(
      TEMBRA_BINARY, {"update", "--input", "-"}, env,
      nlohmann::json{{"id", id}, {"title", "Longer"}, {"notes", notes + "!"}}.dump());
  ASSERT_EQ(updated.status, 0) << updated.out;
  const auto got = nlohmann::json::parse(store.tembra({"get", "--id", id}).out);
  EXPECT_EQ(got["title"], "Longer");
  EXPECT_EQ(got["notes"], notes + "!");

  // Empty or unreadable input is no input object, and nothing is saved.
  const struct {
    const char* word;
    std::string input;
    std::string out;
  } refused[] = {
      {"create", "", "{\"error\":\"create 需要 --input <JSON>\"}\n"},
      {"create", "{\"start\":", "{\"error\":\"create 需要 --input <JSON>\"}\n"},
      {"create", "{\"start\":\"2024-05-02T09:00:00Z\",\"title\":\"\xff\"}",
       "{\"error\":\"create 需要 --input <JSON>\"}\n"},
      {"update", "", "{\"error\":\"update 需要 --input <JSON>，且包含 id\"}\n"},
  };
  for (const auto& row : refused) {
    const ProcessResult result =
        testing::runProgram(TEMBRA_BINARY, {row.word, "--input", "-"}, env, row.input);
    EXPECT_EQ(result.status, 64) << row.input;
    EXPECT_EQ(result.out, row.out) << row.input;
  }
  const ProcessResult listed =
      store.tembra({"list", "--from", "2024-01-01T00:00:00Z", "--to", "2025-01-01T00:00:00Z"});
  EXPECT_EQ(nlohmann::json::parse(listed.out).size(), 1u) << listed.out;
}

// A host that hands over a non-blocking pipe and reads it late still gets the whole document.
TEST(Output, ANonBlockingPipeIsWaitedOn) {
  TempStore store;
  store.adminOk({"set-access", "fullAccess"});
  std::string events;
  for (int day = 1; day <= 28; ++day) {
    for (int hour = 0; hour < 20; ++hour) {
      char text[160];
      std::snprintf(text, sizeof text,
                    "BEGIN:VEVENT\r\nUID:e-%d-%d\r\nDTSTAMP:20240101T000000Z\r\n"
                    "DTSTART:202405%02dT%02d0000Z\r\nSUMMARY:Event\r\nEND:VEVENT\r\n",
                    day, hour, day, hour);
      events += text;
    }
  }
  const std::filesystem::path file = store.path() / "many.ics";
  std::ofstream(file, std::ios::binary) << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:x\r\n"
                                        << events << "END:VCALENDAR\r\n";
  store.adminOk({"import", "local/calendar", file.string()});

  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    ::setenv("TEMBRA_STORE", store.path().c_str(), 1);
    ::execl(TEMBRA_BINARY, TEMBRA_BINARY, "list", "--from", "2024-05-01T00:00:00Z", "--to",
            "2024-06-01T00:00:00Z", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  ::usleep(500'000);  // the pipe fills long before this
  std::string out;
  char buffer[65536];
  for (ssize_t got; (got = ::read(fds[0], buffer, sizeof buffer)) > 0;)
    out.append(buffer, static_cast<std::size_t>(got));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ASSERT_GT(out.size(), 100'000u);
  EXPECT_EQ(nlohmann::json::parse(out, nullptr, false).size(), 560u);
}

// A host that closes standard input, output and error: the store's files must not take their
// numbers and receive the output.
TEST(StandardDescriptors, ClosedByTheHostAreNotTakenByStoreFiles) {
  TempStore store;
  store.adminOk({"set-access", "fullAccess"});
  for (int run = 0; run < 2; ++run) {
    const ProcessResult closed =
        testing::runProgram("/bin/sh",
                            {"-c", "exec \"$0\" create --input \"$1\" <&- >&- 2>&-", TEMBRA_BINARY,
                             R"({"title":"Quiet","start":"2024-05-01T09:00:00Z"})"},
                            {{"TEMBRA_STORE", store.path().string()}});
    EXPECT_EQ(closed.status, 0);
  }
  const ProcessResult listed =
      store.tembra({"list", "--from", "2024-05-01T00:00:00Z", "--to", "2024-05-02T00:00:00Z"});
  EXPECT_EQ(nlohmann::json::parse(listed.out).size(), 2u) << listed.out;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(store.path())) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file() || name.find("sqlite") != std::string::npos)
      continue;
    const std::string text = local::readFile(entry.path()).value_or("");
    EXPECT_EQ(text.find("\"calendarId\""), std::string::npos) << entry.path() << "\n" << text;
  }
}

}  // namespace
}  // namespace tembra
