// An in-memory calendar store for command tests, able to reach states the local store cannot
// easily reach: a calendar without a source, a grey colour, a refused save, a late answer.
#pragma once

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "access/calendar_store.h"

namespace tembra::testing {

enum class FakeAnswer { grant, deny, late, never };

// What the fake holds and what it was asked; shared by every copy of a FakeStore.
struct FakeData {
  int authorization = 3;
  int authorizationAfterGrant = 3;
  int authorizationAfterDeny = 2;
  FakeAnswer answer = FakeAnswer::grant;
  std::chrono::milliseconds lateBy{200};

  std::vector<Calendar> calendars;
  std::optional<std::string> defaultCalendarId;
  // Stored events in the store's order; an occurrence of a series shares its identifier.
  std::vector<Event> events;
  std::optional<std::string> refuseSave;    // description of a refused save
  std::optional<std::string> refuseRemove;  // description of a refused removal
  // Every lookup fails with this description, as a store that cannot answer.
  std::optional<std::string> failLookups;
  // Saves and removals find the event gone, as when another client removed it meanwhile.
  bool goneOnWrite = false;
  // The modification time a save stamps on the event; absent: the store reports none.
  std::optional<Instant> modifiedOnSave = Instant{1'700'000'000.25};

  int accessRequests = 0;
  int storeReads = 0;                   // calendar and event reads of every kind
  int grantsSeen = 0;                   // calls of accessGranted
  std::optional<int> readsBeforeGrant;  // storeReads when accessGranted was first called
  std::vector<Event> saved;
  std::vector<Event> removed;
  std::vector<Span> spans;  // the span of every save and removal asked for, in order
  std::vector<AccessCompletion> unanswered;
  int nextId = 1;
};

class FakeStore final : public CalendarStore {
 public:
  FakeStore() : data_(std::make_shared<FakeData>()) {}
  FakeData& data() const { return *data_; }

  int authorizationStatus(EntityType) override { return data_->authorization; }
  void requestFullAccessToEvents(AccessCompletion completion) override {
    answer(std::move(completion));
  }
  void requestAccess(EntityType, AccessCompletion completion) override {
    answer(std::move(completion));
  }
  void accessGranted() override {
    if (data_->grantsSeen++ == 0)
      data_->readsBeforeGrant = data_->storeReads;
  }

  Answer<std::vector<Calendar>> calendars(EntityType) override {
    ++data_->storeReads;
    if (data_->failLookups)
      return StoreError{*data_->failLookups};
    return data_->calendars;
  }
  Answer<std::optional<Calendar>> defaultCalendarForNewEvents() override {
    ++data_->storeReads;
    if (data_->failLookups)
      return StoreError{*data_->failLookups};
    if (!data_->defaultCalendarId)
      return std::optional<Calendar>();
    return findCalendar(*data_->defaultCalendarId);
  }
  Answer<std::optional<Calendar>> calendarWithIdentifier(const std::string& identifier) override {
    ++data_->storeReads;
    if (data_->failLookups)
      return StoreError{*data_->failLookups};
    return findCalendar(identifier);
  }
  Answer<std::optional<Event>> eventWithIdentifier(const std::string& identifier) override {
    ++data_->storeReads;
    if (data_->failLookups)
      return StoreError{*data_->failLookups};
    for (const Event& event : data_->events) {
      if (event.eventIdentifier == identifier)
        return std::optional<Event>(event);
    }
    return std::optional<Event>();
  }
  Answer<std::optional<Event>> occurrenceWithIdentifier(const std::string& identifier,
                                                        Instant occurrenceDate) override {
    ++data_->storeReads;
    if (data_->failLookups)
      return StoreError{*data_->failLookups};
    for (const Event& event : data_->events) {
      const Instant at = event.occurrenceDate ? *event.occurrenceDate : *event.startDate;
      if (event.eventIdentifier == identifier && at == occurrenceDate)
        return std::optional<Event>(event);
    }
    return std::optional<Event>();
  }
  Answer<std::vector<Event>> eventsMatching(const EventPredicate& predicate) override {
    ++data_->storeReads;
    if (data_->failLookups)
      return StoreError{*data_->failLookups};
    std::vector<Event> found;
    for (const Event& event : data_->events) {
      if (*event.startDate >= predicate.endDate || *event.endDate < predicate.startDate)
        continue;
      if (predicate.calendars) {
        const auto& list = *predicate.calendars;
        const bool listed =
            event.calendar && std::any_of(list.begin(), list.end(), [&](const Calendar& calendar) {
              return calendar.calendarIdentifier == event.calendar->calendarIdentifier;
            });
        if (!listed)
          continue;
      }
      found.push_back(event);
    }
    return found;
  }

  Event newEvent() override { return Event{}; }

  std::optional<StoreError> saveEvent(Event& event, Span span) override {
    data_->spans.push_back(span);
    if (data_->refuseSave)
      return StoreError{*data_->refuseSave};
    if (data_->goneOnWrite)
      return StoreError{"事件不存在或已删除", true};
    if (!event.eventIdentifier)
      event.eventIdentifier = "event-" + std::to_string(data_->nextId++);
    auto stored = std::find_if(data_->events.begin(), data_->events.end(), [&](const Event& e) {
      return e.eventIdentifier == event.eventIdentifier;
    });
    // As a store does: the fields the request set, onto the event as stored.
    if (stored != data_->events.end())
      event = withChangesOf(event, *stored);
    event.lastModifiedDate = data_->modifiedOnSave;
    data_->saved.push_back(event);
    if (stored == data_->events.end()) {
      data_->events.push_back(event);
    } else {
      *stored = event;
    }
    return std::nullopt;
  }

  std::optional<StoreError> removeEvent(const Event& event, Span span) override {
    data_->spans.push_back(span);
    if (data_->refuseRemove)
      return StoreError{*data_->refuseRemove};
    if (data_->goneOnWrite)
      return StoreError{"事件不存在或已删除", true};
    data_->removed.push_back(event);
    std::erase_if(data_->events,
                  [&](const Event& e) { return e.eventIdentifier == event.eventIdentifier; });
    return std::nullopt;
  }

 private:
  std::optional<Calendar> findCalendar(const std::string& identifier) const {
    for (const Calendar& calendar : data_->calendars) {
      if (calendar.calendarIdentifier == identifier)
        return calendar;
    }
    return std::nullopt;
  }

  void answer(AccessCompletion completion) {
    ++data_->accessRequests;
    const auto data = data_;
    switch (data->answer) {
      case FakeAnswer::grant:
      case FakeAnswer::deny: {
        const bool granted = data->answer == FakeAnswer::grant;
        data->authorization =
            granted ? data->authorizationAfterGrant : data->authorizationAfterDeny;
        std::thread([completion = std::move(completion), granted] {
          completion(granted, std::nullopt);
        }).join();
        break;
      }
      case FakeAnswer::late:
        std::thread([completion = std::move(completion), data] {
          std::this_thread::sleep_for(data->lateBy);
          completion(true, std::nullopt);
        }).detach();
        break;
      case FakeAnswer::never:
        data->unanswered.push_back(std::move(completion));
        break;
    }
  }

  std::shared_ptr<FakeData> data_;
};

// A writable calendar with a source and a colour.
inline Calendar fakeCalendar(std::string id, std::string title, bool writable = true) {
  Calendar calendar;
  calendar.calendarIdentifier = std::move(id);
  calendar.title = std::move(title);
  calendar.source = Source{"iCloud"};
  calendar.color = std::vector<double>{1, 0.5, 0, 1};
  calendar.allowsContentModifications = writable;
  return calendar;
}

}  // namespace tembra::testing
