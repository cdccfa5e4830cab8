// tembra-generate: makes a realistic local store for benchmarks, or one iCalendar file holding the
// same events, for imports.
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>

#include "support/store_generator.h"

int main(int argc, char** argv) {
  const bool file = argc > 1 && std::string(argv[1]) == "--ics";
  const int at = file ? 2 : 1;
  if (argc < at + 2) {
    std::cerr << "usage: tembra-generate DIR EVENTS [SEED [CALENDARS]]\n"
                 "       tembra-generate --ics FILE EVENTS [SEED]\n";
    return 2;
  }
  const std::size_t events = std::strtoull(argv[at + 1], nullptr, 10);
  const std::uint64_t seed = argc > at + 2 ? std::strtoull(argv[at + 2], nullptr, 10) : 1;
  try {
    if (file) {
      std::ofstream out(argv[at], std::ios::binary);
      out << tembra::testing::generatedCalendarText(seed, events);
      if (!out.flush())
        throw std::runtime_error(std::string("cannot write ") + argv[at]);
      std::cout << events << " events in " << argv[at] << "\n";
      return 0;
    }
    const std::size_t calendars = argc > at + 3 ? std::strtoull(argv[at + 3], nullptr, 10) : 3;
    const auto store = tembra::testing::generateStore(argv[at], events, seed, 3, calendars);
    std::cout << store.events << " events (" << store.repeating << " repeating) in "
              << store.calendarIds.size() << " calendars\n";
  } catch (const std::exception& error) {
    std::cerr << "tembra-generate: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
