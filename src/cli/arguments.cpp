// Reading option values from the argument vector.
#include <algorithm>

#include "cli/process.h"

namespace tembra {

std::optional<std::string> argValue(std::span<const std::string> args, std::string_view name) {
  const auto found = std::find(args.begin(), args.end(), name);
  if (found == args.end() || std::next(found) == args.end())
    return std::nullopt;
  return *std::next(found);
}

}  // namespace tembra
