// Reaches, named occurrences and rules of the requests for repeating events.
#include "commands/repeating.h"

#include "access/recurrence_rule.h"
#include "commands/event_input.h"

namespace tembra {

std::optional<Reach> reachNamed(std::string_view text) {
  if (text == "this")
    return Reach::thisOccurrence;
  if (text == "future")
    return Reach::future;
  if (text == "all")
    return Reach::all;
  return std::nullopt;
}

RuleInput recurrenceInput(const Json& input, CalendarStore& store) {
  if (!hasValue(input, "recurrence"))
    return {};
  const std::optional<std::string> text = stringValue(input, "recurrence");
  if (!text)
    return {std::nullopt, "不是文本"};
  if (text->empty())
    return {std::string(), std::nullopt};
  std::string problem;
  const std::optional<RecurrenceRule> rule = parseRecurrenceRule(*text, problem);
  if (!rule)
    return {std::nullopt, problem};
  // Kept in one spelling, whatever case and order the host wrote it in.
  std::string written = recurrenceRuleText(*rule);
  if (auto refused = store.ruleProblem(written))
    return {std::nullopt, std::move(refused)};
  return {std::move(written), std::nullopt};
}

Answer<std::optional<Event>> namedEvent(CalendarStore& store, const std::string& id,
                                        const std::optional<Instant>& occurrence) {
  return occurrence ? store.occurrenceWithIdentifier(id, *occurrence)
                    : store.eventWithIdentifier(id);
}

Answer<std::optional<Reached>> reachedFrom(CalendarStore& store, const std::string& id, Event named,
                                           Reach reach) {
  if (!named.hasRecurrenceRules || reach == Reach::thisOccurrence)
    return std::optional<Reached>(Reached{std::move(named), Span::thisEvent});
  if (reach == Reach::future)
    return std::optional<Reached>(Reached{std::move(named), Span::futureEvents});
  // Every occurrence is the future of the first, as the framework reaches them.
  Answer<std::optional<Event>> first = store.eventWithIdentifier(id);
  if (first.failed())
    return first.error();
  if (!first.value())
    return std::optional<Reached>();
  return std::optional<Reached>(Reached{std::move(*first.value()), Span::futureEvents});
}

}  // namespace tembra
