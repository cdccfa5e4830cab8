// Reading the machine's time-zone setting.
#include "access/zone_setting.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace tembra {
namespace {

// Names of UTC in the system's data, once links are followed.
constexpr std::string_view kUtcNames[] = {
    "UTC",      "UCT",     "Universal", "Zulu",      "GMT",       "GMT0",
    "GMT+0",    "GMT-0",   "Greenwich", "Etc/UTC",   "Etc/UCT",   "Etc/Universal",
    "Etc/Zulu", "Etc/GMT", "Etc/GMT0",  "Etc/GMT+0", "Etc/GMT-0", "Etc/Greenwich",
};

ZoneSetting utc() {
  return ZoneSetting{ZoneSetting::Kind::utc, {}, std::nullopt, "UTC"};
}

// The bytes of a TZif file; none for anything else. Links are followed, as the C library does.
std::optional<std::string> tzifBytes(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error))
    return std::nullopt;
  std::ifstream file(path, std::ios::binary);
  if (!file.is_open())
    return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (!bytes.starts_with("TZif"))
    return std::nullopt;
  return bytes;
}

// FNV-1a, as a name for a file's bytes; not for secrets.
std::string digest(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const unsigned char byte : bytes) {
    hash ^= byte;
    hash *= 1099511628211ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

// The zone a TZif file is: one of the zone folder's (through links), or a file of its own.
ZoneSetting fromFile(const std::string& path, const std::string& bytes) {
  std::error_code error;
  const std::filesystem::path real = std::filesystem::canonical(path, error);
  std::error_code folderError;
  const std::string folder = std::filesystem::canonical(kZoneFolder, folderError).string() + "/";
  if (!error && !folderError && real.string().starts_with(folder)) {
    const std::string name = real.string().substr(folder.size());
    if (std::find(std::begin(kUtcNames), std::end(kUtcNames), name) != std::end(kUtcNames))
      return utc();
    return ZoneSetting{ZoneSetting::Kind::named, name, std::nullopt, name};
  }
  return ZoneSetting{ZoneSetting::Kind::file, path, std::nullopt, "file-" + digest(bytes)};
}

// The system's setting: /etc/localtime, or the zone /etc/timezone names when /etc/localtime is
// a copy of that zone's file (as some systems make it) or missing.
ZoneSetting systemSetting() {
  std::string named;
  std::ifstream("/etc/timezone") >> named;
  const std::string namedPath = std::string(kZoneFolder) + named;
  const auto namedBytes =
      named.empty() || named.find("..") != std::string::npos ? std::nullopt : tzifBytes(namedPath);
  if (const auto bytes = tzifBytes("/etc/localtime")) {
    ZoneSetting setting = fromFile("/etc/localtime", *bytes);
    if (setting.kind == ZoneSetting::Kind::file && namedBytes == bytes)
      return fromFile(namedPath, *namedBytes);
    return setting;
  }
  return namedBytes ? fromFile(namedPath, *namedBytes) : utc();
}

}  // namespace

ZoneSetting zoneSettingOf(std::optional<std::string_view> tz) {
  if (!tz)
    return systemSetting();
  std::string_view value = *tz;
  if (!value.empty() && value.front() == ':')
    value.remove_prefix(1);
  if (value.empty())
    return utc();
  // A relative name stays inside the zone folder.
  const bool absolute = value.front() == '/';
  if (absolute || value.find("..") == std::string_view::npos) {
    const std::string path = absolute ? std::string(value) : std::string(kZoneFolder) += value;
    if (const auto bytes = tzifBytes(path))
      return fromFile(path, *bytes);
  }
  if (const auto rule = PosixZone::parse(value)) {
    const std::string canonical = rule->canonical();
    if (canonical == "UTC")
      return utc();
    return ZoneSetting{ZoneSetting::Kind::posix, {}, rule, "rule-" + canonical};
  }
  return utc();
}

ZoneSetting zoneSetting() {
  const char* tz = std::getenv("TZ");
  return zoneSettingOf(tz ? std::optional<std::string_view>(tz) : std::nullopt);
}

}  // namespace tembra
