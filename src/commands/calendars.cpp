// The calendars command.
#include "commands/calendars.h"

#include "access/authorization.h"
#include "cli/process.h"
#include "commands/answered.h"
#include "records/calendar_record.h"

namespace tembra {

void runCalendars(Process& process) {
  requireAccess(process);
  // The store's order is kept and equal titles are all listed: the host tells them apart by id.
  Json records = Json::array();
  for (const Calendar& calendar :
       answered(process.output, process.store->calendars(EntityType::event))) {
    if (calendar.allowsContentModifications)
      records.push_back(calendarJSON(calendar));
  }
  emit(process.output, records);
}

}  // namespace tembra
