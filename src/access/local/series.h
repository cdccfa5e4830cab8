// One event series as one iCalendar file holds it: a VEVENT, for a repeating event its
// RECURRENCE-ID overrides, and the VTIMEZONEs they use. Reads occurrences out of it
// (series_read.cpp) and writes changes into it (series_edit.cpp), keeping every property it does
// not model as it was.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "access/calendar_store.h"
#include "access/local/ical.h"
#include "access/local/times.h"

namespace tembra::local {

// A window lists at most this many occurrences of one series, the earliest: a secondly rule gives
// 86,400 a day.
inline constexpr std::size_t kMostOccurrencesPerWindow = 100'000;

// One occurrence of the series, or the one event of a series that does not repeat.
struct Occurrence {
  icalcomponent* component = nullptr;  // the master or the override it comes from
  Instant start;
  Instant end;
  Instant originalStart;  // where the series alone places it; what its override is keyed by
  bool detached = false;
};

// Of two VEVENTs that share a UID and have no RECURRENCE-ID (which exporters write, though a
// series has one), true when `later` stands for the event rather than `earlier`, which comes
// before it in the file: a higher SEQUENCE, or an equal one and a later DTSTAMP.
bool supersedes(icalcomponent* later, icalcomponent* earlier);

// True when an alarm of the component is measured from the end of its event (RELATED=END), so
// that occurrences of different lengths have alarms at different offsets from their starts.
bool hasAlarmFromEnd(icalcomponent* component);

// Times are read only in years 0000 to 9999 (wall-clock, where they are written), the years
// iCalendar holds; apply refuses to write any other, and a component whose DTSTART cannot be read
// gives no occurrence: nothing here fails on such a time.
class Series {
 public:
  // None for text that does not parse, holds errors beyond lines libical cannot read (see
  // ical::parse), holds no VEVENT, holds VEVENTs of more than one UID, or whose VEVENTs lack a
  // readable DTSTART; also when a line of a property that places the event or its zone in time
  // (DTSTART, DTEND, DURATION, RRULE, RDATE, EXDATE, EXRULE, RECURRENCE-ID, TZOFFSETFROM,
  // TZOFFSETTO) holds a value libical cannot read, since its occurrences are then unknown. Any
  // other line libical cannot read is kept without being read. Of several VEVENTs without a
  // RECURRENCE-ID, the one that `supersedes` the others is the series; the rest are kept as they
  // were and not read. When there is none and `problem` is given, it says why.
  static std::optional<Series> parse(std::string_view text, std::string* problem = nullptr);
  // A new series of one event with the UID.
  static Series create(const std::string& uid);

  Series(Series&&) = default;
  Series& operator=(Series&&) = default;

  const std::string& uid() const { return uid_; }
  bool repeats() const;
  // The series' rule as RRULE value text (its first RRULE), "" when it repeats only by RDATEs;
  // none when it does not repeat.
  std::optional<std::string> ruleText() const;
  // True when the series has a last occurrence: it does not repeat, or every RRULE has a COUNT or
  // an UNTIL.
  bool bounded() const;

  // Occurrences that overlap [from, to): start before `to`, end after `from` (a zero-length one
  // at or after `from`), ordered by start: the earliest kMostOccurrencesPerWindow of them.
  // EXDATEs are left out; overrides replace theirs. Nothing starts after 9999-12-31 (wall-clock
  // time).
  std::vector<Occurrence> occurrences(Instant from, Instant to) const;
  // The earliest occurrence by its original start; none when every one is excluded.
  std::optional<Occurrence> first() const;
  // The occurrence whose original start is `originalStart`, as it stands; none when the series
  // places none there (the rule, an RDATE or an override) or an EXDATE removed it.
  std::optional<Occurrence> occurrenceAt(Instant originalStart) const;

  // What the store reports of an occurrence, without identifier and calendar.
  Event eventAt(const Occurrence& occurrence) const;

  // True when iCalendar text can hold the event's dates and alarms as a new event, in UTC: times
  // and all-day dates of the years 0000 to 9999 (an all-day event ends by 9999-12-31, its last
  // day 9999-12-30), relative alarms within an int of seconds. Every event that passes reads back
  // as it was saved, but for fractions of a second.
  static bool canHold(const Event& event);

