// Reading a long window from a store that reads only a limited span of time per query.
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "access/calendar_store.h"

namespace tembra {

// A piece of a window: from, to.
using WindowPiece = std::pair<Instant, Instant>;

// The times a window is read in: years 1 to 9999 (UTC), those that iCalendar text, and so every
// calendar account the system syncs, can hold. Reading a window of ±49,999 years otherwise costs
// 25,000 queries, nearly all of them of years that hold nothing.
inline constexpr Instant kFirstReadInstant{-62135596800};  // 0001-01-01T00:00:00Z
inline constexpr Instant kEndOfReading{253402300800};      // 10000-01-01T00:00:00Z

// The pieces [start, end] is read in: its part within the times above, cut into consecutive
// pieces none longer than `longest` seconds, the first from that part's start and the last to its
// end. An empty window within those times is one empty piece; a window wholly outside them, or
// that ends before it starts, has none. Ten thousand years in four-year pieces take 2,502.
std::vector<WindowPiece> windowPieces(Instant start, Instant end, double longest);

// Whether every window that holds the event reads it: its start and end lie within the times
// above. A store that reads windows this way keeps no event that no window would show.
bool readByWindows(const Event& event);

// Calls query(from, to) for each piece in order and joins what the pieces return in their order.
// An event that reaches across the border of two pieces is found by both: a piece leaves out what
// the piece before it found (the same identifier with the same start).
template <class Query>
std::vector<Event> eventsInPieces(const std::vector<WindowPiece>& pieces, Query query) {
  using Key = std::pair<std::string, double>;
  std::vector<Event> events;
  std::set<Key> earlier;
  for (const auto& [from, to] : pieces) {
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
  }
  return events;
}

}  // namespace tembra
