// The stores the command tests run the real tembra over, behind one interface, so that a test
// written once runs over each: the local store, set up with tembra-store, and EDS, the GNOME
// desktop's calendar service, set up through its own client libraries with tembra-eds-fixture.
// The EDS runs happen inside tests/eds/eds_session (ctest's eds.* tests) and are skipped elsewhere.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/black_box.h"

namespace tembra::testing {

enum class Backend { local, eds };

// The parameter of tests over both back-ends, and its name in test names ("local", "eds").
inline const auto kBothBackends = ::testing::Values(Backend::local, Backend::eds);
std::string backendName(const ::testing::TestParamInfo<Backend>& info);

// True when the test may use the back-end: EDS only inside a session of tests/eds/eds_session.
bool backendAvailable(Backend backend);

// A calendar as the commands print it.
struct Shown {
  std::string id;
  std::string title;
  std::string source;
  std::string color;
  bool writable = true;
};

// A fresh store with full access: a new local store, or EDS as it starts (Personal and the
// read-only Birthdays calendar, both empty), after whatever an earlier test added is removed.
class StoreUnderTest {
 public:
  explicit StoreUnderTest(Backend backend);

  ProcessResult tembra(const std::vector<std::string>& args) const;
  // A new writable calendar; its identifier.
  std::string addCalendar(const std::string& title, const std::string& source = "",
                          const std::string& color = "") const;
  // The series of an iCalendar file written into the calendar by the store's own means (through
  // EDS's API: the master, then each detached instance as a change to that occurrence); the
  // event's identifier.
  std::string import(const std::string& calendar, const std::string& file) const;

  // A read-only calendar holding one yearly all-day event on 10 May, from 1990 (EDS: a contact's
  // birthday in the Birthdays calendar).
  struct ReadOnly {
    Shown calendar;
    std::string event;
    std::string eventTitle;
  };
  ReadOnly readOnlyWithEvent() const;

  // The calendar a fresh store starts with, the default calendar for new events.
  Shown starter() const;
  // The store's description of a refused change (or removal) in the read-only calendar.
  std::string readOnlyRefusal(bool removal) const;
  // The UID an event identifier of this store holds.
  std::string uidOf(const std::string& eventId) const;

  const Backend backend;
  std::string zone = testZone();

 private:
  ProcessResult fixture(const std::vector<std::string>& args) const;
  std::string fixtureOk(const std::vector<std::string>& args) const;

  std::optional<TempStore> local_;
};

}  // namespace tembra::testing
