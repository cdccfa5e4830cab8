// Writes of many files at once: every file new after a commit, every one as it was otherwise, and
// no temporary file left either way.
#include "access/local/files.h"

#include <sys/stat.h>

#include <fstream>
#include <map>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/black_box.h"

namespace tembra::local {
namespace {

TEST(FolderWrite, CommitsEveryFileOrLeavesEveryOneAsItWas) {
  struct Case {
    const char* name;
    bool commit;
  };
  for (const Case c : {Case{"committed", true}, Case{"abandoned", false}}) {
    SCOPED_TRACE(c.name);
    testing::TempStore folder;
    const std::filesystem::path dir = folder.path();
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "old.ics") << "old";
    {
      FolderWrite write(dir);
      ASSERT_FALSE(write.add("old.ics", "replaced"));
      ASSERT_FALSE(write.add("new.ics", "added"));
      if (c.commit) {
        ASSERT_FALSE(write.commit());
      }
    }
    EXPECT_EQ(readFile(dir / "old.ics"), c.commit ? "replaced" : "old");
    EXPECT_EQ(readFile(dir / "new.ics"),
              c.commit ? std::optional<std::string>("added") : std::nullopt);
    for (const FolderEntry& entry : folderEntries(dir))
      EXPECT_FALSE(isTemporaryName(entry.name)) << entry.name;
  }
}

mode_t modeOf(const std::filesystem::path& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Under the usual umask a store was readable by every user, and a mode a user chose for a file was
// widened again by the next write.
TEST(StorePermissions, FilesAreAsPrivateAsTheirFoldersAndKeepTheirOwnModes) {
  const mode_t umask = ::umask(022);
  testing::TempStore store;
  store.adminOk({"set-access", "fullAccess"});
  const auto created = store.tembra({"create", "--input", R"({"start":"2024-05-01T09:00:00Z"})"});
  ASSERT_EQ(created.status, 0) << created.out;
  store.tembra({"list", "--from", "2024-05-01T00:00:00Z", "--to", "2024-05-02T00:00:00Z"});
  const std::filesystem::path root = store.path();
  std::map<std::string, mode_t> modes;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
    modes[std::filesystem::relative(entry.path(), root).string()] = modeOf(entry.path());
  EXPECT_EQ(modeOf(root), 0700u);
  for (const auto& [path, mode] : modes) {
    const bool folder = std::filesystem::is_directory(root / path);
    EXPECT_EQ(mode, folder ? 0700u : 0600u) << path;
  }
  EXPECT_TRUE(modes.count("settings.json") && modes.count(".lock") &&
              modes.count("local/calendar"));

  // A file rewritten keeps the mode and group it has; settings rewritten keep theirs.
  const std::string id = nlohmann::json::parse(created.out)["id"];
  const std::filesystem::path event = root / id;
  ASSERT_EQ(::chmod(event.c_str(), 0640), 0);
  ASSERT_EQ(::chown(event.c_str(), static_cast<uid_t>(-1), 12), 0);
  ASSERT_EQ(
      store.tembra({"update", "--input", nlohmann::json{{"id", id}, {"title", "x"}}.dump()}).status,
      0);
  struct stat info;
  ASSERT_EQ(::lstat(event.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(info.st_gid, 12u);
  ASSERT_EQ(::chmod((root / "settings.json").c_str(), 0644), 0);
  store.adminOk({"set-answer", "deny"});
  EXPECT_EQ(modeOf(root / "settings.json"), 0644u);

  // In a folder open to others, as another tool made it, new files are readable by them too.
  ASSERT_EQ(::chmod((root / "local/calendar").c_str(), 0755), 0);
  const auto shared = store.tembra({"create", "--input", R"({"start":"2024-05-02T09:00:00Z"})"});
  EXPECT_EQ(modeOf(root / nlohmann::json::parse(shared.out)["id"].get<std::string>()), 0644u);
  ::umask(umask);
}

TEST(FolderWrite, AFolderThatIsNotThereIsAnError) {
  testing::TempStore folder;
  FolderWrite write(folder.path() / "missing");
  const auto error = write.add("a.ics", "text");
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("missing"), std::string::npos) << *error;
}

}  // namespace
}  // namespace tembra::local
