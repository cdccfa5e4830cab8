// Fuzzes the event input reader with arbitrary bytes, then every value rule, applyAlarms and the
// records built from the result; also the printable form of arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cli/output.h"
#include "commands/event_input.h"
#include "records/event_record.h"
#include "records/utf8.h"

namespace tembra {
namespace {

const Formatters kFormatters;

void require(bool condition) {
  if (!condition)
    __builtin_trap();
}

// The keys create and update read, each judged by every rule whatever its intended kind.
constexpr std::string_view kKeys[] = {"id",     "title",    "notes",   "location",
                                      "start",  "end",      "allDay",  "calendarId",
                                      "alarms", "relative", "absolute"};

void exercise(const Json& input) {
  require(input.is_object());
  for (const std::string_view key : kKeys) {
    stringValue(input, key);
    dateValue(kFormatters, input, key);
    booleanValue(input, key);
    numberValue(input, key);
  }

  // Build the event as create would, then show it as list would: everything the reader let in
  // must be writable as JSON.
  Event event;
  event.eventIdentifier = stringValue(input, "id");
  event.title = stringValue(input, "title");
  event.notes = stringValue(input, "notes");
  event.location = stringValue(input, "location");
  event.startDate = dateValue(kFormatters, input, "start").value_or(Instant{0});
  event.endDate = dateValue(kFormatters, input, "end").value_or(*event.startDate + 3600);
  event.isAllDay = booleanValue(input, "allDay").value_or(false);
  event.alarms = {Alarm::withRelativeOffset(-600)};
  if (const Json* records = alarmInputRecords(input)) {
    require(records->is_array());
    applyAlarms(kFormatters, event, *records);
    require(event.alarms.size() <= records->size());
  }
  encodeJson(eventJSON(kFormatters, event));

  // Copying and writing recurse; the depth limit must keep both safe for anything accepted.
  const Json copy = input;
  require(copy == input);
  encodeJson(copy);
}

}  // namespace
}  // namespace tembra

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tembra;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const std::string shown = repairUtf8(text);
  require(isValidUtf8(shown));
  require(!isValidUtf8(text) || shown == text);

  if (const std::optional<Json> input = readInputObject(text))
    exercise(*input);
  return 0;
}
