// Reaching EDS's source registry on the session bus within a deadline: whether it answers, and the
// registry with its sources read. Neither waits past its deadline, whatever the bus does.
#pragma once

#include <libedataserver/libedataserver.h>

#include "access/eds/budget.h"
#include "access/eds/glib_handles.h"

namespace tembra::eds {

// True when the session bus answers and so does the source registry on it (the bus starting it
// when it can be started) before the deadline. False without a session bus, on a bus where
// nothing owns the registry's name and nothing can start it, and when either stays silent.
bool registryAnswers(Clock::time_point deadline);

// The registry with every source read; none when that is not done by the deadline.
Ref<ESourceRegistry> openRegistry(Clock::time_point deadline);

}  // namespace tembra::eds