  // Writes the event's texts, times, all-day flag and alarms into the occurrence's component:
  // for an occurrence of a repeating series an override (made when there is none), else the
  // VEVENT itself. Only what differs from the stored values is rewritten; LAST-MODIFIED is set
  // to now, and DTSTAMP too unless a clock ahead of this one made it later. Returns the
  // occurrence as it now stands; none, with nothing changed, when a date or an alarm could not be
  // written as it is in the zone the event keeps.
  std::optional<Occurrence> apply(const Event& event, const std::optional<Occurrence>& occurrence,
                                  Instant now);
  // Removes one occurrence of a repeating series: an EXDATE, and its override if it has one; the
  // series' LAST-MODIFIED and DTSTAMP become now, as for apply.
  void exclude(const Occurrence& occurrence, Instant now);
  // Gives every VEVENT of the series this UID, replacing the one it had (or had not).
  void setUid(const std::string& uid);

  // Changes that reach beyond one occurrence: those of a save for this occurrence and those after
  // it, or for every occurrence, which is that of the first.

  // Puts what `event` changed (its change set; every field for a value saved whole) onto every
  // occurrence of the series: the master and each override. Each one's dates move as far as the
  // change moves those of `named`, and the RECURRENCE-IDs, EXDATEs and RDATEs of the occurrences
  // with them; an end left before its start is repaired in each. A rule's BY parts do not move.
  // Returns `named` as it now stands; none, with the series half changed, when a date could not
  // be written (the caller then writes nothing).
  std::optional<Occurrence> applyToAll(const Event& event, const Occurrence& named, Instant now);
  // Ends the series before the occurrence whose original start is `originalStart`: its rules end
  // just before it (an UNTIL in the form of DTSTART), and its RDATEs, EXDATEs and overrides from
  // there on go.
  void endBefore(Instant originalStart, Instant now);
  // The occurrences from `originalStart` on as a series of their own, with the UID, DTSTART there,
  // what is left of a COUNT, the RDATEs, EXDATEs and overrides from there on, and a RELATED-TO of
  // this series; none when it cannot be read back.
  std::optional<Series> partFrom(Instant originalStart, const std::string& uid, Instant now) const;
  // Gives the series a rule (RRULE value text), replacing its RRULEs: overrides of occurrences the
  // rule does not have go; UNTIL is written in the form of DTSTART. "" makes it the single event
  // of its first occurrence, without its dates and overrides. False, with nothing changed, when
  // libical does not read the rule.
  bool setRule(const std::string& rule, Instant now);

  // Adds a VTIMEZONE from the system's zone data for each TZID the file uses but does not define.
  void addMissingTimeZones();
  std::string text() const;

  // The alarms of a component; relative ones are offsets from the start, `duration` being the
  // occurrence's length (for triggers related to its end).
  std::vector<Alarm> alarmsOf(icalcomponent* component, double duration) const;
  // The alarm of one VALARM, as alarmsOf reads it; none without a trigger.
  std::optional<Alarm> alarmOf(icalcomponent* alarm, double duration) const;

 private:
  Series() = default;
  // None when the component's DTSTART cannot be read (only apply writes such a one). An
  // occurrence of the series itself lasts `length` seconds when given (an RDATE's period), else
  // as long as the series.
  std::optional<Occurrence> occurrenceFor(Instant originalStart, icalcomponent* override,
                                          std::optional<double> length = std::nullopt) const;
  // The lengths of the occurrences that RDATEs of periods give, by original start in whole
  // seconds; none in a series of whole days, whose occurrences keep its days.
  std::map<std::int64_t, double> periodLengths() const;
  // The one occurrence of a series that does not repeat.
  std::optional<Occurrence> single() const;
  // The original starts in [earliest, to) of DTSTART, the RRULEs and the RDATEs: all of those
  // before `from`, and the earliest `limit` from `from` on.
  std::vector<Instant> ruleStarts(Instant earliest, Instant from, Instant to,
                                  std::size_t limit) const;
  // The EXDATEs of the series, as instants and as whole local days.
  struct Exclusions {
    std::set<std::int64_t> instants;
    std::set<int> days;
    bool contains(Instant originalStart) const;
  };
  Exclusions exclusions() const;
  std::map<std::int64_t, icalcomponent*> overridesByStart() const;
  icalcomponent* overrideAt(Instant originalStart) const;
  double masterDuration() const;
  // Writes the event's texts, times, all-day flag and alarms into the component, those that differ
  // from `stored` (all without it), in the zone of `form`; LAST-MODIFIED and DTSTAMP become now.
  void writeFields(icalcomponent* target, const Event& event, const std::optional<Event>& stored,
                   const TimeValue& form, Instant now);

  ical::Component calendar_;
  std::unique_ptr<TimeReader> times_;  // zones of this calendar; valid while calendar_ lives
  icalcomponent* master_ = nullptr;
  std::vector<icalcomponent*> overrides_;
  std::string uid_;
};

}  // namespace tembra::local
