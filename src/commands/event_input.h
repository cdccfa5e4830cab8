// The event input object that create and update take from "--input": how its JSON text is read,
// how each value is judged, and how an event's alarms are replaced from its alarm input records.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "access/calendar_store.h"
#include "cli/output.h"
#include "records/dates.h"

namespace tembra {

// Containers nested deeper than this make the text count as no input object. A real input object
// nests three levels (the object, its "alarms" array, an alarm record); the limit keeps absurd
// input from costing deep recursion anywhere a value is copied, compared or written.
inline constexpr std::size_t kMaxInputDepth = 512;

// The text as a JSON object, or none when the text is not strict UTF-8, holds a NUL byte, is not
// one complete JSON document, nests deeper than kMaxInputDepth, or has a top level that is not an
// object. Of two equal keys in one object the later wins. Never reports anything.
std::optional<Json> readInputObject(std::string_view text);

// Reads the whole of standard input; none when it cannot be read or is larger than a document
// tembra takes (kMaxStandardInput).
using InputReader = std::function<std::optional<std::string>()>;

// readInputObject of the value of "--input"; none when the option is missing or is the last
// argument. The value "-" stands for the text `readInput` gives (standard input, for input larger
// than one argument may hold); empty or unreadable input is none.
std::optional<Json> inputObject(std::span<const std::string> args,
                                const InputReader& readInput = {});

// The value rules. Each looks up the key in an object and gives none when the key is missing or
// its value is not of the expected kind; JSON null is never of the expected kind. No value is
// converted from one kind to another beyond what each rule states.

// A JSON string, the empty one included.
std::optional<std::string> stringValue(const Json& object, std::string_view key);

// True when the key is there with a value other than JSON null: for keys whose values, when
// given, must be right (the additions for repeating events), rather than count as absent.
bool hasValue(const Json& object, std::string_view key);

// A JSON string that parseDate reads.
std::optional<Instant> dateValue(const Formatters& formatters, const Json& object,
                                 std::string_view key);

// JSON true or false, or a JSON number whose value is 0 (false) or 1 (true). The value decides,
// not its spelling: 1.0 and 1e0 are the number 1, -0 and 0.0 the number 0. Every other number,
// every string (the text "true" included) counts as absent.
std::optional<bool> booleanValue(const Json& object, std::string_view key);

// Any JSON number as a double, used unchanged; a JSON boolean counts as a number here (true is 1,
// false is 0).
std::optional<double> numberValue(const Json& object, std::string_view key);

// The "alarms" array when every element is a JSON object (an empty array included); nullptr when
// the key is missing, the value is not an array, or any element is not an object. The pointer
// refers into object.
const Json* alarmInputRecords(const Json& object);

// Removes every alarm of the event, then adds one alarm per usable record, in record order:
// a numeric "relative" gives an alarm that many seconds from the start; otherwise a string
// "absolute" that parseDate reads gives an alarm at that instant; any other record is skipped.
// Equal records give equal alarms, each added. Changes the event in memory only. Elements of
// records that are not objects are skipped like unusable records; records that is not an array
// counts as an empty one.
void applyAlarms(const Formatters& formatters, Event& event, const Json& records);

}  // namespace tembra
