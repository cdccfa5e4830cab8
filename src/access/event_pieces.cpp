// Which pieces of a window are read, and which events every window that holds them reads.
#include "access/event_pieces.h"

#include <algorithm>

namespace tembra {

std::vector<WindowPiece> windowPieces(Instant start, Instant end, double longest) {
  const Instant from = std::max(start, kFirstReadInstant);
  const Instant to = std::min(end, kEndOfReading);
  if (start == end ? from != start || to != end : from >= to)
    return {};
  std::vector<WindowPiece> pieces;
  Instant at = from;
  do {
    const Instant next = to.seconds - at.seconds > longest ? at + longest : to;
    pieces.emplace_back(at, next);
    at = next;
  } while (at < to);
  return pieces;
}

bool readByWindows(const Event& event) {
  const auto within = [](const std::optional<Instant>& at) {
    return !at || (*at >= kFirstReadInstant && *at <= kEndOfReading);
  };
  // An event that starts where the last window ends lies in none.
  return within(event.startDate) && within(event.endDate) &&
         (!event.startDate || *event.startDate < kEndOfReading);
}

}  // namespace tembra
