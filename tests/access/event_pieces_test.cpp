// Reading a long window in pieces: which pieces are read, where they begin and end, and that an
// event found by two neighbouring pieces is listed once.
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

constexpr double kFirst = kFirstReadInstant.seconds;
constexpr double kEnd = kEndOfReading.seconds;

TEST(WindowPieces, CutTheReadYearsOfTheWindowIntoContiguousPiecesNoLongerThanAllowed) {
  struct Case {
    const char* name;
    double start, end;
    std::vector<std::pair<double, double>> pieces;
  };
  const Case cases[] = {
      {"shorter than a piece", 0, 5 * kDay, {{0, 5 * kDay}}},
      {"exactly one piece", 0, 10 * kDay, {{0, 10 * kDay}}},
      {"empty", 3 * kDay, 3 * kDay, {{3 * kDay, 3 * kDay}}},
      {"end before start", 3 * kDay, 1 * kDay, {}},
      {"two and a half pieces",
       1 * kDay,
       26 * kDay,
       {{1 * kDay, 11 * kDay}, {11 * kDay, 21 * kDay}, {21 * kDay, 26 * kDay}}},
      {"wholly before year 1", kFirst - 20 * kDay, kFirst - kDay, {}},
      {"ending where year 1 begins", kFirst - 5 * kDay, kFirst, {}},
      {"across the start of year 1",
       kFirst - 5 * kDay,
       kFirst + 3 * kDay,
       {{kFirst, kFirst + 3 * kDay}}},
      {"across the end of 9999", kEnd - 3 * kDay, kEnd + 5 * kDay, {{kEnd - 3 * kDay, kEnd}}},
      {"wholly after 9999", kEnd + kDay, kEnd + 5 * kDay, {}},
      {"empty, after 9999", kEnd + kDay, kEnd + kDay, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::pair<double, double>> pieces;
    for (const auto& [from, to] : windowPieces(Instant{c.start}, Instant{c.end}, 10 * kDay))
      pieces.emplace_back(from.seconds, to.seconds);
    EXPECT_EQ(pieces, c.pieces) << c.name;
  }
}

// The widest window a request can give, -49999-01-01 to +49999-12-31, in the framework's pieces.
TEST(WindowPieces, ReadTheWidestWindowInAFewThousandQueries) {
  const std::vector<WindowPiece> pieces =
      windowPieces(Instant{-1'639'983'283'200}, Instant{1'515'680'380'799}, 4 * 365 * kDay);
  ASSERT_EQ(pieces.size(), 2502u);
  EXPECT_EQ(pieces.front().first, kFirstReadInstant);
  EXPECT_EQ(pieces.back().second, kEndOfReading);
  for (std::size_t i = 1; i < pieces.size(); ++i)
    ASSERT_EQ(pieces[i].first, pieces[i - 1].second) << i;
}

TEST(ReadByWindows, KeepsOnlyEventsThatAWindowShows) {
  struct Case {
    const char* name;
    double start, end;
    bool read;
  };
  const Case cases[] = {
      {"today", 0, kDay, true},
      {"the first day of year 1", kFirst, kFirst + kDay, true},
      {"the last day of 9999", kEnd - kDay, kEnd, true},
      {"starting before year 1", kFirst - 1, kFirst + kDay, false},
      {"ending after 9999", kEnd - kDay, kEnd + 1, false},
      {"starting where 9999 ends", kEnd, kEnd, false},
      {"year 40000", 1.2e12, 1.2e12 + kDay, false},
  };
  for (const Case& c : cases) {
    Event value = event("e", 0, 0);
    value.startDate = Instant{c.start};
    value.endDate = Instant{c.end};
    EXPECT_EQ(readByWindows(value), c.read) << c.name;
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
      eventsInPieces(windowPieces(Instant{0}, Instant{30 * kDay}, 10 * kDay), std::ref(store));
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
  const std::vector<Event> events =
      eventsInPieces(windowPieces(Instant{0}, Instant{20 * kDay}, 10 * kDay),
                     [&](Instant, Instant) { return answers[next++]; });
  EXPECT_EQ(ids(events), (std::vector<std::string>{"b", "a", "b", "c"}));
}

}  // namespace
}  // namespace tembra
