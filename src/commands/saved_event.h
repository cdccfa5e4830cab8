// The saved-event summary that create and update print after a save.
#pragma once

#include <optional>

#include "access/calendar_store.h"
#include "cli/output.h"

namespace tembra {

// The current time, for a saved event whose store reports no modification time.
Instant currentInstant();

// Exactly "id" (empty when the store reports none), "calendarId" and "calendarTitle" of the given
// calendar (both empty when there is none), and "lastModified": the event's modification time, or
// the current time when the store reports none, as integer epoch milliseconds.
Json savedEventSummary(const Event& event, const CalendarRef& calendar);

}  // namespace tembra
