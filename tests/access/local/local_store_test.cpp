// The local store over temporary folders: fields, recurrence, time zones, safety of identifiers
// and of files it cannot read.
#include "access/local/local_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "access/local/admin.h"
#include "access/local/files.h"
#include "access/local/ical.h"
#include "access/local/import.h"
#include "records/dates.h"
#include "support/black_box.h"
#include "support/formatters.h"

namespace tembra::local {
namespace {

using tembra::testing::TempStore;

Instant at(const char* text) {
  return *parseDate(kFormatters, text);
}
std::string text(Instant instant) {
  return formatDate(kFormatters, instant);
}

// The UTC text of a wall-clock time ("2024-05-01T00:00:00") in the zone the tests run in, as the
// C library reckons it.
std::string localText(const char* wall) {
  std::tm time{};
  ::strptime(wall, "%Y-%m-%dT%H:%M:%S", &time);
  time.tm_isdst = -1;
  return text(Instant{static_cast<double>(std::mktime(&time))});
}

std::string fixture(const std::string& name) {
  return *readFile(std::filesystem::path(TEMBRA_SOURCE_DIR) / "tests/access/local/data" / name);
}

class LocalStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(createStoreIfAbsent(folder.path(), false));
    store = createLocalStore(folder.path());
    calendar = *store->defaultCalendarForNewEvents().value();
  }

  std::string import(const std::string& fixtureName, const std::string& calendarId) {
    std::vector<std::string> ids;
    const auto error = importEvents(folder.path(), calendarId, fixture(fixtureName), ids);
    EXPECT_FALSE(error) << *error;
    EXPECT_EQ(ids.size(), 1u);
    return ids.empty() ? "" : ids.front();
  }

  std::vector<Event> window(const char* from, const char* to) {
    return store->eventsMatching(store->predicateForEvents(at(from), at(to), std::nullopt)).value();
  }

  Event newEvent(const char* start, const char* end, const char* title = "Lunch") {
    Event event = store->newEvent();
    event.calendar = calendar;
    event.title = title;
    event.startDate = at(start);
    event.endDate = at(end);
    return event;
  }

  std::filesystem::path fileOf(const std::string& id) const { return folder.path() / id; }

  TempStore folder;
  std::unique_ptr<CalendarStore> store;
  Calendar calendar;
};

TEST_F(LocalStoreTest, SavesAndReadsBackEveryField) {
  Event event = newEvent("2024-05-01T09:30:00Z", "2024-05-01T10:45:00Z", "Lunch / 午饭");
  event.notes = "line one\nline two, with \"quotes\"; and \\ backslash";
  event.location = "Café";
  event.alarms = {Alarm::withRelativeOffset(-900),
                  Alarm::withAbsoluteDate(at("2024-05-01T08:00:00Z")),
                  Alarm::withRelativeOffset(-900)};
  ASSERT_FALSE(store->saveEvent(event, Span::thisEvent));
  ASSERT_TRUE(event.eventIdentifier);
  EXPECT_TRUE(event.eventIdentifier->starts_with("local/calendar/"));
  ASSERT_TRUE(event.lastModifiedDate);

  const auto read = store->eventWithIdentifier(*event.eventIdentifier).value();
  ASSERT_TRUE(read);
  EXPECT_EQ(read->title, "Lunch / 午饭");
  EXPECT_EQ(read->notes, event.notes);
  EXPECT_EQ(read->location, "Café");
  EXPECT_EQ(text(*read->startDate), "2024-05-01T09:30:00.000Z");
  EXPECT_EQ(text(*read->endDate), "2024-05-01T10:45:00.000Z");
  EXPECT_FALSE(read->isAllDay);
  EXPECT_EQ(read->alarms, event.alarms);
  EXPECT_EQ(read->lastModifiedDate, event.lastModifiedDate);
  EXPECT_EQ(read->calendar->calendarIdentifier, "local/calendar");
  EXPECT_FALSE(read->hasRecurrenceRules);
  EXPECT_FALSE(read->isDetached);
  // The UID is the external identifier and, for new events, the file name.
  ASSERT_TRUE(read->calendarItemExternalIdentifier);
  EXPECT_EQ(*event.eventIdentifier,
            "local/calendar/" + *read->calendarItemExternalIdentifier + ".ics");
}

