// The machine's time zone as the C library reads it: $TZ (a zone's name, a TZif file, or a POSIX
// rule), else /etc/localtime.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "access/posix_zone.h"

namespace tembra {

struct ZoneSetting {
  enum class Kind {
    utc,    // UTC, also for a setting that names no zone at all, as the C library reads it
    named,  // a zone of the system's data
    file,   // a TZif file elsewhere
    posix,  // a POSIX rule
  };
  Kind kind = Kind::utc;
  // named: the zone's name in the system's data, links followed ("PRC" is "Asia/Shanghai");
  // file: the file's path.
  std::string name;
  std::optional<PosixZone> posix;
  // One name for each zone, whatever spelling named it, for what is kept per zone: "UTC", the
  // zone's name, "rule-" and the rule, or "file-" and a digest of the file's bytes.
  std::string identity;
};

// The folder of the system's zone data.
inline constexpr std::string_view kZoneFolder = "/usr/share/zoneinfo/";

// The setting of this process: $TZ, else the system's.
ZoneSetting zoneSetting();

// The setting that a value of TZ gives (absent: TZ unset, the system's setting). As the C library
// reads it: empty is UTC; a leading ":" is dropped; a name is looked up as a file, relative to the
// zone folder unless absolute; what is no file is read as a POSIX rule; what is neither is UTC.
ZoneSetting zoneSettingOf(std::optional<std::string_view> tz);

}  // namespace tembra
