// The event input object and its alarms.
#include "commands/event_input.h"

#include "cli/process.h"
#include "records/utf8.h"

namespace tembra {
namespace {

// The value under key, or nullptr; a top level that is not an object has no keys.
const Json* member(const Json& object, std::string_view key) {
  if (!object.is_object())
    return nullptr;
  const auto found = object.find(std::string(key));
  return found == object.end() ? nullptr : &*found;
}

}  // namespace

std::optional<Json> readInputObject(std::string_view text) {
  // The reader takes a NUL byte for the end of the text, so "{}" followed by NUL and anything
  // would pass; no JSON document holds a raw NUL, so refuse it here.
  if (!isValidUtf8(text) || text.find('\0') != std::string_view::npos)
    return std::nullopt;
  bool tooDeep = false;
  // The reader itself keeps its nesting on the heap; the depth check spares everything after it.
  // Returning false drops the too-deep container instead of building it.
  const auto limitDepth = [&](int depth, Json::parse_event_t event, Json&) {
    const bool opens =
        event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start;
    if (opens && static_cast<std::size_t>(depth) >= kMaxInputDepth) {
      tooDeep = true;
      return false;
    }
    return true;
  };
  Json value = Json::parse(text.begin(), text.end(), limitDepth, /*allow_exceptions=*/false);
  if (tooDeep || value.is_discarded() || !value.is_object())
    return std::nullopt;
  return value;
}

std::optional<Json> inputObject(std::span<const std::string> args, const InputReader& readInput) {
  std::optional<std::string> text = argValue(args, "--input");
  if (text && *text == "-")
    text = readInput ? readInput() : std::nullopt;
  if (!text)
    return std::nullopt;
  return readInputObject(*text);
}

bool hasValue(const Json& object, std::string_view key) {
  const Json* value = member(object, key);
  return value != nullptr && !value->is_null();
}

std::optional<std::string> stringValue(const Json& object, std::string_view key) {
  const Json* value = member(object, key);
  if (value == nullptr || !value->is_string())
    return std::nullopt;
  return value->get<std::string>();
}

std::optional<Instant> dateValue(const Formatters& formatters, const Json& object,
                                 std::string_view key) {
  const std::optional<std::string> text = stringValue(object, key);
  if (!text)
    return std::nullopt;
  return parseDate(formatters, *text);
}

std::optional<bool> booleanValue(const Json& object, std::string_view key) {
  const Json* value = member(object, key);
  if (value == nullptr)
    return std::nullopt;
  if (value->is_boolean())
    return value->get<bool>();
  if (value->is_number()) {
    const double number = value->get<double>();
    if (number == 0)
      return false;
    if (number == 1)
      return true;
  }
  return std::nullopt;
}

std::optional<double> numberValue(const Json& object, std::string_view key) {
  const Json* value = member(object, key);
  if (value == nullptr)
    return std::nullopt;
  if (value->is_number())
    return value->get<double>();
  if (value->is_boolean())
    return value->get<bool>() ? 1.0 : 0.0;
  return std::nullopt;
}

const Json* alarmInputRecords(const Json& object) {
  const Json* value = member(object, "alarms");
  if (value == nullptr || !value->is_array())
    return nullptr;
  for (const Json& element : *value) {
    if (!element.is_object())
      return nullptr;
  }
  return value;
}

void applyAlarms(const Formatters& formatters, Event& event, const Json& records) {
  std::vector<Alarm> alarms;
  if (records.is_array()) {
    for (const Json& record : records) {
      if (const std::optional<double> offset = numberValue(record, "relative")) {
        alarms.push_back(Alarm::withRelativeOffset(*offset));
      } else if (const std::optional<Instant> date = dateValue(formatters, record, "absolute")) {
        alarms.push_back(Alarm::withAbsoluteDate(*date));
      }
    }
  }
  event.setAlarms(std::move(alarms));
}

}  // namespace tembra