TEST_F(LocalStoreTest, StoresAllDayEventsAsDates) {
  Event event = newEvent("2024-05-01T09:30:00Z", "2024-05-01T10:30:00Z");
  event.isAllDay = true;
  ASSERT_FALSE(store->saveEvent(event, Span::thisEvent));
  const std::string file = *readFile(fileOf(*event.eventIdentifier));
  EXPECT_NE(file.find("DTSTART;VALUE=DATE:20240501\r\n"), std::string::npos) << file;
  EXPECT_NE(file.find("DTEND;VALUE=DATE:20240502\r\n"), std::string::npos) << file;
  const auto read = store->eventWithIdentifier(*event.eventIdentifier).value();
  EXPECT_TRUE(read->isAllDay);
  EXPECT_EQ(text(*read->startDate), localText("2024-05-01T00:00:00"));
  EXPECT_EQ(text(*read->endDate), localText("2024-05-01T23:59:59"));
  // Saved again unchanged, the event keeps its one day.
  Event again = *read;
  ASSERT_FALSE(store->saveEvent(again, Span::thisEvent));
  EXPECT_EQ(text(*store->eventWithIdentifier(*event.eventIdentifier).value()->endDate),
            localText("2024-05-01T23:59:59"));
}

TEST_F(LocalStoreTest, ExpandsAWeeklySeriesAcrossTheDstChange) {
  const std::string id = import("weekly_berlin.ics", calendar.calendarIdentifier);
  const std::vector<Event> events = window("2024-03-01T00:00:00Z", "2024-05-01T00:00:00Z");
  std::vector<std::string> seen;
  for (const Event& event : events) {
    EXPECT_EQ(event.eventIdentifier, id);
    EXPECT_TRUE(event.hasRecurrenceRules);
    seen.push_back(text(*event.startDate) + (event.isDetached ? " detached" : ""));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "2024-03-13T08:00:00.000Z", "2024-03-20T08:00:00.000Z",
                      "2024-03-27T13:00:00.000Z detached",  // the override, keyed by TZID time
                      "2024-04-10T07:00:00.000Z",           // summer time: 09:00 is 07:00Z
                      "2024-04-17T07:00:00.000Z"}));
  EXPECT_EQ(events[0].title, "Team sync");
  EXPECT_EQ(events[2].title, "Team sync (moved)");
  EXPECT_EQ(text(*events[3].endDate), "2024-04-10T08:00:00.000Z");
  EXPECT_EQ(events[0].alarms, std::vector<Alarm>{Alarm::withRelativeOffset(-600)});
}

TEST_F(LocalStoreTest, LooksUpARepeatingEventAsItsFirstOccurrence) {
  const std::string id = import("weekly_berlin.ics", calendar.calendarIdentifier);
  const auto first = store->eventWithIdentifier(id).value();
  ASSERT_TRUE(first);
  EXPECT_EQ(text(*first->startDate), "2024-03-13T08:00:00.000Z");
  EXPECT_EQ(first->occurrenceDate, first->startDate);
}

TEST_F(LocalStoreTest, RepeatsAllDayEventsOnTheirDays) {
  import("birthday.ics", calendar.calendarIdentifier);
  const std::vector<Event> events = window("2025-01-01T00:00:00Z", "2027-01-01T00:00:00Z");
  ASSERT_EQ(events.size(), 2u);
  for (const Event& event : events) {
    EXPECT_TRUE(event.isAllDay);
    EXPECT_EQ(*event.endDate + 1.0, *event.startDate + 86400.0);  // not a day late
  }
  EXPECT_EQ(text(*events[0].startDate), localText("2025-05-10T00:00:00"));
}

