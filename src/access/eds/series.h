// One event series as an EDS calendar holds it: the master VEVENT and its detached instances
// (VEVENTs with a RECURRENCE-ID), all of one UID. Occurrences of the rule come from EDS's own
// recurrence generator (series.cpp); changes that reach beyond one occurrence are made in copies
// of the components (series_changes.cpp).
#pragma once

#include <libecal/libecal.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "access/calendar_store.h"
#include "access/eds/event_component.h"
#include "access/eds/glib_handles.h"
#include "access/eds/times.h"

namespace tembra::eds {

// One occurrence of the series, or the one event of a series that does not repeat.
struct Occurrence {
  ICalComponent* component = nullptr;  // the master or the detached instance it comes from
  Instant start;
  Instant end;            // for an all-day event one second before the midnight that ends it
  Instant originalStart;  // where the rule alone places it: what a detached instance is keyed by
  bool detached = false;
};

// What a change to an occurrence is written into: a copy of the component it comes from, or, for
// an occurrence of the rule, a new detached instance whose dates are still to be written.
struct Draft {
  Ref<ICalComponent> component;
  bool newInstance = false;
};

// The components of one UID as they are to be written: the master first (when there is one),
// then the detached instances.
using Components = std::vector<Ref<ICalComponent>>;

class Series {
 public:
  // The VEVENTs of one UID as the calendar returned them; none when there is no VEVENT with a
  // readable DTSTART among them.
  static std::optional<Series> of(std::vector<Ref<ICalComponent>> components, Zones zones);

  const std::string& uid() const { return uid_; }
  bool hasMaster() const { return master_ != nullptr; }
  // True when the master has a rule or extra dates (RRULE, RDATE), or when there is no master and
  // the calendar keeps the occurrences as instances only.
  bool repeats() const;

  // The occurrences that overlap [from, to) (start before `to`, end after `from`, a zero-length one
  // at or after `from`), ordered by start; detached instances by their own dates.
  std::vector<Occurrence> occurrences(Instant from, Instant to) const;
  // The occurrence with the earliest original start; none when every one is excluded.
  std::optional<Occurrence> first() const;
  // The occurrence the rule places at `originalStart`, as it stands.
  std::optional<Occurrence> occurrenceAt(Instant originalStart) const;

  // What the store reports of an occurrence, without identifier and calendar.
  Event eventAt(const Occurrence& occurrence) const;
  // The series' rule as RRULE value text (the master's first RRULE), "" when it repeats by RDATEs
  // or detached instances alone; none when it does not repeat.
  std::optional<std::string> ruleText() const;

  // The component a change of the occurrence is written into and saved as.
  Draft draftFor(const Occurrence& occurrence) const;
  // The RECURRENCE-ID text by which EDS finds an occurrence of this series.
  std::string recurrenceIdOf(const Occurrence& occurrence) const;

  const Zones& zones() const { return zones_; }
  // Copies of the components, the master first.
  Components copies() const;
  // The RECURRENCE-ID texts of the detached instances: EDS files each instance under its own.
  std::vector<std::string> recurrenceIds() const;

  // Changes that reach beyond one occurrence. Each gives the components of the series with the
  // change made, and leaves the series as it is.

  // What `event` changed (its change set; every field for a value saved whole) put onto the
  // occurrences from `named` on (from the first: all of them): the master and each detached
  // instance. Each one's dates move as far as those of `named` move, and the RECURRENCE-IDs,
  // EXDATEs, RDATEs and UNTIL with them; an end left before its start is repaired in each. None
  // when EDS would not keep a date.
  std::optional<Components> changedWhole(const Event& event, const Occurrence& named,
                                         Instant now) const;
  // The series ended before the occurrence whose original start is `originalStart`: a COUNT
  // counts only the occurrences before it, other rules end just before it (an UNTIL in the form
  // of DTSTART), and its RDATEs, EXDATEs and detached instances from there on go.
  Components endedBefore(Instant originalStart, Instant now) const;
  // The occurrences from `originalStart` on as a series of their own, with the UID: DTSTART
  // there, what is left of a COUNT, the RDATEs, EXDATEs and detached instances from there on, and
  // a RELATED-TO of this series. None without a master.
  std::optional<Components> partFrom(Instant originalStart, const std::string& uid,
                                     Instant now) const;
  // The series with the rule (RRULE value text) in place of its RRULEs: the detached instances of
  // occurrences the rule does not have go. "" makes it the single event of its first occurrence,
  // without its RDATEs, EXDATEs and detached instances. None without a master, or for a rule
  // libical does not read.
  std::optional<Components> withRule(const std::string& rule, Instant now) const;

 private:
  Series(std::vector<Ref<ICalComponent>> components, Zones zones)
      : components_(std::move(components)), zones_(zones) {}

  // The extents of the occurrences of the rule that overlap [from, to], as the generator gives
  // them.
  std::vector<Extent> ruleExtents(Instant from, Instant to) const;
  std::optional<Occurrence> single(ICalComponent* component, bool detached) const;
  ICalComponent* detachedAt(Instant originalStart) const;
  // A series of copies of the components, for a change to be made in.
  Series copied() const;
  // The changes above, made in this series' own components.
  bool applyToAll(const Event& event, const Occurrence& named, Instant now);
  void endBefore(Instant originalStart, Instant now);
  // Drops the detached instances whose original start the predicate accepts.
  template <class Accepts>
  void dropDetached(Accepts&& accepts);
  // Moves the master's DTSTART to the occurrence of the original start, and its DTEND as far.
  void startAt(Instant originalStart);
  // Drops the master's EXDATEs or RDATEs from `originalStart` on (`from`), or those before it.
  void dropDates(ICalPropertyKind kind, bool from, Instant originalStart);
  // True when the master's rules and RDATEs place an occurrence at the instant, EXDATEs aside.
  bool places(Instant originalStart) const;
  // Where the rules and RDATEs place the occurrence of the original start; none when they place
  // none there.
  std::optional<Extent> ruleExtentAt(Instant originalStart) const;

  std::vector<Ref<ICalComponent>> components_;
  Zones zones_;
  ICalComponent* master_ = nullptr;
  std::vector<std::pair<Instant, ICalComponent*>> detached_;  // by original start
  std::string uid_;
};

// Gives the master the rule (RRULE value text) in place of its RRULEs, its UNTIL in the form of
// DTSTART (a date for a series of days, else UTC, or local time for a floating DTSTART, as RFC 5545
// asks). False, with nothing changed, for a rule libical does not read.
bool setRule(ICalComponent* master, const std::string& rule, const Zones& zones);

// Why EDS cannot keep the rule (RRULE value text), in the user's words; none when it can.
std::optional<std::string> ruleProblem(const std::string& rule);

}  // namespace tembra::eds
