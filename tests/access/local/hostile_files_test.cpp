// Files that other tools, or a person, put in the store and that tembra must survive: every command
// ends with one document and never hangs or crashes, the bad file is skipped, and it stays exactly
// as it was.
#include <sys/stat.h>

#include <fstream>
#include <functional>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "access/local/files.h"
#include "access/local/index.h"
#include "support/black_box.h"

namespace tembra {
namespace {

using nlohmann::json;
using testing::ProcessResult;
using testing::TempStore;

namespace fs = std::filesystem;

constexpr const char* kBadId = "local/calendar/bad.ics";

void write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A VEVENT holding `depth` components nested one in the next, each opened by the line `begin`;
// libical frees, checks and writes components recursively, so 280,000 levels overflowed the stack
// of every reader.
std::string deeplyNested(int depth, const std::string& begin = "BEGIN:X-A\r\n") {
  std::string text =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:x\r\nBEGIN:VEVENT\r\nUID:deep\r\n"
      "DTSTAMP:20250301T000000Z\r\nDTSTART:20250301T100000Z\r\n";
  text.reserve(text.size() + static_cast<std::size_t>(depth) * 20);
  for (int i = 0; i < depth; ++i)
    text += begin;
  for (int i = 0; i < depth; ++i)
    text += "END:X-A\r\n";
  return text + "END:VEVENT\r\nEND:VCALENDAR\r\n";
}

void fifo(const fs::path& path) {
  fs::remove(path);
  ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
}

struct Hostile {
  const char* name;
  std::function<void(const fs::path& root)> plant;
  fs::path planted;  // relative to the store; empty: the index of the run's zone
  int listStatus;    // what list says with the bad file in place
  friend void PrintTo(const Hostile& hostile, std::ostream* out) { *out << hostile.name; }
};

const Hostile kHostile[] = {
    {"deep_nesting", [](const fs::path& root) { write(root / kBadId, deeplyNested(280'000)); },
     kBadId, 0},
    // Lines libical's parser reads as BEGIN all the same.
    {"deep_nesting_blank_before_colon",
     [](const fs::path& root) { write(root / kBadId, deeplyNested(280'000, "BEGIN\t:X-A\r\n")); },
     kBadId, 0},
    {"deep_nesting_folded",
     [](const fs::path& root) {
       write(root / kBadId, deeplyNested(280'000, "BEG\r\n IN:X-A\r\n"));
     },
     kBadId, 0},
    {"end_before_begin",  // libical warns of it on stdio's stderr
     [](const fs::path& root) {
       write(root / kBadId,
             "BEGIN:VCALENDAR\r\nEND:VTODO\r\nBEGIN:VEVENT\r\nUID:x\r\n"
             "DTSTART:20250301T100000Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
     },
     kBadId, 0},
    {"fifo_event", [](const fs::path& root) { fifo(root / kBadId); }, kBadId, 0},
    {"fifo_displayname", [](const fs::path& root) { fifo(root / "local/calendar/displayname"); },
     "local/calendar/displayname", 0},
    {"fifo_index", [](const fs::path& root) { fifo(local::Index::fileFor(root)); }, "", 0},
    // Unreadable settings read as the defaults: access not determined, and never written over.
    {"fifo_settings", [](const fs::path& root) { fifo(root / "settings.json"); }, "settings.json",
     2},
};

class HostileFiles : public ::testing::TestWithParam<Hostile> {
 protected:
  // Ends within the limit with one JSON document and a line feed, and nothing on stderr.
  static ProcessResult finishes(const ProcessResult& result) {
    EXPECT_LT(result.status, 128) << "killed or hung: " << result.out;
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(result.out.ends_with("\n")) << result.out;
    EXPECT_FALSE(json::parse(result.out, nullptr, false).is_discarded()) << result.out;
    return result;
  }

  ProcessResult run(const std::vector<std::string>& args) {
    return finishes(testing::runProgram(
        TEMBRA_BINARY, args, {{"TEMBRA_STORE", store.path().string()}, {"TZ", store.zone}}, "",
        std::chrono::seconds(20)));
  }

  TempStore store;
};

TEST_P(HostileFiles, AreSkippedAndKept) {
  const Hostile& hostile = GetParam();
  store.adminOk({"set-access", "fullAccess"});
  const json saved = json::parse(
      run({"create", "--input", R"({"title":"good","start":"2025-03-01T09:00:00Z"})"}).out);
  hostile.plant(store.path());
  const fs::path planted = hostile.planted.empty() ? local::Index::fileFor(store.path())
                                                   : store.path() / hostile.planted;
  struct stat before;
  ASSERT_EQ(::lstat(planted.c_str(), &before), 0);
  const auto content = local::readFile(planted);

  const std::vector<std::string> window{"list", "--from", "2025-01-01T00:00:00Z", "--to",
                                        "2026-01-01T00:00:00Z"};
  for (int pass = 0; pass < 2; ++pass) {  // the first pass builds the index, the second uses it
    const ProcessResult listed = run(window);
    ASSERT_EQ(listed.status, hostile.listStatus) << listed.out;
    if (listed.status == 0) {
      const json events = json::parse(listed.out);
      ASSERT_EQ(events.size(), 1u) << listed.out;
      EXPECT_EQ(events[0]["id"], saved["id"]);
    }
  }
  EXPECT_EQ(run({"status"}).status, 0);
  run({"calendars"});
  if (hostile.planted == kBadId) {
    EXPECT_EQ(run({"get", "--id", kBadId}).status, 4);
    EXPECT_EQ(run({"update", "--input", json{{"id", kBadId}, {"title", "x"}}.dump()}).status, 4);
    EXPECT_EQ(run({"delete", "--id", kBadId}).out, "{\"alreadyGone\":true,\"ok\":true}\n");
  }
  const ProcessResult reindexed = store.admin({"reindex"});
  EXPECT_LT(reindexed.status, 128) << reindexed.err;

  struct stat after;
  ASSERT_EQ(::lstat(planted.c_str(), &after), 0) << "removed";
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_TRUE(local::readFile(planted) == content) << "changed";
}

INSTANTIATE_TEST_SUITE_P(Planted, HostileFiles, ::testing::ValuesIn(kHostile),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tembra
