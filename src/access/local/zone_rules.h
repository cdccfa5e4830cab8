// Offsets from UTC of a time zone over time, read from the system's time-zone data (the TZif files
// under /usr/share/zoneinfo, including the rule that continues them into the future).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "access/posix_zone.h"

namespace tembra::local {

class ZoneRules {
 public:
  virtual ~ZoneRules() = default;

  // Seconds east of UTC in force at the instant (seconds since 1970, UTC).
  virtual int offsetAt(std::int64_t utc) const = 0;

  // The instant of a wall-clock time in this zone (seconds since 1970 as if the wall clock were
  // UTC). A time that occurs twice, when clocks go back, is the first of the two; a time that
  // does not occur, when clocks go forward, is read with the offset in force before the change.
  std::int64_t utcOf(std::int64_t local) const;
};

// The rules of UTC.
const ZoneRules& utcRules();

// The rules of a zone of the system's data by its name ("Europe/Berlin"), loaded once per process;
// null when the name is not a plain zone name or has no readable data.
const ZoneRules* systemZoneRules(const std::string& name);

// Rules from the text of a TZif file; null when it is not one.
std::unique_ptr<ZoneRules> parseTzif(const std::string& data);

// The rules of a POSIX TZ rule.
std::unique_ptr<ZoneRules> posixZoneRules(const PosixZone& rule);

}  // namespace tembra::local
