// The calendars EDS's source registry offers: the registry reached once per run within the reach
// budget, each calendar's client connected when first needed, and the calendars as the store
// reports them.
#pragma once

#include <libecal/libecal.h>

#include <optional>
#include <string>
#include <vector>

#include "access/calendar_store.h"
#include "access/eds/budget.h"
#include "access/eds/connecting.h"
#include "access/eds/glib_handles.h"

namespace tembra::eds {

class CalendarRegistry {
 public:
  // Deadlines stay within the run's budget, which outlives the registry.
  explicit CalendarRegistry(const Budget& budget) : budget_(budget) {}

  // Whether the registry answers on the session bus, asked once per run within the reach budget.
  bool reachable();

  // The enabled calendars in the registry's order (by title; calendars of the same title by UID,
  // so that the order is the same in every run), all connected at once.
  std::vector<Calendar> all();
  // The registry answers with the calendar last chosen as the default even when it has been
  // switched off since (an online account's calendar disabled); EDS's own programs then use the
  // built-in calendar, and so does tembra.
  std::optional<Calendar> defaultCalendar();
  // The enabled calendar of that source UID; none when there is no such calendar.
  std::optional<Calendar> at(const std::string& uid);
  // True when an enabled calendar has that source UID.
  bool has(const std::string& uid);

  // Connected when first needed and kept for the run; none when EDS cannot open the calendar, or
  // did not within the budget.
  ECalClient* client(const std::string& uid);
  // Why a write cannot reach a calendar that was not opened: EDS's words, or the budget's.
  StoreError unopened(const std::string& uid) const;

 private:
  // Opened once per run, within the reach budget; none when there is no session bus, no EDS on
  // it, or no answer in time.
  ESourceRegistry* registry();
  bool isUsableCalendar(ESource* source);
  std::vector<Ref<ESource>> calendarSources();
  Ref<ESource> calendarSource(const std::string& uid);
  // Connects the calendars not connected yet, all at once, within the connect budget.
  void connect(const std::vector<ESource*>& sources);
  Calendar calendarFrom(ESource* source);

  const Budget& budget_;
  std::optional<bool> reached_;
  Clock::time_point reachDeadline_;
  Ref<ESourceRegistry> registry_;
  bool registryTried_ = false;
  Connector connector_;
};

}  // namespace tembra::eds