TEST_F(LocalStoreTest, ASeriesWithoutEndStillReachesFarWindows) {
  import("birthday.ics", calendar.calendarIdentifier);
  const std::vector<Event> events = window("2090-05-01T00:00:00Z", "2090-06-01T00:00:00Z");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(text(*events[0].startDate), localText("2090-05-10T00:00:00"));
}

TEST_F(LocalStoreTest, SavingOneOccurrenceWritesAnOverride) {
  const std::string id = import("weekly_berlin.ics", calendar.calendarIdentifier);
  std::vector<Event> events = window("2024-04-10T00:00:00Z", "2024-04-11T00:00:00Z");
  ASSERT_EQ(events.size(), 1u);
  Event occurrence = events[0];
  occurrence.title = "Only this one";
  ASSERT_FALSE(store->saveEvent(occurrence, Span::thisEvent));
  EXPECT_EQ(occurrence.eventIdentifier, id);
  EXPECT_TRUE(occurrence.isDetached);

  const std::string file = *readFile(fileOf(id));
  EXPECT_NE(file.find("RECURRENCE-ID;TZID=Europe/Berlin:20240410T090000"), std::string::npos)
      << file;
  events = window("2024-03-01T00:00:00Z", "2024-05-01T00:00:00Z");
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[3].title, "Only this one");
  EXPECT_TRUE(events[3].isDetached);
  EXPECT_EQ(events[4].title, "Team sync");
  EXPECT_FALSE(events[4].isDetached);
}

TEST_F(LocalStoreTest, RemovingOneOccurrenceAddsAnExdate) {
  const std::string id = import("weekly_berlin.ics", calendar.calendarIdentifier);
  const std::vector<Event> events = window("2024-04-17T00:00:00Z", "2024-04-18T00:00:00Z");
  ASSERT_EQ(events.size(), 1u);
  ASSERT_FALSE(store->removeEvent(events[0], Span::thisEvent));
  const std::string file = *readFile(fileOf(id));
  EXPECT_NE(file.find("EXDATE;TZID=Europe/Berlin:20240417T090000"), std::string::npos) << file;
  EXPECT_EQ(window("2024-03-01T00:00:00Z", "2024-05-01T00:00:00Z").size(), 4u);
  // The series changed, so its modification time is now.
  EXPECT_GT(store->eventWithIdentifier(id).value()->lastModifiedDate->seconds,
            at("2025-01-01T00:00:00Z").seconds);
}

TEST_F(LocalStoreTest, RemovingTheLastOccurrenceRemovesTheFile) {
  const std::string id = import("weekly_berlin.ics", calendar.calendarIdentifier);
  for (int i = 0; i < 5; ++i) {
    const auto first = store->eventWithIdentifier(id).value();
    ASSERT_TRUE(first) << i;
    ASSERT_FALSE(store->removeEvent(*first, Span::thisEvent));
  }
  EXPECT_FALSE(store->eventWithIdentifier(id).value());
  EXPECT_FALSE(std::filesystem::exists(fileOf(id)));
}

TEST_F(LocalStoreTest, AnUpdateKeepsWhatTheStoreDoesNotModel) {
  const std::string id = import("weekly_berlin.ics", calendar.calendarIdentifier);
  // Detach the series into a one-time event by hand is not possible; change the override instead.
  std::vector<Event> events = window("2024-03-27T00:00:00Z", "2024-03-28T00:00:00Z");
  ASSERT_EQ(events.size(), 1u);
  events[0].notes = "agenda";
  ASSERT_FALSE(store->saveEvent(events[0], Span::thisEvent));
  const std::string file = *readFile(fileOf(id));
  for (const char* kept :
       {"ATTENDEE;CN=Ana:mailto:ana@example.com", "CATEGORIES:work", "BEGIN:VTIMEZONE",
        "RRULE:FREQ=WEEKLY;COUNT=6", "PRODID:-//Example Corp//Example Client//EN",
        "DESCRIPTION:Team sync", "DTSTART;TZID=Europe/Berlin:20240327T140000"}) {
    EXPECT_NE(file.find(kept), std::string::npos) << kept << "\n" << file;
  }
  EXPECT_NE(file.find("DESCRIPTION:agenda"), std::string::npos);
}

