// Reading a long window from a store that reads only a limited span of time per query.
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "access/calendar_store.h"

namespace tembra {

// Calls query(from, to) for consecutive pieces of [start, end], none longer than `longest`
// seconds, the first from `start` and the last to `end` (one piece when the window is short or
// empty), and joins what the pieces return in their order. An event that reaches across the border
// of two pieces is found by both: a piece leaves out what the piece before it found (the same
// identifier with the same start).
template <class Query>
std::vector<Event> eventsInPieces(Instant start, Instant end, double longest, Query query) {
  using Key = std::pair<std::string, double>;
  std::vector<Event> events;
  std::set<Key> earlier;
  Instant from = start;
  do {
    const Instant to = end.seconds - from.seconds > longest ? from + longest : end;
    std::set<Key> found;
    for (Event& event : query(from, to)) {
      Key key{event.eventIdentifier.value_or(std::string()),
              event.startDate.value_or(Instant{}).seconds};
      const bool repeated = earlier.contains(key);
      found.insert(std::move(key));
      if (!repeated)
        events.push_back(std::move(event));
    }
    earlier = std::move(found);
    from = to;
  } while (from < end);
  return events;
}

}  // namespace tembra
