// Reading one EDS event series: where the generator places its occurrences, the events they
// show, and the components a change is written into.
#include <algorithm>

#include "access/eds/series.h"
#include "access/recurrence_rule.h"
#include "records/utf8.h"

namespace tembra::eds {
namespace {

constexpr double kDay = 86400;
// The generator is asked for a wider window than the caller's, so that neither its rule for
// what touches an edge nor the zone it reads all-day dates in (UTC, whatever the default zone)
// decides what is found.
constexpr double kMargin = 2 * kDay;
// The first occurrence is looked for in growing stretches from the series' start: the generator
// works out a whole stretch before it reports any of it, and nearly every series has it in the
// first.
constexpr double kFirstStretch = 400 * kDay;
constexpr Instant kEndOfTime{253402300800};  // 10000-01-01T00:00:00Z
// The generator reports at most this many occurrences of one series at a time: a secondly rule
// gives 86,400 a day.
constexpr std::size_t kMostExtents = 100'000;

bool overlaps(Instant start, Instant end, Instant from, Instant to) {
  return start < to && (end > from || (start == end && start >= from));
}

struct Collected {
  const Zones* zones;
  std::vector<Extent> extents;
};

gboolean collectExtent(ICalComponent*, ICalTime* start, ICalTime* end, gpointer data, GCancellable*,
                       GError**) {
  auto& collected = *static_cast<Collected*>(data);
  if (collected.extents.size() >= kMostExtents)
    return FALSE;
  const Instant from = instantOf(*collected.zones, start);
  Instant to = end ? instantOf(*collected.zones, end) : from;
  if (i_cal_time_is_date(start)) {
    if (to <= from)
      to = dayAfter(*collected.zones, start);
    to = to + -1.0;
  }
  collected.extents.push_back({from, std::max(to, from)});
  return TRUE;
}

ICalTimezone* zoneNamed(const gchar* tzid, gpointer data, GCancellable*, GError**) {
  if (!tzid || !*tzid)
    return nullptr;
  return static_cast<const Zones*>(data)->named(tzid);
}

// The extents of the occurrences of the master's rules and dates that overlap [from, to],
// as the generator gives them, ordered by start: the earliest kMostExtents.
std::vector<Extent> extentsOf(ICalComponent* master, const Zones& zones, Instant from, Instant to) {
  Collected collected{&zones, {}};
  const TimeValue start = utcTime(std::max(from, kEarliest));
  const TimeValue end = utcTime(std::min(to, kEndOfTime));
  e_cal_recur_generate_instances_sync(master, start.time.get(), end.time.get(), collectExtent,
                                      &collected, zoneNamed, const_cast<Zones*>(&zones),
                                      zones.local(), nullptr, nullptr);
  std::stable_sort(collected.extents.begin(), collected.extents.end(),
                   [](const Extent& a, const Extent& b) { return a.start < b.start; });
  return std::move(collected.extents);
}

}  // namespace

std::optional<Series> Series::of(std::vector<Ref<ICalComponent>> components, Zones zones) {
  Series series(std::move(components), zones);
  for (const Ref<ICalComponent>& component : series.components_) {
    if (i_cal_component_isa(component.get()) != I_CAL_VEVENT_COMPONENT ||
        !timeOf(component.get(), I_CAL_DTSTART_PROPERTY)) {
      continue;
    }
    if (const char* uid = i_cal_component_get_uid(component.get()); uid && series.uid_.empty())
      series.uid_ = uid;
    if (const auto original = timeOf(component.get(), I_CAL_RECURRENCEID_PROPERTY)) {
      series.detached_.emplace_back(instantOf(zones, *original), component.get());
    } else if (!series.master_) {
      series.master_ = component.get();
    }
  }
  if (!series.master_ && series.detached_.empty())
    return std::nullopt;
  std::stable_sort(series.detached_.begin(), series.detached_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  return series;
}

bool Series::repeats() const {
  if (!master_)
    return true;
  return hasProperty(master_, I_CAL_RRULE_PROPERTY) || hasProperty(master_, I_CAL_RDATE_PROPERTY);
}

std::vector<Extent> Series::ruleExtents(Instant from, Instant to) const {
  return extentsOf(master_, zones_, from, to);
}

std::optional<Occurrence> Series::single(ICalComponent* component, bool detached) const {
  const auto extent = extentOf(component, zones_);
  if (!extent)
    return std::nullopt;
  return Occurrence{component, extent->start, extent->end, extent->start, detached};
}

ICalComponent* Series::detachedAt(Instant originalStart) const {
  for (const auto& [original, component] : detached_) {
    if (original == originalStart)
      return component;
  }
  return nullptr;
}

std::vector<Occurrence> Series::occurrences(Instant from, Instant to) const {
  std::vector<Occurrence> found;
  const auto addDetached = [&](bool detached) {
    for (const auto& [original, component] : detached_) {
      if (auto occurrence = single(component, detached)) {
        occurrence->originalStart = original;
        found.push_back(*occurrence);
      }
    }
  };
  if (!master_) {
    // A calendar that keeps a repeating event as its instances alone: they are its occurrences.
    addDetached(false);
  } else if (!repeats()) {
    if (auto occurrence = single(master_, false))
      found.push_back(*occurrence);
  } else {
    for (const auto& [start, end] : ruleExtents(from + -kMargin, to + kMargin)) {
      if (!detachedAt(start))
        found.push_back(Occurrence{master_, start, end, start, false});
    }
    addDetached(true);
  }
  std::erase_if(found, [&](const Occurrence& occurrence) {
    return !overlaps(occurrence.start, occurrence.end, from, to);
  });
  std::stable_sort(found.begin(), found.end(),
                   [](const Occurrence& a, const Occurrence& b) { return a.start < b.start; });
  return found;
}

std::optional<Occurrence> Series::first() const {
  if (master_ && !repeats())
    return single(master_, false);
  std::optional<Instant> earliest;
  if (master_) {
    const auto extent = extentOf(master_, zones_);
    for (double length = kFirstStretch; extent && !earliest; length *= 10) {
      const auto extents = ruleExtents(extent->start + -1.0, extent->start + length);
      if (!extents.empty())
        earliest = extents.front().start;
      if (extent->start + length >= kEndOfTime)
        break;
    }
  }
  if (!detached_.empty() && (!earliest || detached_.front().first < *earliest))
    earliest = detached_.front().first;
  if (!earliest)
    return std::nullopt;
  return occurrenceAt(*earliest);
}

std::optional<Occurrence> Series::occurrenceAt(Instant originalStart) const {
  if (ICalComponent* component = detachedAt(originalStart)) {
    auto occurrence = single(component, master_ != nullptr);
    if (occurrence)
      occurrence->originalStart = originalStart;
    return occurrence;
  }
  if (!master_ || !repeats())
    return std::nullopt;
  for (const auto& [start, end] : ruleExtents(originalStart + -kMargin, originalStart + kMargin)) {
    if (start == originalStart)
      return Occurrence{master_, start, end, start, false};
  }
  return std::nullopt;
}

Event Series::eventAt(const Occurrence& occurrence) const {
  ICalComponent* component = occurrence.component;
  Event event;
  event.title = textOf(component, I_CAL_SUMMARY_PROPERTY);
  event.notes = textOf(component, I_CAL_DESCRIPTION_PROPERTY);
  event.location = textOf(component, I_CAL_LOCATION_PROPERTY);
  event.startDate = occurrence.start;
  event.endDate = occurrence.end;
  const auto start = timeOf(component, I_CAL_DTSTART_PROPERTY);
  event.isAllDay = start && start->form.kind == TimeForm::Kind::date;
  // An all-day occurrence ends a second before the midnight its alarms related to the end count
  // from.
  event.alarms = alarmsOf(
      component, occurrence.end.seconds - occurrence.start.seconds + (event.isAllDay ? 1 : 0),
      zones_);
  if (const auto modified = timeOf(component, I_CAL_LASTMODIFIED_PROPERTY))
    event.lastModifiedDate = instantOf(zones_, *modified);
  if (!uid_.empty())
    event.calendarItemExternalIdentifier = repairUtf8(uid_);
  event.hasRecurrenceRules = repeats();
  event.isDetached = occurrence.detached;
  if (repeats())
    event.occurrenceDate = occurrence.originalStart;
  event.recurrenceRule = ruleText();
  return event;
}

std::optional<std::string> Series::ruleText() const {
  if (!repeats())
    return std::nullopt;
  if (!master_)
    return std::string();
  const Ref<ICalProperty> rule(i_cal_component_get_first_property(master_, I_CAL_RRULE_PROPERTY));
  if (!rule)
    return std::string();
  return canonicalRuleText(valueText(rule.get()));
}

Draft Series::draftFor(const Occurrence& occurrence) const {
  if (occurrence.component != master_ || !repeats())
    return Draft{Ref<ICalComponent>(i_cal_component_clone(occurrence.component)), false};
  // The master's copy without its recurrence: building the instance with EDS's own helper would
  // keep the master's DTSTART and RRULE.
  Ref<ICalComponent> instance(i_cal_component_clone(master_));
  for (const ICalPropertyKind kind :
       {I_CAL_RRULE_PROPERTY, I_CAL_RDATE_PROPERTY, I_CAL_EXDATE_PROPERTY, I_CAL_EXRULE_PROPERTY}) {
    removeAll(instance.get(), kind);
  }
  const auto start = timeOf(master_, I_CAL_DTSTART_PROPERTY);
  setTime(instance.get(), I_CAL_RECURRENCEID_PROPERTY,
          timeIn(zones_, start ? start->form : TimeForm{}, occurrence.originalStart));
  return Draft{std::move(instance), true};
}

std::string Series::recurrenceIdOf(const Occurrence& occurrence) const {
  if (occurrence.component != master_) {
    if (const auto original = timeOf(occurrence.component, I_CAL_RECURRENCEID_PROPERTY))
      return timeText(*original);
  }
  const auto start = timeOf(master_, I_CAL_DTSTART_PROPERTY);
  return timeText(timeIn(zones_, start ? start->form : TimeForm{}, occurrence.originalStart));
}

Components Series::copies() const {
  Components copies;
  if (master_)
    copies.emplace_back(i_cal_component_clone(master_));
  for (const auto& [original, component] : detached_)
    copies.emplace_back(i_cal_component_clone(component));
  return copies;
}

Series Series::copied() const {
  return *Series::of(copies(), zones_);
}

std::vector<std::string> Series::recurrenceIds() const {
  std::vector<std::string> ids;
  for (const auto& [original, component] : detached_) {
    if (const auto id = timeOf(component, I_CAL_RECURRENCEID_PROPERTY))
      ids.push_back(timeText(*id));
  }
  return ids;
}

std::optional<Extent> Series::ruleExtentAt(Instant originalStart) const {
  if (!master_ || !repeats())
    return std::nullopt;
  const Ref<ICalComponent> bare(i_cal_component_clone(master_));
  removeAll(bare.get(), I_CAL_EXDATE_PROPERTY);
  removeAll(bare.get(), I_CAL_EXRULE_PROPERTY);
  for (const auto& extent :
       extentsOf(bare.get(), zones_, originalStart + -kMargin, originalStart + kMargin)) {
    if (extent.start == originalStart)
      return extent;
  }
  return std::nullopt;
}

bool Series::places(Instant originalStart) const {
  return ruleExtentAt(originalStart).has_value();
}

}  // namespace tembra::eds
