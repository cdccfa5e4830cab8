// Two ways of producing one JSON document from the same calls: JsonWriter writes compact text
// as it goes, JsonBuilder builds a value. Records are defined once, as a sequence of calls, and a
// list of thousands of them is written without building a value for each.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace tembra {

using Json = nlohmann::json;

// Compact JSON text: no blanks, "/" written as "\/", characters outside ASCII as raw UTF-8,
// control characters escaped. A string that is not well-formed UTF-8 makes the whole text
// invalid. Keys come in the order written; callers write them sorted, as a value's keys are.
class JsonWriter {
 public:
  JsonWriter() = default;
  explicit JsonWriter(std::size_t expectedSize) { text_.reserve(expectedSize); }

  void beginObject() { open('{'); }
  void endObject() { close('}'); }
  void beginArray() { open('['); }
  void endArray() { close(']'); }
  void key(std::string_view name);
  void string(std::string_view text);
  void integer(std::int64_t number);
  void boolean(bool value);
  // Any value: objects with their keys in the value's (sorted) order.
  void value(const Json& value);

  // False when a string was not UTF-8 or a value had no JSON text (a float that is not finite).
  bool valid() const { return valid_; }
  const std::string& text() const { return text_; }

 private:
  void open(char bracket);
  void close(char bracket);
  void separate();
  void quoted(std::string_view text);

  std::string text_;
  std::vector<bool> first_;  // per open container: nothing written in it yet
  bool afterKey_ = false;
  bool valid_ = true;
};

// Appends the text as a JSON string, quotes included, escaped as JsonWriter escapes it; false
// when the text is not well-formed UTF-8 (the bytes that are not are copied as they are).
bool appendQuoted(std::string& out, std::string_view text);

// Appends the number as JSON text.
void appendInteger(std::string& out, std::int64_t number);

// The same calls building a value.
class JsonBuilder {
 public:
  void beginObject() { open(Json::object()); }
  void endObject() { close(); }
  void beginArray() { open(Json::array()); }
  void endArray() { close(); }
  void key(std::string_view name) { key_ = std::string(name); }
  void string(std::string_view text) { put(Json(std::string(text))); }
  void integer(std::int64_t number) { put(Json(number)); }
  void boolean(bool value) { put(Json(value)); }

  Json take() { return std::move(root_); }

 private:
  Json* put(Json value);
  void open(Json container) { stack_.push_back(put(std::move(container))); }
  void close() { stack_.pop_back(); }

  Json root_;
  std::vector<Json*> stack_;
  std::string key_;
};

}  // namespace tembra
