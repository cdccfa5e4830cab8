// The default-calendar command.
#include "commands/default_calendar.h"

#include "access/authorization.h"
#include "cli/messages.h"
#include "cli/process.h"
#include "commands/answered.h"
#include "records/calendar_record.h"

namespace tembra {

void runDefaultCalendar(Process& process) {
  requireAccess(process);
  const std::optional<Calendar> calendar =
      answered(process.output, process.store->defaultCalendarForNewEvents());
  if (!calendar)
    fail(process.output, messages::kNoDefaultCalendar, kExitNoCalendar);
  // Reported even when read-only: the record's own flag tells the host, and the result has the
  // shape of a resolve-calendar fallback.
  Json record = calendarJSON(*calendar);
  record["matched"] = true;
  record["isDefault"] = true;
  emit(process.output, record);
}

}  // namespace tembra
