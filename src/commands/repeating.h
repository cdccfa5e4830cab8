// What the commands share for repeating events: how far a request reaches in a series, the
// occurrence it names, and the rule it sets. All of it is asked for by option values and input
// keys of their own, so that a request without them is answered as before.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "access/calendar_store.h"
#include "cli/output.h"
#include "records/dates.h"

namespace tembra {

// How far a request reaches in a series: the occurrence it names, it and those after it, or
// every occurrence, changed ones included.
enum class Reach { thisOccurrence, future, all };

// The reach "this", "future" or "all" names; none for any other text.
std::optional<Reach> reachNamed(std::string_view text);

// The rule an input object's "recurrence" sets, as RRULE value text ("" for none): absent when
// the key is missing or null. Refuses anything else that is not a rule the store can keep.
struct RuleInput {
  std::optional<std::string> rule;
  std::optional<std::string> problem;  // what the recurrence message says is wrong
};
RuleInput recurrenceInput(const Json& input, CalendarStore& store);

// The event a request names: the occurrence of `id` that starts (originally) at `occurrence`, or
// without one the event (for a series, its first occurrence); none when there is no such event
// or occurrence.
Answer<std::optional<Event>> namedEvent(CalendarStore& store, const std::string& id,
                                        const std::optional<Instant>& occurrence);

// What a save or removal that reaches `reach` from `named` works on: the named occurrence, or for
// every occurrence of a series its first, with the store's span.
struct Reached {
  Event event;
  Span span = Span::thisEvent;
};
Answer<std::optional<Reached>> reachedFrom(CalendarStore& store, const std::string& id, Event named,
                                           Reach reach);

}  // namespace tembra