TEST_F(LocalStoreTest, AFileThatDoesNotParseIsSkippedAndLeftAlone) {
  Event good = newEvent("2024-05-01T09:00:00Z", "2024-05-01T10:00:00Z");
  ASSERT_FALSE(store->saveEvent(good, Span::thisEvent));
  const std::filesystem::path dir = folder.path() / "local" / "calendar";
  const std::string broken = "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:x\r\nDTSTART:garbage\r\n";
  std::ofstream(dir / "broken.ics") << broken;
  std::ofstream(dir / "empty.ics") << "";
  std::ofstream(dir / "notes.txt") << "not an event";
  const std::vector<Event> events = window("2024-01-01T00:00:00Z", "2025-01-01T00:00:00Z");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].eventIdentifier, good.eventIdentifier);
  EXPECT_FALSE(store->eventWithIdentifier("local/calendar/broken.ics").value());
  Event forged = good;
  forged.eventIdentifier = "local/calendar/broken.ics";
  EXPECT_TRUE(store->saveEvent(forged, Span::thisEvent));
  EXPECT_TRUE(store->removeEvent(forged, Span::thisEvent));
  EXPECT_EQ(*readFile(dir / "broken.ics"), broken);
}

TEST_F(LocalStoreTest, TextThatIsNotUtf8IsRepaired) {
  const std::filesystem::path dir = folder.path() / "local" / "calendar";
  std::ofstream(dir / "latin1.ics")
      << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:x\r\nBEGIN:VEVENT\r\n"
         "UID:latin1\r\nDTSTAMP:20240101T000000Z\r\n"
         "DTSTART:20240501T090000Z\r\nSUMMARY:Caf\xe9\r\n"
         "END:VEVENT\r\nEND:VCALENDAR\r\n";
  const auto event = store->eventWithIdentifier("local/calendar/latin1.ics").value();
  ASSERT_TRUE(event);
  EXPECT_EQ(event->title, "Caf\xEF\xBF\xBD");
}

TEST_F(LocalStoreTest, IdentifiersNeverLeaveTheStore) {
  const std::filesystem::path outside = folder.path().string() + "-outside";
  std::filesystem::create_directories(outside);
  std::ofstream(outside / "secret.ics") << fixture("birthday.ics");
  const std::filesystem::path dir = folder.path() / "local" / "calendar";
  std::filesystem::create_symlink(outside / "secret.ics", dir / "link.ics");
  std::filesystem::create_directory_symlink(outside, folder.path() / "local" / "linked");

  using namespace std::string_literals;
  for (const std::string& id : std::vector<std::string>{
           "../x", "local/calendar/../../../etc/passwd", "/etc/passwd", "local/calendar/..",
           "local/calendar/link.ics", "local/linked/secret.ics", "local//calendar/x.ics",
           std::string("local/calendar/a\0b.ics", 22), "local/calendar/.lock.ics", "", "local",
           "local/calendar", "local/calendar/x.ics/y"}) {
    EXPECT_FALSE(store->eventWithIdentifier(id).value()) << id;
    Event forged = newEvent("2024-05-01T09:00:00Z", "2024-05-01T10:00:00Z");
    forged.eventIdentifier = id;
    EXPECT_TRUE(store->saveEvent(forged, Span::thisEvent)) << id;
  }
  for (const std::string id : {"..", "../local", "local/linked", "/tmp", "local/calendar/.."}) {
    EXPECT_FALSE(store->calendarWithIdentifier(id).value()) << id;
  }
  for (const Calendar& listed : store->calendars(EntityType::event).value()) {
    EXPECT_NE(listed.calendarIdentifier, "local/linked");
  }
  EXPECT_TRUE(std::filesystem::exists(outside / "secret.ics"));
  std::filesystem::remove_all(outside);
}

