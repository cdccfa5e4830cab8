// The store's settings file: what folders of iCalendar files cannot say themselves.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tembra::local {

inline constexpr const char* kSettingsFileName = "settings.json";

struct Settings {
  int authorization = 0;     // the authorization code the store reports (0 to 4)
  bool grantsAccess = true;  // the answer to a permission request: grant or deny
  std::optional<std::string> defaultCalendar;
  std::vector<std::string> readOnly;       // calendar identifiers
  std::vector<std::string> calendarOrder;  // calendar identifiers in the order they were added
  // Source folder name to the source's title; a null title groups calendars that have no source.
  std::map<std::string, std::optional<std::string>> sourceTitles;

  bool isReadOnly(const std::string& calendarId) const;
};

// The names of the five authorization states' codes, as the settings file and tembra-store write
// them (stateName).
std::optional<int> authorizationCode(const std::string& name);
std::string authorizationName(int code);

enum class SettingsState { missing, readable, unreadable };

// Reads the settings; a missing or unreadable file gives the defaults and says which it was.
Settings loadSettings(const std::filesystem::path& root, SettingsState* state = nullptr);

// Writes the settings atomically; an error text on failure.
std::optional<std::string> saveSettings(const std::filesystem::path& root,
                                        const Settings& settings);

}  // namespace tembra::local
