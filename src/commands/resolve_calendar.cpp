// The resolve-calendar command: picks one writable calendar for a title the host has.
#include "commands/resolve_calendar.h"

#include <vector>

#include "access/authorization.h"
#include "cli/messages.h"
#include "cli/process.h"
#include "commands/answered.h"
#include "commands/title_match.h"
#include "records/calendar_record.h"

namespace tembra {
namespace {

Json resolution(const Calendar& calendar, bool matched, bool isDefault) {
  Json record = calendarJSON(calendar);
  record["matched"] = matched;
  record["isDefault"] = isDefault;
  return record;
}

// An exact title anywhere in the list beats a case-insensitive one earlier in it; within a pass
// the store's first wins, so duplicates after it are never chosen.
const Calendar* findByTitle(const std::vector<Calendar>& candidates, const std::string& wanted) {
  for (const Calendar& calendar : candidates) {
    if (sameTitle(calendar.title.value_or(""), wanted))
      return &calendar;
  }
  const std::optional<std::string> loweredWanted = lowerCaseTitle(wanted);
  if (!loweredWanted)
    return nullptr;
  for (const Calendar& calendar : candidates) {
    const std::optional<std::string> trimmed = trimTitle(calendar.title.value_or(""));
    const std::optional<std::string> lowered = trimmed ? lowerCaseTitle(*trimmed) : std::nullopt;
    if (lowered && sameTitle(*lowered, *loweredWanted))
      return &calendar;
  }
  return nullptr;
}

// The calendar named by the title among the writable ones, else the default calendar for new
// events; fails with status 3 when the fallback finds no default calendar.
Json resolveCalendar(Process& process, const std::optional<std::string>& title) {
  const std::optional<std::string> wanted = trimTitle(title.value_or(""));
  // A title that is not UTF-8 has no trimmed form. It still counts as a title asked for, so it
  // falls back with "matched" false instead of passing for no title at all.
  const bool asked = !wanted || !wanted->empty();

  std::vector<Calendar> candidates =
      answered(process.output, process.store->calendars(EntityType::event));
  std::erase_if(candidates,
                [](const Calendar& calendar) { return !calendar.allowsContentModifications; });
  if (wanted && asked) {
    if (const Calendar* found = findByTitle(candidates, *wanted))
      return resolution(*found, true, false);
  }

  // Never the first writable calendar instead: the host asked for the store's own choice.
  const std::optional<Calendar> fallback =
      answered(process.output, process.store->defaultCalendarForNewEvents());
  if (!fallback)
    fail(process.output, messages::kNoCalendarToResolve, kExitNoCalendar);
  return resolution(*fallback, !asked, true);
}

}  // namespace

void runResolveCalendar(Process& process) {
  requireAccess(process);
  emit(process.output, resolveCalendar(process, argValue(process.args, "--title")));
}

}  // namespace tembra