TEST_F(LocalStoreTest, AReadOnlyCalendarRefusesWrites) {
  std::string readOnly;
  ASSERT_FALSE(
      addCalendar(folder.path(), {"Holidays", "Subscriptions", std::nullopt, true}, readOnly));
  const std::string id = import("birthday.ics", readOnly);
  store = createLocalStore(folder.path());
  const auto event = store->eventWithIdentifier(id).value();
  ASSERT_TRUE(event);
  Event changed = *event;
  changed.title = "Mine now";
  const auto refused = store->saveEvent(changed, Span::thisEvent);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->description, "日历「Holidays」是只读的，不能更改其中的事件");
  EXPECT_TRUE(store->removeEvent(*event, Span::thisEvent));
  Event created = newEvent("2024-05-01T09:00:00Z", "2024-05-01T10:00:00Z");
  created.calendar = store->calendarWithIdentifier(readOnly).value();
  EXPECT_TRUE(store->saveEvent(created, Span::thisEvent));
  // Moving out of a read-only calendar is a change to it as well.
  changed.calendar = calendar;
  EXPECT_TRUE(store->saveEvent(changed, Span::thisEvent));
  EXPECT_EQ(store->eventWithIdentifier(id).value()->title, "Birthday");
}

TEST_F(LocalStoreTest, MovingAnEventChangesItsIdentifierAndKeepsItsUid) {
  std::string other;
  ASSERT_FALSE(addCalendar(folder.path(), {"Work", "Exchange", "#336699", false}, other));
  store = createLocalStore(folder.path());
  Event event = newEvent("2024-05-01T09:00:00Z", "2024-05-01T10:00:00Z");
  ASSERT_FALSE(store->saveEvent(event, Span::thisEvent));
  const std::string oldId = *event.eventIdentifier;
  event.calendar = store->calendarWithIdentifier(other).value();
  ASSERT_FALSE(store->saveEvent(event, Span::thisEvent));
  EXPECT_NE(*event.eventIdentifier, oldId);
  EXPECT_TRUE(event.eventIdentifier->starts_with(other + "/"));
  EXPECT_FALSE(store->eventWithIdentifier(oldId).value());
  const auto moved = store->eventWithIdentifier(*event.eventIdentifier).value();
  ASSERT_TRUE(moved);
  EXPECT_EQ(moved->calendar->title, "Work");
  EXPECT_EQ(*moved->calendarItemExternalIdentifier + ".ics",
            std::filesystem::path(oldId).filename().string());
}

TEST_F(LocalStoreTest, MovingOneOccurrenceSplitsItOffItsSeries) {
  std::string other;
  ASSERT_FALSE(addCalendar(folder.path(), {"Work", std::nullopt, std::nullopt, false}, other));
  store = createLocalStore(folder.path());
  const std::string id = import("weekly_berlin.ics", calendar.calendarIdentifier);
  Event occurrence = window("2024-04-10T00:00:00Z", "2024-04-11T00:00:00Z").at(0);
  occurrence.calendar = store->calendarWithIdentifier(other).value();
  ASSERT_FALSE(store->saveEvent(occurrence, Span::thisEvent));
  EXPECT_FALSE(occurrence.hasRecurrenceRules);
  const std::vector<Event> events = window("2024-03-01T00:00:00Z", "2024-05-01T00:00:00Z");
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[3].calendar->calendarIdentifier, other);
  EXPECT_EQ(text(*events[3].startDate), "2024-04-10T07:00:00.000Z");
  EXPECT_EQ(events[4].eventIdentifier, id);
}

