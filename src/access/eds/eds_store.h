// The calendar store of the GNOME desktop: Evolution Data Server's calendars, as GNOME Calendar,
// Evolution and GNOME Online Accounts share them, behind the store interface.
#pragma once

#include <memory>

#include "access/calendar_store.h"

namespace tembra::eds {

// A store over the session bus's EDS. Nothing is touched until the first operation: then the
// source registry is reached (once; when it cannot be, access reads as restricted), and each
// calendar is connected when an operation first needs it, once per run.
std::unique_ptr<CalendarStore> createEdsStore();

}  // namespace tembra::eds
