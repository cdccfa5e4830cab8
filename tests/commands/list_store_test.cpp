// The list command over a generated local store writes, record for record, what the general JSON
// writer writes for the store's events: the shared record texts, the reused date prefixes and the
// pieces it is written in change no byte.
#include "commands/list.h"

#include <gtest/gtest.h>

#include "access/local/admin.h"
#include "access/local/local_store.h"
#include "cli/entry/entry.h"
#include "records/event_record.h"
#include "support/black_box.h"
#include "support/in_process.h"
#include "support/store_generator.h"

namespace tembra {
namespace {

using local::createLocalStore;
using testing::capture;
using testing::TempStore;

TEST(ListOverStore, WritesWhatTheGeneralWriterWrites) {
  TempStore folder;
  std::filesystem::remove_all(folder.path());
  const auto generated = testing::generateStore(folder.path(), 1500, 7);
  ASSERT_EQ(local::setAuthorization(folder.path(), 3), std::nullopt);
  const Formatters formatters;
  struct Window {
    const char* from;
    const char* to;
    const char* calendar;
  };
  // A month, a year (more than one piece of output), every year of the store, one calendar's
  // year, and an hour that may fall between events.
  const Window windows[] = {
      {"2025-03-01T00:00:00Z", "2025-04-01T00:00:00Z", ""},
      {"2025-01-01T00:00:00Z", "2026-01-01T00:00:00Z", ""},
      {"2020-01-01T00:00:00Z", "2030-01-01T00:00:00Z", ""},
      {"2025-01-01T00:00:00Z", "2026-01-01T00:00:00Z", generated.calendarIds.at(1).c_str()},
      {"2025-06-10T13:00:00.500Z", "2025-06-10T14:00:00Z", ""},
  };
  for (const Window& window : windows) {
    SCOPED_TRACE(std::string(window.from) + " " + window.calendar);
    auto store = createLocalStore(folder.path());
    std::optional<std::vector<Calendar>> calendars;
    if (*window.calendar)
      calendars = std::vector<Calendar>{*store->calendarWithIdentifier(window.calendar).value()};
    JsonWriter expected;
    expected.beginArray();
    for (const Event& event :
         store
             ->eventsMatching(store->predicateForEvents(
                 *parseDate(formatters, window.from), *parseDate(formatters, window.to), calendars))
             .value()) {
      if (!event.isDetached)
        writeEventRecord(expected, formatters, event);
    }
    expected.endArray();
    ASSERT_TRUE(expected.valid());

    const auto listed = capture([&](Output& output) {
      runTembra({"tembra", "list", "--from", window.from, "--to", window.to, "--calendar",
                 window.calendar},
                output, [&] { return createLocalStore(folder.path()); });
    });
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, expected.text() + "\n");
  }
}

}  // namespace
}  // namespace tembra
