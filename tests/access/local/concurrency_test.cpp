// Several processes writing one store at once lose nothing and leave no half-written file.
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

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
    event.calendar = store->defaultCalendarForNewEvents().value();
    event.title = "writer " + std::to_string(number) + " event " + std::to_string(i);
    event.startDate = Instant{1714550400.0 + 3600 * i};
    event.endDate = *event.startDate + 1800;
    if (store->saveEvent(event, Span::thisEvent))
      return 1;
    ids.push_back(*event.eventIdentifier);
  }
  for (const std::string& id : ids) {
    auto store = createLocalStore(root);
    auto event = store->eventWithIdentifier(id).value();
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
  EXPECT_EQ(store->calendars(EntityType::event).value().size(), 1u);
  const std::vector<Event> events =
      store
          ->eventsMatching(
              store->predicateForEvents(Instant{1714500000.0}, Instant{1714700000.0}, std::nullopt))
          .value();
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

// Two hosts update one event at once: each fetched it before the other saved. Every request
// keeps what it set; of two that set one field, the later save wins.
TEST(LocalStoreConcurrency, UpdatesOfOneEventAtOnceKeepEveryChange) {
  testing::TempStore folder;
  auto setUp = createLocalStore(folder.path());
  Event created = setUp->newEvent();
  created.calendar = setUp->defaultCalendarForNewEvents().value();
  created.title = "Standup";
  created.startDate = Instant{1714554000};  // 2024-05-01T09:00:00Z
  created.endDate = Instant{1714557600};
  ASSERT_FALSE(setUp->saveEvent(created, Span::thisEvent));
  const std::string id = *created.eventIdentifier;

  struct Request {
    std::function<void(Event&)> set;
  };
  const struct {
    const char* name;
    Request first, second;  // both fetch, then the second saves, then the first
    std::function<void(const Event&)> check;
  } rows[] = {
      {"different_fields",
       {[](Event& e) { e.setTitle("Retro"); }},
       {[](Event& e) { e.setNotes("agenda"); }},
       [](const Event& e) {
         EXPECT_EQ(e.title, "Retro");
         EXPECT_EQ(e.notes, "agenda");
       }},
      {"alarms_and_location",
       {[](Event& e) { e.setAlarms({Alarm::withRelativeOffset(-900)}); }},
       {[](Event& e) { e.setLocation("Room 4"); }},
       [](const Event& e) {
         EXPECT_EQ(e.alarms, std::vector<Alarm>{Alarm::withRelativeOffset(-900)});
         EXPECT_EQ(e.location, "Room 4");
       }},
      {"same_field_later_wins",
       {[](Event& e) { e.setTitle("first"); }},
       {[](Event& e) { e.setTitle("second"); }},
       [](const Event& e) { EXPECT_EQ(e.title, "first"); }},
      // The end is repaired on the event as it stands: the other request moved it earlier.
      {"end_repaired_under_the_lock",
       {[](Event& e) { e.setStartDate(Instant{1714555800}); }},  // 09:30
       {[](Event& e) {
         e.setStartDate(Instant{1714546800});  // 07:00 to 08:00
         e.setEndDate(Instant{1714550400});
       }},
       [](const Event& e) {
         EXPECT_EQ(e.startDate, Instant{1714555800});
         EXPECT_EQ(e.endDate, Instant{1714559400});
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto firstStore = createLocalStore(folder.path());
    auto secondStore = createLocalStore(folder.path());
    std::optional<Event> first = firstStore->eventWithIdentifier(id).value();
    std::optional<Event> second = secondStore->eventWithIdentifier(id).value();
    ASSERT_TRUE(first && second);
    row.first.set(*first);
    row.second.set(*second);
    ASSERT_FALSE(secondStore->saveEvent(*second, Span::thisEvent));
    ASSERT_FALSE(firstStore->saveEvent(*first, Span::thisEvent));
    row.check(*createLocalStore(folder.path())->eventWithIdentifier(id).value());
  }

  // An event another host removed meanwhile is not there to change, nor to remove again.
  auto late = createLocalStore(folder.path());
  std::optional<Event> stale = late->eventWithIdentifier(id).value();
  ASSERT_TRUE(stale);
  ASSERT_FALSE(createLocalStore(folder.path())->removeEvent(*stale, Span::thisEvent));
  stale->setTitle("too late");
  const auto refused = late->saveEvent(*stale, Span::thisEvent);
  ASSERT_TRUE(refused);
  EXPECT_TRUE(refused->notFound);
  const auto removed = late->removeEvent(*stale, Span::thisEvent);
  ASSERT_TRUE(removed);
  EXPECT_TRUE(removed->notFound);
}

}  // namespace
}  // namespace tembra::local
