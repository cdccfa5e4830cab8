// The process-wide values every command shares, created once at start-up and never replaced.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "access/calendar_store.h"
#include "cli/output.h"
#include "records/dates.h"

namespace tembra {

// Reads the whole of standard input, for input too large for an argument ("--input -"), waiting
// on a descriptor the host made non-blocking; none when it cannot be read or holds more than
// kMaxStandardInput bytes.
std::optional<std::string> readStandardInput();
inline constexpr std::size_t kMaxStandardInput = 64 << 20;

struct Process {
  Formatters formatters;  // isoFormatter, then isoFormatterNoFraction
  std::unique_ptr<CalendarStore> store;
  std::vector<std::string> args;  // element 0 is the program path, element 1 the command word
  std::string command;
  Output& output;
  // Standard input, read only when a command is told to ("--input -").
  std::function<std::optional<std::string>()> readInput = readStandardInput;
};

// The argument after the first one equal to name (whole text, case-sensitive), unchanged; absent
// when name does not occur or is the last argument.
std::optional<std::string> argValue(std::span<const std::string> args, std::string_view name);

}  // namespace tembra
