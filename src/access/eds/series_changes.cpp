// Changes that reach beyond one occurrence of an EDS series: to all of them, its end, its split,
// its rule; each made in a copy of the series' components.
#include <algorithm>
#include <tuple>

#include "access/eds/series.h"
#include "access/recurrence_rule.h"

namespace tembra::eds {
namespace {

// A rule whose COUNT is counted up to a later occurrence is walked at most this far.
constexpr int kMostCounted = 1'000'000;

const std::string kUnkeptRule = "日历服务无法保存这个重复规则";

// UNTIL as the form of DTSTART asks: a date for a series of days, else UTC, or local time for a
// floating DTSTART. RFC 5545 says so, and other readers refuse the rule otherwise.
std::string untilText(const Zones& zones, const TimeForm& form, Instant until) {
  if (form.kind == TimeForm::Kind::date)
    return timeText(localDate(zones, until));
  if (form.kind == TimeForm::Kind::floating)
    return timeText(timeIn(zones, form, until));
  return timeText(utcTime(until));
}

// Replaces the value of an RRULE; false, with nothing changed, for text libical does not read.
bool setRuleValue(ICalProperty* property, const RecurrenceRule& rule) {
  const Ref<ICalRecurrence> value(
      i_cal_recurrence_new_from_string(recurrenceRuleText(rule).c_str()));
  if (!value || i_cal_recurrence_get_freq(value.get()) == I_CAL_NO_RECURRENCE)
    return false;
  i_cal_property_set_rrule(property, value.get());
  // EDS's note of where the rule ends, which it works out again as it saves.
  i_cal_property_remove_parameter_by_name(property, "X-EVOLUTION-ENDDATE");
  return true;
}

// How many starts the RRULE places before `before`, from the master's DTSTART; at most its COUNT.
int startsBefore(ICalProperty* property, const TimeValue& start, const Zones& zones,
                 Instant before) {
  const Ref<ICalRecurrence> rule(i_cal_property_get_rrule(property));
  if (!rule)
    return 0;
  const Ref<ICalRecurIterator> walk(i_cal_recur_iterator_new(rule.get(), start.time.get()));
  if (!walk)
    return 0;
  int count = 0;
  const int limit = std::min(kMostCounted, std::max(i_cal_recurrence_get_count(rule.get()), 0));
  while (count < limit) {
    const Ref<ICalTime> next(i_cal_recur_iterator_next(walk.get()));
    if (!next || i_cal_time_is_null_time(next.get()))
      break;
    if (!(instantOf(zones, TimeValue{Ref<ICalTime>(i_cal_time_clone(next.get())), start.form}) <
          before)) {
      break;
    }
    ++count;
  }
  return count;
}

// The instant an EXDATE or RDATE names. EDS writes the EXDATE of an occurrence it removes from a
// series in a named zone as wall-clock time without the TZID, and reads it in DTSTART's zone.
Instant listedInstant(const Zones& zones, const TimeValue& value, const TimeForm& start) {
  if (value.form.kind == TimeForm::Kind::floating && start.kind == TimeForm::Kind::zoned) {
    return Instant{static_cast<double>(
        i_cal_time_as_timet_with_zone(value.time.get(), zones.named(start.tzid)))};
  }
  return instantOf(zones, value);
}

}  // namespace

template <class Accepts>
void Series::dropDetached(Accepts&& accepts) {
  std::erase_if(detached_, [&](const std::pair<Instant, ICalComponent*>& entry) {
    if (!accepts(entry.first))
      return false;
    std::erase_if(components_, [&](const Ref<ICalComponent>& component) {
      return component.get() == entry.second;
    });
    return true;
  });
}

void Series::startAt(Instant originalStart) {
  const auto start = timeOf(master_, I_CAL_DTSTART_PROPERTY);
  const auto extent = ruleExtentAt(originalStart);
  if (!start || !extent)
    return;
  setTime(master_, I_CAL_DTSTART_PROPERTY, timeIn(zones_, start->form, originalStart));
  // As long as its occurrence there; a DURATION stays as it is.
  if (const auto end = timeOf(master_, I_CAL_DTEND_PROPERTY)) {
    setTime(master_, I_CAL_DTEND_PROPERTY,
            start->form.kind == TimeForm::Kind::date
                ? localDate(zones_, extent->end + 1.0)
                : timeIn(zones_, end->form.kind == TimeForm::Kind::date ? start->form : end->form,
                         extent->end));
  }
}

void Series::dropDates(ICalPropertyKind kind, bool from, Instant originalStart) {
  const auto start = timeOf(master_, I_CAL_DTSTART_PROPERTY);
  if (!start)
    return;
  for (const Ref<ICalProperty>& property : propertiesOf(master_, kind)) {
    const auto value = timeOf(property.get());
    if (value && (listedInstant(zones_, *value, start->form) >= originalStart) == from)
      removeProperty(master_, property);
  }
}

bool Series::applyToAll(const Event& event, const Occurrence& named, Instant now) {
  // Each occurrence moves as far as the change moves the one named, and takes the fields the
  // change set onto what it holds itself.
  const OccurrenceShift shift = occurrenceShift(event, eventAt(named));
  const double byStart = shift.start;
  const auto movedOnto = [&](const Event& own) { return shift.onto(event, own); };
  // The detached instances as they stand, read before the master changes.
  std::vector<std::tuple<ICalComponent*, Instant, Event>> instances;
  for (const auto& [original, component] : detached_) {
    auto occurrence = single(component, master_ != nullptr);
    if (!occurrence || original < named.originalStart)
      continue;
    occurrence->originalStart = original;
    instances.emplace_back(component, original, eventAt(*occurrence));
  }

  std::optional<TimeForm> form;  // of the master's DTSTART once changed
  bool moved = false;
  if (master_) {
    const auto extent = extentOf(master_, zones_);
    const auto start = timeOf(master_, I_CAL_DTSTART_PROPERTY);
    if (!extent || !start)
      return false;
    const Event own =
        eventAt(Occurrence{master_, extent->start, extent->end, extent->start, false});
    const Event changed = movedOnto(own);
    if (!canHold(changed))
      return false;
    writeEvent(master_, changed, own, zones_, now);
    form = timeOf(master_, I_CAL_DTSTART_PROPERTY)->form;
    moved = byStart != 0 || form->kind != start->form.kind;
    if (moved) {
      // A rule ends where it ended, moved as far: its last occurrence stays within it.
      for (const Ref<ICalProperty>& property : propertiesOf(master_, I_CAL_RRULE_PROPERTY)) {
        std::string problem;
        auto rule = parseRecurrenceRule(valueText(property.get()), problem);
        const auto until = rule ? untilInstant(*rule) : std::nullopt;
        if (!until)
          continue;
        rule->until = untilText(zones_, *form, *until + byStart);
        setRuleValue(property.get(), *rule);
      }
      // EXDATEs and RDATEs keep naming the occurrences they named, in the form DTSTART takes.
      for (const ICalPropertyKind kind : {I_CAL_EXDATE_PROPERTY, I_CAL_RDATE_PROPERTY}) {
        for (const Ref<ICalProperty>& property : propertiesOf(master_, kind)) {
          const auto value = timeOf(property.get());
          if (!value)
            continue;
          const Instant at = listedInstant(zones_, *value, start->form) + byStart;
          removeProperty(master_, property);
          if (Ref<ICalProperty> again = timeProperty(kind, timeIn(zones_, *form, at)))
            i_cal_component_take_property(master_, again.release());
        }
      }
    }
  }
  for (auto& [component, original, own] : instances) {
    const Event changed = movedOnto(own);
    if (!canHold(changed))
      return false;
    writeEvent(component, changed, own, zones_, now);
    // Without a master the occurrences follow no rule here: their keys stay.
    if (moved)
      setTime(component, I_CAL_RECURRENCEID_PROPERTY, timeIn(zones_, *form, original + byStart));
  }
  return true;
}

std::optional<Components> Series::changedWhole(const Event& event, const Occurrence& named,
                                               Instant now) const {
  Series copy = copied();
  const auto again = copy.repeats() ? copy.occurrenceAt(named.originalStart) : copy.first();
  if (!again || !copy.applyToAll(event, *again, now))
    return std::nullopt;
  return std::move(copy.components_);
}

void Series::endBefore(Instant originalStart, Instant now) {
  dropDetached([&](Instant original) { return original >= originalStart; });
  const auto start = master_ ? timeOf(master_, I_CAL_DTSTART_PROPERTY) : std::nullopt;
  if (!start)
    return;
  for (const Ref<ICalProperty>& property : propertiesOf(master_, I_CAL_RRULE_PROPERTY)) {
    std::string problem;
    auto rule = parseRecurrenceRule(valueText(property.get()), problem);
    if (!rule)
      continue;
    if (rule->count) {
      // A COUNT stays a COUNT, of the occurrences before.
      const int before = startsBefore(property.get(), *start, zones_, originalStart);
      if (before >= *rule->count)
        continue;
      if (before == 0) {
        removeProperty(master_, property);
        continue;
      }
      rule->count = before;
    } else {
      const auto until = untilInstant(*rule);
      if (until && *until < originalStart)
        continue;
      rule->until = untilText(zones_, start->form, originalStart + -1.0);
    }
    setRuleValue(property.get(), *rule);
  }
  dropDates(I_CAL_RDATE_PROPERTY, true, originalStart);
  dropDates(I_CAL_EXDATE_PROPERTY, true, originalStart);
  setTime(master_, I_CAL_DTSTAMP_PROPERTY, utcTime(now));
  setTime(master_, I_CAL_LASTMODIFIED_PROPERTY, utcTime(now));
}

Components Series::endedBefore(Instant originalStart, Instant now) const {
  Series copy = copied();
  copy.endBefore(originalStart, now);
  return std::move(copy.components_);
}

std::optional<Components> Series::partFrom(Instant originalStart, const std::string& uid,
                                           Instant now) const {
  const auto start = master_ ? timeOf(master_, I_CAL_DTSTART_PROPERTY) : std::nullopt;
  if (!start || !places(originalStart))
    return std::nullopt;
  Series part = copied();
  ICalComponent* master = part.master_;
  part.startAt(originalStart);
  // A COUNT counts from the new start what is left of it.
  for (const Ref<ICalProperty>& property : propertiesOf(master, I_CAL_RRULE_PROPERTY)) {
    std::string problem;
    auto rule = parseRecurrenceRule(valueText(property.get()), problem);
    if (!rule || !rule->count)
      continue;
    const int before = startsBefore(property.get(), *start, zones_, originalStart);
    rule->count = std::max(1, *rule->count - before);
    setRuleValue(property.get(), *rule);
  }
  part.dropDates(I_CAL_RDATE_PROPERTY, false, originalStart);
  part.dropDates(I_CAL_EXDATE_PROPERTY, false, originalStart);
  part.dropDetached([&](Instant original) { return original < originalStart; });
  for (const Ref<ICalComponent>& component : part.components_)
    i_cal_component_set_uid(component.get(), uid.c_str());
  // Related to the series it was split from, as calendar programs relate the parts.
  removeAll(master, I_CAL_RELATEDTO_PROPERTY);
  ICalProperty* related = i_cal_property_new_relatedto(uid_.c_str());
  i_cal_property_take_parameter(related, i_cal_parameter_new_reltype(I_CAL_RELTYPE_SIBLING));
  i_cal_component_take_property(master, related);
  setTime(master, I_CAL_CREATED_PROPERTY, utcTime(now));
  setTime(master, I_CAL_DTSTAMP_PROPERTY, utcTime(now));
  setTime(master, I_CAL_LASTMODIFIED_PROPERTY, utcTime(now));
  return std::move(part.components_);
}

std::optional<Components> Series::withRule(const std::string& rule, Instant now) const {
  if (!master_)
    return std::nullopt;
  Series changed = copied();
  ICalComponent* master = changed.master_;
  if (rule.empty()) {
    // The single event of the first occurrence, without the occurrences changed on their own.
    if (const auto firstOne = first())
      changed.startAt(firstOne->originalStart);
    for (const ICalPropertyKind kind : {I_CAL_RRULE_PROPERTY, I_CAL_RDATE_PROPERTY,
                                        I_CAL_EXDATE_PROPERTY, I_CAL_EXRULE_PROPERTY}) {
      removeAll(master, kind);
    }
    changed.dropDetached([](Instant) { return true; });
  } else {
    if (!setRule(master, rule, zones_))
      return std::nullopt;
    // Instances of occurrences the new rule does not have would stand for nothing.
    changed.dropDetached([&](Instant original) { return !changed.places(original); });
  }
  setTime(master, I_CAL_DTSTAMP_PROPERTY, utcTime(now));
  setTime(master, I_CAL_LASTMODIFIED_PROPERTY, utcTime(now));
  return std::move(changed.components_);
}

bool setRule(ICalComponent* master, const std::string& rule, const Zones& zones) {
  std::string problem;
  auto parsed = parseRecurrenceRule(rule, problem);
  const auto start = timeOf(master, I_CAL_DTSTART_PROPERTY);
  if (!parsed || !start)
    return false;
  if (const auto until = untilInstant(*parsed))
    parsed->until = untilText(zones, start->form, *until);
  Ref<ICalProperty> property(i_cal_property_new(I_CAL_RRULE_PROPERTY));
  if (!setRuleValue(property.get(), *parsed))
    return false;
  removeAll(master, I_CAL_RRULE_PROPERTY);
  i_cal_component_take_property(master, property.release());
  return true;
}

std::optional<std::string> ruleProblem(const std::string& rule) {
  const Ref<ICalRecurrence> parsed(i_cal_recurrence_new_from_string(rule.c_str()));
  if (!parsed || i_cal_recurrence_get_freq(parsed.get()) == I_CAL_NO_RECURRENCE)
    return kUnkeptRule;
  // libical walks no occurrence of a rule whose parts RFC 5545 does not allow together (BYWEEKNO
  // but yearly, BYYEARDAY daily to monthly, BYMONTHDAY weekly): EDS would show none.
  const Ref<ICalTime> start(i_cal_time_new_from_string("20240101T090000Z"));
  const Ref<ICalRecurIterator> walk(i_cal_recur_iterator_new(parsed.get(), start.get()));
  if (!walk)
    return kUnkeptRule;
  return std::nullopt;
}

}  // namespace tembra::eds
