// Reads of one EDS calendar's components through its client, within the run's budget (its
// cancellable). A read that fails finds nothing and keeps why in `failure`: the first failure
// only, and none that says only that nothing is there.
#pragma once

#include <libecal/libecal.h>

#include <optional>
#include <string>
#include <vector>

#include "access/eds/glib_handles.h"
#include "access/eds/series.h"

namespace tembra::eds {

// The components of one UID, the master and its detached instances, as the calendar holds them
// now: an exact look-up in the calendar's table of UIDs. A query by UID would be evaluated against
// every component of the calendar, and match regardless of case.
std::vector<Ref<ICalComponent>> componentsOf(ECalClient* client, const std::string& uid,
                                             GCancellable* cancellable,
                                             std::optional<std::string>& failure);

// The series with occurrences in [from, to), in the order the calendar returns them. The
// time-range query finds them, but after a change to one occurrence the file back-end's index of
// time ranges no longer returns its detached instances (until the calendar factory restarts), so
// what repeats is read again by UID.
std::vector<Series> seriesInWindow(ECalClient* client, const Zones& zones, Instant from, Instant to,
                                   GCancellable* cancellable, std::optional<std::string>& failure);

}  // namespace tembra::eds
