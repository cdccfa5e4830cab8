// Start-up and the command table.
#include "cli/entry/entry.h"

#include <algorithm>
#include <array>

#include "access/authorization_state.h"
#include "access/status_command.h"
#include "cli/messages.h"
#include "cli/process.h"
#include "commands/calendars.h"
#include "commands/create.h"
#include "commands/default_calendar.h"
#include "commands/delete.h"
#include "commands/get.h"
#include "commands/list.h"
#include "commands/resolve_calendar.h"
#include "commands/update.h"
#include "records/utf8.h"

namespace tembra {
namespace {

constexpr std::array<CommandRow, 9> kCommands = {{
    {"status", runStatus},
    {"calendars", runCalendars},
    {"default-calendar", runDefaultCalendar},
    {"resolve-calendar", runResolveCalendar},
    {"list", runList},
    {"get", runGet},
    {"create", runCreate},
    {"update", runUpdate},
    {"delete", runDelete},
}};

consteval bool wordsAreDistinct() {
  for (std::size_t i = 0; i < kCommands.size(); ++i) {
    for (std::size_t j = i + 1; j < kCommands.size(); ++j) {
      if (kCommands[i].word == kCommands[j].word)
        return false;
    }
  }
  return true;
}
static_assert(wordsAreDistinct(), "each command word selects one body");

// The row the command word names; the usage error without one, the unknown-command error for a
// word that is none of them.
const CommandRow& commandNamed(const std::vector<std::string>& args, Output& output) {
  if (args.size() < 2)
    fail(output, messages::kUsage, kExitUsage);
  const std::string& word = args[1];
  const auto row = std::find_if(kCommands.begin(), kCommands.end(),
                                [&](const CommandRow& row) { return row.word == word; });
  if (row == kCommands.end()) {
    // A word that is not UTF-8 is echoed repaired, so that the run still ends with status 64.
    fail(output, std::string(messages::kUnknownCommand) + repairUtf8(word), kExitUsage);
  }
  return *row;
}

}  // namespace

int runTembra(std::vector<std::string> args, Output& output, const StoreFactory& makeStore) {
  Process process{
      .formatters = Formatters{},
      .store = makeStore(),
      .args = std::move(args),
      .command = {},
      .output = output,
  };
  const CommandRow& row = commandNamed(process.args, output);
  process.command = process.args[1];
  row.run(process);
  return kExitSuccess;
}

int runWithoutStore(const std::vector<std::string>& args, Output& output, std::string_view problem,
                    int code) {
  const CommandRow& row = commandNamed(args, output);
  if (row.run != runStatus)
    fail(output, problem, code);
  emit(output, statusRecord(kNoStateCode));
  return kExitSuccess;
}

}  // namespace tembra
