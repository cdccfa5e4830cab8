// Reading and writing the settings file.
#include "access/local/settings.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "access/authorization_state.h"
#include "access/local/files.h"

namespace tembra::local {
namespace {

using nlohmann::json;

std::vector<std::string> stringList(const json& value) {
  std::vector<std::string> list;
  if (!value.is_array())
    return list;
  for (const json& element : value) {
    if (element.is_string())
      list.push_back(element.get<std::string>());
  }
  return list;
}

}  // namespace

bool Settings::isReadOnly(const std::string& calendarId) const {
  return std::find(readOnly.begin(), readOnly.end(), calendarId) != readOnly.end();
}

std::optional<int> authorizationCode(const std::string& name) {
  for (int code = 0; const std::optional<AuthorizationState> state = authorizationState(code);
       ++code) {
    if (name == stateName(*state))
      return code;
  }
  return std::nullopt;
}

std::string authorizationName(int code) {
  return std::string(
      stateName(authorizationState(code).value_or(AuthorizationState::notDetermined)));
}

Settings loadSettings(const std::filesystem::path& root, SettingsState* state) {
  Settings settings;
  const std::optional<std::string> text = readFile(root / kSettingsFileName);
  if (!text) {
    if (state)
      *state =
          isPresent(root / kSettingsFileName) ? SettingsState::unreadable : SettingsState::missing;
    return settings;
  }
  const json document = json::parse(*text, nullptr, false);
  if (!document.is_object()) {
    if (state)
      *state = SettingsState::unreadable;
    return settings;
  }
  if (state)
    *state = SettingsState::readable;
  if (auto it = document.find("authorization"); it != document.end() && it->is_string()) {
    settings.authorization = authorizationCode(it->get<std::string>()).value_or(0);
  }
  if (auto it = document.find("answer"); it != document.end() && it->is_string()) {
    settings.grantsAccess = it->get<std::string>() != "deny";
  }
  if (auto it = document.find("defaultCalendar"); it != document.end() && it->is_string()) {
    settings.defaultCalendar = it->get<std::string>();
  }
  if (auto it = document.find("readOnly"); it != document.end()) {
    settings.readOnly = stringList(*it);
  }
  if (auto it = document.find("calendars"); it != document.end()) {
    settings.calendarOrder = stringList(*it);
  }
  if (auto it = document.find("sources"); it != document.end() && it->is_object()) {
    for (const auto& [folder, title] : it->items()) {
      if (title.is_string()) {
        settings.sourceTitles[folder] = title.get<std::string>();
      } else if (title.is_null()) {
        settings.sourceTitles[folder] = std::nullopt;
      }
    }
  }
  return settings;
}

std::optional<std::string> saveSettings(const std::filesystem::path& root,
                                        const Settings& settings) {
  json sources = json::object();
  for (const auto& [folder, title] : settings.sourceTitles) {
    sources[folder] = title ? json(*title) : json(nullptr);
  }
  const json document = {
      {"authorization", authorizationName(settings.authorization)},
      {"answer", settings.grantsAccess ? "grant" : "deny"},
      {"defaultCalendar",
       settings.defaultCalendar ? json(*settings.defaultCalendar) : json(nullptr)},
      {"readOnly", settings.readOnly},
      {"calendars", settings.calendarOrder},
      {"sources", sources},
  };
  try {
    return writeFileAtomically(root, kSettingsFileName, document.dump(2) + "\n");
  } catch (const json::exception&) {
    return "the settings hold text that is not UTF-8";
  }
}

}  // namespace tembra::local
