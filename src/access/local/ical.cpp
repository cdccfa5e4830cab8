// Owning helpers over libical.
#include "access/local/ical.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "access/local/unread_lines.h"
#include "records/utf8.h"

namespace tembra::local::ical {
namespace {

struct StringFree {
  void operator()(char* text) const { std::free(text); }
};
using OwnedString = std::unique_ptr<char, StringFree>;

// The text as it reads after libical has written and read it again: its writer leaves out
// backspaces, form feeds and carriage returns, its parser takes blanks off both ends.
std::string asLibicalKeeps(std::string_view content) {
  std::string kept(content);
  std::erase_if(kept, [](char c) { return c == '\b' || c == '\f' || c == '\r'; });
  return std::string(withoutEdgeBlanks(kept));
}

// Removes the stamps that hold a date alone, in any component of the file: libical reads one, but
// writes it with VALUE=DATE, which it then refuses for these properties, so that a saved file would
// no longer be read.
void dropDateStamps(icalcomponent* calendar) {
  for (icalcomponent* component : descendants(calendar)) {
    for (const icalproperty_kind kind :
         {ICAL_DTSTAMP_PROPERTY, ICAL_CREATED_PROPERTY, ICAL_LASTMODIFIED_PROPERTY}) {
      for (icalproperty* property : properties(component, kind)) {
        const icalvalue* value = icalproperty_get_value(property);
        if (value && icaltime_is_date(icalvalue_get_datetime(value))) {
          icalcomponent_remove_property(component, property);
          icalproperty_free(property);
        }
      }
    }
  }
}

// Removes a RELATED parameter of an alarm's trigger that is neither START nor END, which is read
// as START. libical writes its bytes that are not UTF-8 as blanks, and reads "END\xfc" so written
// as END: the saved alarm would move to the event's end.
void dropUnreadableRelated(icalcomponent* calendar) {
  for (icalcomponent* component : descendants(calendar)) {
    for (icalproperty* trigger : properties(component, ICAL_TRIGGER_PROPERTY)) {
      icalparameter* related = icalproperty_get_first_parameter(trigger, ICAL_RELATED_PARAMETER);
      if (!related)
        continue;
      const icalparameter_related value = icalparameter_get_related(related);
      if (value != ICAL_RELATED_START && value != ICAL_RELATED_END)
        icalproperty_remove_parameter_by_ref(trigger, related);
    }
  }
}

// Writes a trigger of a day alone as that day's first moment, the time it is read as. libical
// would write it as VALUE=DATE, which it refuses for a trigger: the file would no longer be read.
void dayTriggersAsMidnight(icalcomponent* calendar) {
  for (icalcomponent* component : descendants(calendar)) {
    for (icalproperty* trigger : properties(component, ICAL_TRIGGER_PROPERTY)) {
      const std::optional<icaltimetype> day = triggerDay(trigger);
      if (!day)
        continue;
      char text[32];
      std::snprintf(text, sizeof text, "%04d%02d%02dT000000", day->year, day->month, day->day);
      if (icalvalue* midnight = icalvalue_new_from_string(ICAL_DATETIME_VALUE, text))
        icalproperty_set_value(trigger, midnight);
    }
  }
}

}  // namespace

namespace {

Component calendarOf(Component parsed) {
  if (!parsed)
    return nullptr;
  if (icalcomponent_isa(parsed.get()) == ICAL_VCALENDAR_COMPONENT)
    return parsed;
  // A text with several top-level components comes back wrapped in an XROOT.
  if (icalcomponent_isa(parsed.get()) == ICAL_XROOT_COMPONENT) {
    std::vector<icalcomponent*> calendars = children(parsed.get(), ICAL_VCALENDAR_COMPONENT);
    if (calendars.size() == 1) {
      icalcomponent_remove_component(parsed.get(), calendars.front());
      return Component(calendars.front());
    }
  }
  return nullptr;
}

// libical's own text of the component: placeholders stay placeholders.
std::string libicalText(icalcomponent* component) {
  OwnedString text(icalcomponent_as_ical_string_r(component));
  return text ? std::string(text.get()) : std::string();
}

}  // namespace

Component parse(std::string_view text) {
  // libical builds, frees and writes components recursively, so a file could choose how deep
  // the stack goes; real calendars nest four levels at most.
  if (!nestsWithin(text, kMaxNesting))
    return nullptr;
  Component parsed = calendarOf(Component(icalparser_parse_string(std::string(text).c_str())));
  // Most files hold nothing libical cannot read; the others are read again with those lines set
  // aside, each tried on its own.
  if (!parsed || !mayHoldUnreadLines(text, hasParseErrors(parsed.get())))
    return parsed;
  parsed.reset();
  const std::string kept = withUnreadLinesSetAside(text);
  return calendarOf(Component(icalparser_parse_string(kept.c_str())));
}

bool hasParseErrors(icalcomponent* component) {
  for (icalcomponent* each : descendants(component)) {
    if (icalcomponent_get_first_property(each, ICAL_XLICERROR_PROPERTY))
      return true;
  }
  return false;
}

std::optional<std::string> firstParseError(icalcomponent* component) {
  for (icalcomponent* each : descendants(component)) {
    if (icalproperty* error = icalcomponent_get_first_property(each, ICAL_XLICERROR_PROPERTY)) {
      const char* text = icalproperty_get_xlicerror(error);
      return repairUtf8(text ? text : "");
    }
  }
  return std::nullopt;
}

std::vector<icalcomponent*> descendants(icalcomponent* component) {
  std::vector<icalcomponent*> found{component};
  for (std::size_t next = 0; next < found.size(); ++next) {
    for (icalcomponent* child : children(found[next], ICAL_ANY_COMPONENT))
      found.push_back(child);
  }
  return found;
}

std::string serialize(icalcomponent* component) {
  return withUnreadLinesRestored(libicalText(component));
}

std::string serialize(icalproperty* property) {
  OwnedString text(icalproperty_as_ical_string_r(property));
  return text ? withUnreadLinesRestored(text.get()) : std::string();
}

std::string serializedValue(icalproperty* property) {
  OwnedString text(icalproperty_get_value_as_string_r(property));
  return text ? std::string(text.get()) : std::string();
}

icalcomponent* copy(icalcomponent* component) {
  icalcomponent* copied = icalcomponent_new_from_string(libicalText(component).c_str());
  return copied ? copied : icalcomponent_new_clone(component);
}

std::vector<icalcomponent*> children(icalcomponent* parent, icalcomponent_kind kind) {
  std::vector<icalcomponent*> found;
  for (icalcomponent* child = icalcomponent_get_first_component(parent, kind); child;
       child = icalcomponent_get_next_component(parent, kind)) {
    found.push_back(child);
  }
  return found;
}

std::vector<icalproperty*> properties(icalcomponent* component, icalproperty_kind kind) {
  std::vector<icalproperty*> found;
  for (icalproperty* property = icalcomponent_get_first_property(component, kind); property;
       property = icalcomponent_get_next_property(component, kind)) {
    found.push_back(property);
  }
  return found;
}

std::optional<std::string> parameterText(icalproperty* property, icalparameter_kind kind) {
  icalparameter* parameter = icalproperty_get_first_parameter(property, kind);
  if (!parameter)
    return std::nullopt;
  if (kind == ICAL_TZID_PARAMETER) {
    const char* value = icalparameter_get_tzid(parameter);
    if (!value)
      return std::nullopt;
    return std::string(value);
  }
  OwnedString value(icalparameter_as_ical_string_r(parameter));
  if (!value)
    return std::nullopt;
  return std::string(value.get());
}

std::optional<std::string> text(icalcomponent* component, icalproperty_kind kind) {
  icalproperty* property = icalcomponent_get_first_property(component, kind);
  if (!property)
    return std::nullopt;
  const icalvalue* value = icalproperty_get_value(property);
  if (!value || icalvalue_isa(value) != ICAL_TEXT_VALUE) {
    OwnedString raw(icalproperty_get_value_as_string_r(property));
    return raw ? std::optional<std::string>(repairUtf8(raw.get())) : std::nullopt;
  }
  const char* content = icalvalue_get_text(value);
  if (!content)
    return std::nullopt;
  return repairUtf8(asLibicalKeeps(content));
}

std::string uid(icalcomponent* event) {
  const char* uid = icalcomponent_get_uid(event);
  return uid ? asLibicalKeeps(uid) : std::string();
}

void removeAll(icalcomponent* component, icalproperty_kind kind) {
  for (icalproperty* property : properties(component, kind)) {
    icalcomponent_remove_property(component, property);
    icalproperty_free(property);
  }
  // A line of the kind that libical could not read goes too: it would stand beside the new value.
  const std::string name = icalproperty_kind_to_string(kind);
  for (icalproperty* property : properties(component, ICAL_X_PROPERTY)) {
    const std::optional<std::string> line = unreadLine(property);
    if (line && nameOfLine(*line) == name) {
      icalcomponent_remove_property(component, property);
      icalproperty_free(property);
    }
  }
}

void setText(icalcomponent* component, icalproperty_kind kind,
             const std::optional<std::string>& value) {
  removeAll(component, kind);
  if (!value || value->empty())
    return;
  const std::string clean = cleanText(*value);
  if (clean.empty())
    return;
  icalproperty* property = icalproperty_new(kind);
  icalproperty_set_value(property, icalvalue_new_text(clean.c_str()));
  icalcomponent_add_property(component, property);
}

std::optional<icaltimetype> triggerDay(icalproperty* trigger) {
  const icalvalue* value = icalproperty_get_value(trigger);
  if (!value || icalvalue_isa(value) != ICAL_DATE_VALUE)
    return std::nullopt;
  return icalvalue_get_date(value);
}

void keepReadableOnceWritten(icalcomponent* calendar) {
  dropDateStamps(calendar);
  dropUnreadableRelated(calendar);
  dayTriggersAsMidnight(calendar);
}

}  // namespace tembra::local::ical
