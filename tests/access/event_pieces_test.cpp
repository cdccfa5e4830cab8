// Reading a long window in pieces: where the pieces begin and end, and that an event found by two
// neighbouring pieces is listed once.
#include "access/event_pieces.h"

#include <gtest/gtest.h>

namespace tembra {
namespace {

constexpr double kDay = 86400;

// A store that holds a few events and records the windows it was asked for; it returns every
// event that overlaps a window, in the order it holds them.
struct PieceStore {
  std::vector<Event> held;
  std::vector<std::pair<double, double>> asked;

  std::vector<Event> operator()(Instant from, Instant to) {
    asked.emplace_back(from.seconds, to.seconds);
    std::vector<Event> found;
    for (const Event& event : held) {
      if (event.startDate->seconds <= to.seconds && event.endDate->seconds >= from.seconds)
        found.push_back(event);
    }
    return found;
  }
};

Event event(const std::string& id, double startDay, double endDay) {
  Event value;
  value.eventIdentifier = id;
  value.startDate = Instant{startDay * kDay};
  value.endDate = Instant{endDay * kDay};
  return value;
}

std::vector<std::string> ids(const std::vector<Event>& events) {
  std::vector<std::string> values;
  for (const Event& e : events)
    values.push_back(*e.eventIdentifier);
  return values;
}

TEST(EventsInPieces, CutsTheWindowIntoContiguousPiecesNoLongerThanAllowed) {
  struct Case {
    const char* name;
    double start, end;
    std::vector<std::pair<double, double>> pieces;
  };
  const Case cases[] = {
      {"shorter than a piece", 0, 5 * kDay, {{0, 5 * kDay}}},
      {"exactly one piece", 0, 10 * kDay, {{0, 10 * kDay}}},
      {"empty", 3 * kDay, 3 * kDay, {{3 * kDay, 3 * kDay}}},
      {"end before start", 3 * kDay, 1 * kDay, {{3 * kDay, 1 * kDay}}},
      {"two and a half pieces",
       1 * kDay,
       26 * kDay,
       {{1 * kDay, 11 * kDay}, {11 * kDay, 21 * kDay}, {21 * kDay, 26 * kDay}}},
  };
  for (const Case& c : cases) {
    PieceStore store;
    eventsInPieces(Instant{c.start}, Instant{c.end}, 10 * kDay, std::ref(store));
    EXPECT_EQ(store.asked, c.pieces) << c.name;
  }
}

TEST(EventsInPieces, ListsAnEventFoundByNeighbouringPiecesOnce) {
  PieceStore store;
  store.held = {
      event("before-border", 2, 3),
      event("across-first-border", 9, 12),
      event("across-two-borders", 5, 25),
      // Two occurrences of one series: the same identifier with other starts are other events.
      event("series", 10, 10.5),
      event("series", 17, 17.5),
      event("after-border", 22, 23),
  };
  const std::vector<Event> events =
      eventsInPieces(Instant{0}, Instant{30 * kDay}, 10 * kDay, std::ref(store));
  EXPECT_EQ(store.asked.size(), 3u);
  EXPECT_EQ(ids(events),
            (std::vector<std::string>{"before-border", "across-first-border", "across-two-borders",
                                      "series", "series", "after-border"}));
}

TEST(EventsInPieces, KeepsEachPiecesOwnOrderAndRepeats) {
  // What one piece returns twice is the store's own answer and is kept; only the neighbour's
  // findings are left out.
  std::vector<std::vector<Event>> answers = {
      {event("b", 1, 2), event("a", 0, 1), event("b", 1, 2)},
      {event("c", 12, 13), event("a", 0, 1)},
  };
  std::size_t next = 0;
  const std::vector<Event> events = eventsInPieces(
      Instant{0}, Instant{20 * kDay}, 10 * kDay, [&](Instant, Instant) { return answers[next++]; });
  EXPECT_EQ(ids(events), (std::vector<std::string>{"b", "a", "b", "c"}));
}

}  // namespace
}  // namespace tembra
