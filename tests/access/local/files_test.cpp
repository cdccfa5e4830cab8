// Writes of many files at once: every file new after a commit, every one as it was otherwise, and
// no temporary file left either way.
#include "access/local/files.h"

#include <fstream>

#include <gtest/gtest.h>

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

TEST(FolderWrite, AFolderThatIsNotThereIsAnError) {
  testing::TempStore folder;
  FolderWrite write(folder.path() / "missing");
  const auto error = write.add("a.ics", "text");
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("missing"), std::string::npos) << *error;
}

}  // namespace
}  // namespace tembra::local
