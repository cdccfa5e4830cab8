// The settings file, and its description in docs/store.md.
#include "access/local/settings.h"

#include <fstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "access/local/files.h"
#include "support/black_box.h"

namespace tembra::local {
namespace {

// The first ```json block of the documentation's settings section.
std::string documentedSettings() {
  const std::string doc = *readFile(std::filesystem::path(TEMBRA_SOURCE_DIR) / "docs" / "store.md");
  const auto section = doc.find("## The settings file");
  const auto begin = doc.find("```json\n", section);
  const auto end = doc.find("```", begin + 8);
  return doc.substr(begin + 8, end - begin - 8);
}

TEST(SettingsDocumentation, TheExampleReadsAsDocumented) {
  testing::TempStore folder;
  std::filesystem::create_directories(folder.path());
  std::ofstream(folder.path() / kSettingsFileName) << documentedSettings();
  SettingsState state;
  const Settings settings = loadSettings(folder.path(), &state);
  EXPECT_EQ(state, SettingsState::readable);
  EXPECT_EQ(settings.authorization, 3);
  EXPECT_TRUE(settings.grantsAccess);
  EXPECT_EQ(settings.defaultCalendar, "local/calendar");
  EXPECT_EQ(settings.calendarOrder, (std::vector<std::string>{"local/calendar", "acme/work"}));
  EXPECT_TRUE(settings.isReadOnly("acme/holidays"));
  EXPECT_EQ(settings.sourceTitles.at("acme"), "Acme");
  EXPECT_FALSE(settings.sourceTitles.at("no-source"));
}

TEST(SettingsDocumentation, TheExampleHasExactlyTheKeysTheStoreWrites) {
  testing::TempStore folder;
  std::filesystem::create_directories(folder.path());
  ASSERT_FALSE(saveSettings(folder.path(), Settings{}));
  const auto written = nlohmann::json::parse(*readFile(folder.path() / kSettingsFileName));
  const auto documented = nlohmann::json::parse(documentedSettings());
  std::vector<std::string> writtenKeys, documentedKeys;
  for (const auto& item : written.items())
    writtenKeys.push_back(item.key());
  for (const auto& item : documented.items())
    documentedKeys.push_back(item.key());
  EXPECT_EQ(writtenKeys, documentedKeys);
}

TEST(Settings, AnUnreadableFileGivesTheDefaultsAndSaysSo) {
  testing::TempStore folder;
  std::filesystem::create_directories(folder.path());
  SettingsState state;
  loadSettings(folder.path(), &state);
  EXPECT_EQ(state, SettingsState::missing);
  std::ofstream(folder.path() / kSettingsFileName) << "{not json";
  const Settings settings = loadSettings(folder.path(), &state);
  EXPECT_EQ(state, SettingsState::unreadable);
  EXPECT_EQ(settings.authorization, 0);
  EXPECT_FALSE(settings.defaultCalendar);
}

}  // namespace
}  // namespace tembra::local
