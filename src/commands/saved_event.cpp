// The saved-event summary.
#include "commands/saved_event.h"

#include <chrono>

#include "records/dates.h"

namespace tembra {

Instant currentInstant() {
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  return Instant{std::chrono::duration<double>(sinceEpoch).count()};
}

Json savedEventSummary(const Event& event, const CalendarRef& calendar) {
  Json summary = Json::object();
  summary["id"] = event.eventIdentifier.value_or("");
  summary["calendarId"] = calendar ? calendar->calendarIdentifier : "";
  summary["calendarTitle"] = calendar ? calendar->title.value_or("") : "";
  summary["lastModified"] = epochMillis(event.lastModifiedDate.value_or(currentInstant()));
  return summary;
}

}  // namespace tembra
