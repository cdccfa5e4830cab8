// Calendars and events that the event command tests start from.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "cli/output.h"
#include "records/event_record.h"
#include "support/fake_store.h"

namespace tembra::testing {

inline constexpr Instant kNineThirty{1714555800};  // 2024-05-01T09:30:00Z

// Writable "c1" 工作 (the default calendar for new events), writable "c2" 个人 and read-only "ro"
// 节假日, in that order; no events.
inline FakeStore eventStore() {
  FakeStore store;
  store.data().calendars = {fakeCalendar("c1", "工作"), fakeCalendar("c2", "个人"),
                            fakeCalendar("ro", "节假日", false)};
  store.data().defaultCalendarId = "c1";
  return store;
}

// A stored one-time event of the given length in the calendar with that identifier.
inline Event storedEvent(const FakeStore& store, std::string id, const std::string& calendarId,
                         Instant start, double seconds = 3600) {
  Event event;
  event.eventIdentifier = std::move(id);
  for (const Calendar& calendar : store.data().calendars) {
    if (calendar.calendarIdentifier == calendarId)
      event.calendar = calendar;
  }
  event.title = "Standup";
  event.notes = "room 4";
  event.location = "HQ";
  event.startDate = start;
  event.endDate = start + seconds;
  event.lastModifiedDate = Instant{1'600'000'000};
  event.alarms = {Alarm::withRelativeOffset(-600)};
  return event;
}

// The one event the run saved.
inline const Event& savedEvent(const FakeStore& store) {
  EXPECT_EQ(store.data().saved.size(), 1u);
  return store.data().saved.back();
}

// The first stored event with the identifier, as its record shows it; "" when there is none.
inline std::string storedRecord(const FakeStore& store, const std::string& id) {
  for (const Event& event : store.data().events) {
    if (event.eventIdentifier == id)
      return encodeJson(eventJSON(Formatters{}, event)).value_or("");
  }
  return "";
}

}  // namespace tembra::testing