// A calendar server refuses an event without a UID, and a sync tool stops on a collection in
// which two files share one; the store must write neither.
TEST_F(LocalStoreTest, AFileWithoutUidGetsOneWhenTheStoreWritesIt) {
  const std::filesystem::path dir = folder.path() / "local" / "calendar";
  const std::string withoutUid =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Hand//EN\r\nBEGIN:VEVENT\r\n"
      "DTSTAMP:20240401T000000Z\r\nDTSTART:20240507T100000Z\r\nDTEND:20240507T110000Z\r\n"
      "%s"
      "SUMMARY:Hand made\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
  const auto fileText = [&](const char* rule) {
    std::string text = withoutUid;
    text.replace(text.find("%s"), 2, rule);
    return text;
  };
  std::ofstream(dir / "single.ics") << fileText("");
  std::ofstream(dir / "daily.ics") << fileText("RRULE:FREQ=DAILY;COUNT=3\r\n");

  auto single = store->eventWithIdentifier("local/calendar/single.ics").value();
  ASSERT_TRUE(single);
  single->title = "Changed";
  ASSERT_FALSE(store->saveEvent(*single, Span::thisEvent));
  const auto daily = store->eventWithIdentifier("local/calendar/daily.ics").value();
  ASSERT_TRUE(daily);
  ASSERT_FALSE(store->removeEvent(*daily, Span::thisEvent));

  std::set<std::string> uids;
  for (const char* name : {"single.ics", "daily.ics"}) {
    ical::Component parsed = ical::parse(*readFile(dir / name));
    ASSERT_TRUE(parsed) << name;
    for (icalcomponent* event : ical::children(parsed.get(), ICAL_VEVENT_COMPONENT)) {
      const char* uid = icalcomponent_get_uid(event);
      ASSERT_TRUE(uid && *uid) << name;
      uids.insert(uid);
    }
  }
  EXPECT_EQ(uids.size(), 2u);
  EXPECT_EQ(*store->eventWithIdentifier("local/calendar/single.ics")
                 .value()
                 ->calendarItemExternalIdentifier,
            *single->calendarItemExternalIdentifier);
  EXPECT_EQ(window("2024-05-07T00:00:00Z", "2024-05-10T00:00:00Z").size(), 3u);
}

TEST_F(LocalStoreTest, MovingIntoACalendarThatHoldsTheUidGivesTheCopyAUidOfItsOwn) {
  std::string other;
  ASSERT_FALSE(addCalendar(folder.path(), {"Work", "Exchange", std::nullopt, false}, other));
  store = createLocalStore(folder.path());
  const std::string invitation =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Server//EN\r\nBEGIN:VEVENT\r\n"
      "UID:invitation@example.com\r\nDTSTAMP:20240401T000000Z\r\n"
      "DTSTART:20240507T100000Z\r\nDTEND:20240507T110000Z\r\nSUMMARY:Kick-off\r\n"
      "END:VEVENT\r\nEND:VCALENDAR\r\n";
  std::vector<std::string> ids;
  ASSERT_FALSE(importEvents(folder.path(), calendar.calendarIdentifier, invitation, ids));
  ASSERT_FALSE(importEvents(folder.path(), other, invitation, ids));
  ASSERT_EQ(ids.size(), 2u);

  auto event = store->eventWithIdentifier(ids[0]).value();
  ASSERT_TRUE(event);
  event->calendar = store->calendarWithIdentifier(other).value();
  ASSERT_FALSE(store->saveEvent(*event, Span::thisEvent));
  EXPECT_NE(*event->calendarItemExternalIdentifier, "invitation@example.com");
  EXPECT_EQ(*store->eventWithIdentifier(ids[1]).value()->calendarItemExternalIdentifier,
            "invitation@example.com");

  const std::vector<Event> events = window("2024-05-07T00:00:00Z", "2024-05-08T00:00:00Z");
  ASSERT_EQ(events.size(), 2u);
  std::set<std::string> uids;
  for (const Event& listed : events) {
    EXPECT_EQ(listed.calendar->calendarIdentifier, other);
    EXPECT_EQ(listed.title, "Kick-off");
    uids.insert(*listed.calendarItemExternalIdentifier);
  }
  EXPECT_EQ(uids.size(), 2u);
}

