// An event's fields in one EDS component (a VEVENT): what they read as, and how an event is written
// into one; with the property helpers the series code shares.
#pragma once

#include <libecal/libecal.h>

#include <optional>
#include <string>
#include <vector>

#include "access/calendar_store.h"
#include "access/eds/glib_handles.h"
#include "access/eds/times.h"

namespace tembra::eds {

// The earliest instant EDS's dates reach: 0001-01-01T00:00:00Z.
inline constexpr Instant kEarliest{-62135596800};

// Where a component, or an occurrence of it, lies in time; an all-day one ends a second before the
// midnight that ends it.
struct Extent {
  Instant start;
  Instant end;
};

// DTSTART to DTEND, or DTSTART plus DURATION; none without a readable DTSTART.
std::optional<Extent> extentOf(ICalComponent* component, const Zones& zones);
// The exclusive end date of an all-day event that ends before it begins, or has no end: the day
// after its first.
Instant dayAfter(const Zones& zones, ICalTime* date);

// The component's UID; "" without one.
const char* uidOf(ICalComponent* component);
bool hasProperty(ICalComponent* component, ICalPropertyKind kind);
// The component's SUMMARY, DESCRIPTION or LOCATION, as valid UTF-8.
std::optional<std::string> textOf(ICalComponent* component, ICalPropertyKind kind);
// A property's value as iCalendar text.
std::string valueText(ICalProperty* property);
// The component's properties of the kind, each held.
std::vector<Ref<ICalProperty>> propertiesOf(ICalComponent* component, ICalPropertyKind kind);
void removeProperty(ICalComponent* component, const Ref<ICalProperty>& property);
// Removes every property of the kind from the component.
void removeAll(ICalComponent* component, ICalPropertyKind kind);

// The component's alarms, relative ones as offsets from the start, `duration` after which its end
// lies.
std::vector<Alarm> alarmsOf(ICalComponent* component, double duration, const Zones& zones);

// Writes the event's texts, dates, all-day flag and alarms into the component. Only what differs
// from `stored` (the component's event as it stood) is rewritten, so that the rest keeps its form;
// without `stored` every field is written. Dates keep the zone the component's DTSTART is written
// in; they are written in UTC for a new or formerly all-day event. DTSTAMP and LAST-MODIFIED
// become `now`.
void writeEvent(ICalComponent* component, const Event& event, const std::optional<Event>& stored,
                const Zones& zones, Instant now);

// A new VEVENT with the UID holding the event, its dates in UTC.
Ref<ICalComponent> newComponent(const std::string& uid, const Event& event, const Zones& zones,
                                Instant now);

// True when EDS keeps the event's dates and alarms so that they read back as saved: from
// 0001-01-02 to 3000-12-29 (a margin for the local zone and all-day dates inside the years 0001 to
// 3000), relative alarms within an int of seconds.
bool canHold(const Event& event);

}  // namespace tembra::eds
