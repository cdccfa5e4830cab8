// Writes to one EDS calendar through its client, within the run's budget: a write EDS refuses
// gives its words, or the budget's when the run's time ran out during it.
#pragma once

#include <libecal/libecal.h>

#include <optional>
#include <string>

#include "access/eds/budget.h"
#include "access/eds/series.h"

namespace tembra::eds {

class CalendarWrites {
 public:
  CalendarWrites(ECalClient* client, Budget& budget) : client_(client), budget_(budget) {}

  std::optional<std::string> create(ICalComponent* component);
  std::optional<std::string> modify(ICalComponent* component, ECalObjModType reach);
  // Removes the whole series without a RECURRENCE-ID, else one occurrence: with an EXDATE
  // (E_CAL_OBJ_MOD_THIS) or, for a detached instance alone, without (E_CAL_OBJ_MOD_ONLY_THIS).
  std::optional<std::string> remove(const std::string& uid,
                                    const std::optional<std::string>& recurrenceId,
                                    ECalObjModType reach = E_CAL_OBJ_MOD_THIS);
  // The calendar learns every zone the component's times are written in: its end, an exception or
  // an alarm may name a zone its start does not.
  void addZones(const Zones& zones, ICalComponent* component);
  // Writes the components of a series over what the calendar holds of it (`before`): the master
  // as the series (E_CAL_OBJ_MOD_ALL, which keeps the detached instances as they are), each
  // detached instance that changed or is new (E_CAL_OBJ_MOD_THIS), then removes the instances
  // `after` no longer has (E_CAL_OBJ_MOD_ONLY_THIS: no EXDATE). An instance whose RECURRENCE-ID
  // moved is a new one, and its old one goes.
  std::optional<std::string> writeSeries(const Series& before, const Components& after);
  // Creates a series of a UID the calendar does not hold: the master, then each detached instance
  // as a change to its occurrence, as EDS's own programs make them; should one fail, what was
  // created goes again.
  std::optional<std::string> createSeries(const Zones& zones, const Components& components);

 private:
  std::optional<std::string> refusal(const std::optional<std::string>& failure) const;

  ECalClient* client_;
  Budget& budget_;
};

}  // namespace tembra::eds