TEST_F(LocalStoreTest, UnknownTzidIsReadInTheLocalZoneNotLost) {
  std::vector<std::string> ids;
  ASSERT_FALSE(
      importEvents(folder.path(), calendar.calendarIdentifier,
                   "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:x\r\nBEGIN:VEVENT\r\nUID:u\r\n"
                   "DTSTAMP:20240101T000000Z\r\nDTSTART;TZID=Mars/Olympus:20240501T090000\r\n"
                   "DTEND;TZID=Europe/Berlin:20240501T120000\r\nEND:VEVENT\r\n"
                   "END:VCALENDAR\r\n",
                   ids));
  const auto event = store->eventWithIdentifier(ids.at(0)).value();
  ASSERT_TRUE(event);
  // Europe/Berlin comes from the system's zone data without a VTIMEZONE. West of Berlin the local
  // start falls after that end, and the event lasts no time.
  const std::string start = localText("2024-05-01T09:00:00");
  EXPECT_EQ(text(*event->startDate), start);
  EXPECT_EQ(text(*event->endDate), std::max(start, std::string("2024-05-01T10:00:00.000Z")));
}

TEST_F(LocalStoreTest, ZonesDefinedInAFileAreUsedAndNotKeptBeyondIt) {
  std::string ics = fixture("weekly_berlin.ics");
  // A zone name no system knows, defined only by the file's VTIMEZONE.
  for (std::size_t at = ics.find("Europe/Berlin"); at != std::string::npos;
       at = ics.find("Europe/Berlin", at)) {
    ics.replace(at, 13, "Office Time");
  }
  std::vector<std::string> ids;
  ASSERT_FALSE(importEvents(folder.path(), calendar.calendarIdentifier, ics, ids));
  for (int round = 0; round < 2; ++round) {
    const std::vector<Event> events = window("2024-04-10T00:00:00Z", "2024-04-11T00:00:00Z");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(text(*events[0].startDate), "2024-04-10T07:00:00.000Z");
  }
}

TEST_F(LocalStoreTest, ManyEventsInOneListKeepTheirOwnTexts) {
  for (int i = 0; i < 300; ++i) {
    Event event = newEvent("2024-05-01T09:00:00Z", "2024-05-01T10:00:00Z",
                           ("event " + std::to_string(i)).c_str());
    ASSERT_FALSE(store->saveEvent(event, Span::thisEvent));
  }
  std::set<std::string> titles;
  for (const Event& event : window("2024-05-01T00:00:00Z", "2024-05-02T00:00:00Z")) {
    titles.insert(*event.title);
  }
  EXPECT_EQ(titles.size(), 300u);
}

TEST_F(LocalStoreTest, EveryWrittenFileReadsCleanlyWithLibical) {
  Event timed = newEvent("2024-05-01T09:00:00Z", "2024-05-01T10:00:00Z", "控制\x01字符\r\n换行");
  timed.alarms = {Alarm::withRelativeOffset(-90.5)};
  ASSERT_FALSE(store->saveEvent(timed, Span::thisEvent));
  Event allDay = newEvent("2024-05-01T00:00:00Z", "2024-05-03T00:00:00Z");
  allDay.isAllDay = true;
  ASSERT_FALSE(store->saveEvent(allDay, Span::thisEvent));
  const std::string id = import("weekly_berlin.ics", calendar.calendarIdentifier);
  Event occurrence = window("2024-04-10T00:00:00Z", "2024-04-11T00:00:00Z").at(0);
  ASSERT_FALSE(store->removeEvent(occurrence, Span::thisEvent));

  EXPECT_EQ(store->eventWithIdentifier(*timed.eventIdentifier).value()->title, "控制字符\n换行");
  for (const auto& entry :
       std::filesystem::directory_iterator(folder.path() / "local" / "calendar")) {
    if (entry.path().extension() != ".ics")
      continue;
    // libical itself, without the store's setting aside of lines it cannot read.
    ical::Component parsed(icalparser_parse_string(readFile(entry.path())->c_str()));
    ASSERT_TRUE(parsed) << entry.path();
    EXPECT_FALSE(ical::hasParseErrors(parsed.get())) << entry.path();
    for (icalcomponent* event : ical::children(parsed.get(), ICAL_VEVENT_COMPONENT)) {
      EXPECT_TRUE(icalcomponent_get_uid(event)) << entry.path();
      EXPECT_TRUE(icalcomponent_get_first_property(event, ICAL_DTSTAMP_PROPERTY)) << entry.path();
    }
  }
}

}  // namespace
}  // namespace tembra::local
