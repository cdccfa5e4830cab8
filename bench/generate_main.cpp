// tembra-generate: makes a realistic local store for benchmarks.
#include <cstdlib>
#include <iostream>

#include "support/store_generator.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: tembra-generate DIR EVENTS [SEED]\n";
    return 2;
  }
  const std::size_t events = std::strtoull(argv[2], nullptr, 10);
  const std::uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1;
  try {
    const auto store = tembra::testing::generateStore(argv[1], events, seed);
    std::cout << store.events << " events (" << store.repeating << " repeating) in "
              << store.calendarIds.size() << " calendars\n";
  } catch (const std::exception& error) {
    std::cerr << "tembra-generate: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
