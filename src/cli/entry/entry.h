// The program's entry point: start-up in its fixed order, then the one command the arguments
// name.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "access/calendar_store.h"
#include "cli/output.h"

namespace tembra {

struct Process;

// A command word and the body it runs.
struct CommandRow {
  std::string_view word;
  void (*run)(Process&);
};

using StoreFactory = std::function<std::unique_ptr<CalendarStore>()>;

// Creates the formatters, then the store, then copies the arguments; runs the command they name
// and returns 0 when its body returns. Every refusal ends the run through output.exit.
int runTembra(std::vector<std::string> args, Output& output, const StoreFactory& makeStore);

// For a run configured for a store it cannot serve: the command word is checked as always; then
// `status` reports "unknown" without access, and every other command ends with `problem` and
// `code` (64 for a back-end that does not exist, 1 for a store that cannot be found).
int runWithoutStore(const std::vector<std::string>& args, Output& output, std::string_view problem,
                    int code);

}  // namespace tembra
