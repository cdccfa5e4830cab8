// Windows of events in their two shapes, and their order.
#include "access/calendar_store.h"

#include <algorithm>

namespace tembra {

EventWindow EventWindow::of(std::vector<Event> events) {
  EventWindow window;
  window.occurrences.reserve(events.size());
  for (std::uint32_t i = 0; i < events.size(); ++i) {
    const Event& event = events[i];
    window.occurrences.push_back(
        {event.startDate, event.endDate, event.occurrenceDate, i, event.isDetached});
  }
  window.events = std::move(events);
  return window;
}

std::vector<Event> EventWindow::expanded() const {
  std::vector<Event> all;
  all.reserve(occurrences.size());
  for (const Entry& occurrence : occurrences) {
    Event& event = all.emplace_back(events[occurrence.event]);
    event.startDate = occurrence.startDate;
    event.endDate = occurrence.endDate;
    event.occurrenceDate = occurrence.occurrenceDate;
    event.isDetached = occurrence.isDetached;
  }
  return all;
}

Event withChangesOf(const Event& changed, Event stored) {
  const EventChanges all{true, true, true, true, true, true, true, true, true};
  const EventChanges& set = changed.changes ? *changed.changes : all;
  if (set.calendar)
    stored.calendar = changed.calendar;
  if (set.title)
    stored.title = changed.title;
  if (set.notes)
    stored.notes = changed.notes;
  if (set.location)
    stored.location = changed.location;
  if (set.startDate)
    stored.startDate = changed.startDate;
  if (set.endDate)
    stored.endDate = changed.endDate;
  if (set.allDay)
    stored.isAllDay = changed.isAllDay;
  if (set.alarms)
    stored.alarms = changed.alarms;
  if (set.recurrenceRule)
    stored.recurrenceRule = changed.recurrenceRule;
  if (stored.startDate && (!stored.endDate || *stored.endDate < *stored.startDate))
    stored.endDate = *stored.startDate + kRepairedDurationSeconds;
  stored.changes.reset();
  return stored;
}

OccurrenceShift occurrenceShift(const Event& changed, const Event& named) {
  const Event merged = withChangesOf(changed, named);
  return {merged.startDate->seconds - named.startDate->seconds,
          merged.endDate->seconds - named.endDate->seconds};
}

Event OccurrenceShift::onto(const Event& changed, const Event& own) const {
  Event moved = changed;
  moved.startDate = *own.startDate + start;
  moved.endDate = *own.endDate + end;
  return withChangesOf(moved, own);
}

void sortInWindowOrder(std::vector<Event>& events) {
  std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
    if (a.startDate != b.startDate)
      return a.startDate < b.startDate;
    if (a.endDate != b.endDate)
      return a.endDate < b.endDate;
    return a.eventIdentifier < b.eventIdentifier;
  });
}

void sortInWindowOrder(EventWindow& window) {
  std::stable_sort(window.occurrences.begin(), window.occurrences.end(),
                   [&](const EventWindow::Entry& a, const EventWindow::Entry& b) {
                     if (a.startDate != b.startDate)
                       return a.startDate < b.startDate;
                     if (a.endDate != b.endDate)
                       return a.endDate < b.endDate;
                     return window.events[a.event].eventIdentifier <
                            window.events[b.event].eventIdentifier;
                   });
}

}  // namespace tembra
