// Several processes writing one store at once lose nothing and leave no half-written file.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "access/local/admin.h"
#include "access/local/event_files.h"
#include "access/local/local_store.h"
#include "support/black_box.h"

namespace tembra::local {
namespace {

constexpr int kProcesses = 8;
constexpr int kEventsEach = 12;

// One writer: creates its events, then changes each one, each change a separate store handle
// as a separate run of tembra would use.
int writer(const std::filesystem::path& root, int number) {
  std::vector<std::string> ids;
  for (int i = 0; i < kEventsEach; ++i) {
    auto store = createLocalStore(root);
    Event event = store->newEvent();
    event.calendar = store->defaultCalendarForNewEvents();
    event.title = "writer " + std::to_string(number) + " event " + std::to_string(i);
    event.startDate = Instant{1714550400.0 + 3600 * i};
    event.endDate = *event.startDate + 1800;
    if (store->saveEvent(event, Span::thisEvent))
      return 1;
    ids.push_back(*event.eventIdentifier);
  }
  for (const std::string& id : ids) {
    auto store = createLocalStore(root);
    auto event = store->eventWithIdentifier(id);
    if (!event)
      return 2;
    event->notes = "updated";
    if (store->saveEvent(*event, Span::thisEvent))
      return 3;
  }
  return 0;
}

TEST(LocalStoreConcurrency, ParallelWritersLoseNothing) {
  testing::TempStore folder;
  // Every writer races to create the store, too.
  std::vector<pid_t> children;
  for (int number = 0; number < kProcesses; ++number) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0)
      ::_exit(writer(folder.path(), number));
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }

  auto store = createLocalStore(folder.path());
  EXPECT_EQ(store->calendars(EntityType::event).size(), 1u);
  const std::vector<Event> events = store->eventsMatching(
      store->predicateForEvents(Instant{1714500000.0}, Instant{1714700000.0}, std::nullopt));
  EXPECT_EQ(events.size(), static_cast<std::size_t>(kProcesses * kEventsEach));
  for (const Event& event : events)
    EXPECT_EQ(event.notes, "updated") << *event.title;

  const std::filesystem::path dir = folder.path() / "local" / "calendar";
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    EXPECT_NE(name.front(), '.') << "a temporary file was left behind: " << name;
    if (entry.path().extension() == ".ics") {
      ++files;
      EXPECT_TRUE(readSeries(entry.path())) << name;
    }
  }
  EXPECT_EQ(files, static_cast<std::size_t>(kProcesses * kEventsEach));
}

}  // namespace
}  // namespace tembra::local
