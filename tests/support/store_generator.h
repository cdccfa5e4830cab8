// Generates realistic local stores for tests and benchmarks: timed and all-day events over some
// years, half of them in a named time zone with its VTIMEZONE, some with alarms, and about one in
// ten repeating, with EXDATEs and overrides, with or without an end.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tembra::testing {

struct GeneratedStore {
  std::vector<std::string> calendarIds;
  std::size_t events = 0;
  std::size_t repeating = 0;
};

// Makes a store at root (which must not exist yet) with `events` event files spread over
// `calendars` calendars (one to three), starting 2024-01-01 and spanning `years`. The same seed
// gives the same store.
GeneratedStore generateStore(const std::filesystem::path& root, std::size_t events,
                             std::uint64_t seed, int years = 3, std::size_t calendars = 3);

// The text of one generated event file (for tests that add files as another tool would).
std::string generatedEventText(std::uint64_t seed, std::size_t number, int years = 3);

// One iCalendar text holding the events numbered 0 to `events` - 1, as an export of a whole
// calendar would: every VTIMEZONE once, before all the events.
std::string generatedCalendarText(std::uint64_t seed, std::size_t events, int years = 3);

}  // namespace tembra::testing
