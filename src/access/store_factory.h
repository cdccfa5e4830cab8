// Where the program's calendar store comes from: the system's calendar store where the platform
// has one, the local store of iCalendar folders everywhere else.
#pragma once

#include <memory>

#include "access/calendar_store.h"

namespace tembra {

// Creating the handle asks the user nothing and touches nothing yet.
std::unique_ptr<CalendarStore> createSystemStore();

}  // namespace tembra
