// Creating, changing and removing the components of one EDS calendar.
#include "access/eds/calendar_writes.h"

#include <map>
#include <set>

#include "access/eds/store_messages.h"

namespace tembra::eds {
namespace {

// The text EDS files a component under among those of its UID: its RECURRENCE-ID, "" for the
// master.
std::string recurrenceIdText(ICalComponent* component) {
  const auto id = timeOf(component, I_CAL_RECURRENCEID_PROPERTY);
  return id ? timeText(*id) : std::string();
}

std::string componentText(ICalComponent* component) {
  const Text text(i_cal_component_as_ical_string(component));
  return text ? std::string(text.get()) : std::string();
}

}  // namespace

std::optional<std::string> CalendarWrites::create(ICalComponent* component) {
  return refusal(failureOf([&](GError** error) {
    return e_cal_client_create_object_sync(client_, component, E_CAL_OPERATION_FLAG_NONE, nullptr,
                                           budget_.cancellable(), error);
  }));
}

std::optional<std::string> CalendarWrites::modify(ICalComponent* component, ECalObjModType reach) {
  return refusal(failureOf([&](GError** error) {
    return e_cal_client_modify_object_sync(client_, component, reach, E_CAL_OPERATION_FLAG_NONE,
                                           budget_.cancellable(), error);
  }));
}

std::optional<std::string> CalendarWrites::remove(const std::string& uid,
                                                  const std::optional<std::string>& recurrenceId,
                                                  ECalObjModType reach) {
  return refusal(failureOf([&](GError** error) {
    return e_cal_client_remove_object_sync(client_, uid.c_str(),
                                           recurrenceId ? recurrenceId->c_str() : nullptr,
                                           recurrenceId ? reach : E_CAL_OBJ_MOD_ALL,
                                           E_CAL_OPERATION_FLAG_NONE, budget_.cancellable(), error);
  }));
}

void CalendarWrites::addZones(const Zones& zones, ICalComponent* component) {
  for (const std::string& tzid : tzidsIn(component)) {
    ICalTimezone* zone = zones.named(tzid);
    failureOf([&](GError** error) {
      return e_cal_client_add_timezone_sync(client_, zone, budget_.cancellable(), error);
    });
  }
}

std::optional<std::string> CalendarWrites::writeSeries(const Series& before,
                                                       const Components& after) {
  std::map<std::string, std::string> was;
  for (const Ref<ICalComponent>& component : before.copies())
    was.emplace(recurrenceIdText(component.get()), componentText(component.get()));
  std::set<std::string> kept;
  for (const Ref<ICalComponent>& component : after) {
    const std::string id = recurrenceIdText(component.get());
    kept.insert(id);
    if (!id.empty()) {
      if (const auto entry = was.find(id);
          entry != was.end() && entry->second == componentText(component.get())) {
        continue;
      }
    }
    if (auto error = modify(component.get(), id.empty() ? E_CAL_OBJ_MOD_ALL : E_CAL_OBJ_MOD_THIS)) {
      return error;
    }
  }
  for (const std::string& id : before.recurrenceIds()) {
    if (kept.contains(id))
      continue;
    if (auto error = remove(before.uid(), id, E_CAL_OBJ_MOD_ONLY_THIS))
      return error;
  }
  return std::nullopt;
}

std::optional<std::string> CalendarWrites::createSeries(const Zones& zones,
                                                        const Components& components) {
  if (components.empty())
    return kNoSuchEvent;
  for (const Ref<ICalComponent>& component : components)
    addZones(zones, component.get());
  if (auto error = create(components.front().get()))
    return error;
  for (std::size_t at = 1; at < components.size(); ++at) {
    if (auto error = modify(components[at].get(), E_CAL_OBJ_MOD_THIS)) {
      remove(uidOf(components.front().get()), std::nullopt);
      return error;
    }
  }
  return std::nullopt;
}

std::optional<std::string> CalendarWrites::refusal(
    const std::optional<std::string>& failure) const {
  if (failure && budget_.spent())
    return kLate;
  return failure;
}

}  // namespace tembra::eds
