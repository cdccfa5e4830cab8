// Compact JSON text and values from one sequence of calls.
#include "records/json_writer.h"

#include <cmath>
#include <cstdio>

#include "records/utf8.h"

namespace tembra {

void JsonWriter::separate() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!first_.empty()) {
    if (!first_.back())
      text_ += ',';
    first_.back() = false;
  }
}

void JsonWriter::open(char bracket) {
  separate();
  text_ += bracket;
  first_.push_back(true);
}

void JsonWriter::close(char bracket) {
  text_ += bracket;
  first_.pop_back();
}

void JsonWriter::key(std::string_view name) {
  separate();
  quoted(name);
  text_ += ':';
  afterKey_ = true;
}

void JsonWriter::string(std::string_view text) {
  separate();
  quoted(text);
}

void JsonWriter::integer(std::int64_t number) {
  separate();
  // By hand rather than through printf: a long list writes one for every record.
  char digits[24];
  int length = 0;
  std::uint64_t magnitude =
      number < 0 ? 0 - static_cast<std::uint64_t>(number) : static_cast<std::uint64_t>(number);
  do {
    digits[length++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude > 0);
  if (number < 0)
    text_ += '-';
  while (length > 0)
    text_ += digits[--length];
}

void JsonWriter::boolean(bool value) {
  separate();
  text_ += value ? "true" : "false";
}

void JsonWriter::quoted(std::string_view text) {
  text_ += '"';
  std::size_t plain = 0;  // start of the run not yet copied
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      // Text outside ASCII is copied as it is, once it is known to be UTF-8.
      const std::size_t length = utf8SequenceLength(text.substr(i));
      if (length == 0) {
        valid_ = false;
        ++i;
      } else {
        i += length;
      }
      continue;
    }
    if (c >= 0x20 && c != '"' && c != '\\' && c != '/') {
      ++i;
      continue;
    }
    text_.append(text, plain, i - plain);
    plain = ++i;
    switch (c) {
      case '"':
        text_ += "\\\"";
        break;
      case '\\':
        text_ += "\\\\";
        break;
      case '/':
        text_ += "\\/";
        break;
      case '\b':
        text_ += "\\b";
        break;
      case '\f':
        text_ += "\\f";
        break;
      case '\n':
        text_ += "\\n";
        break;
      case '\r':
        text_ += "\\r";
        break;
      case '\t':
        text_ += "\\t";
        break;
      default: {
        static constexpr char kHex[] = "0123456789abcdef";
        const char escaped[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        text_.append(escaped, sizeof escaped);
      }
    }
  }
  text_.append(text, plain, text.size() - plain);
  text_ += '"';
}

void JsonWriter::value(const Json& value) {
  switch (value.type()) {
    case Json::value_t::object:
      beginObject();
      for (const auto& [name, member] : value.items()) {
        key(name);
        this->value(member);
      }
      endObject();
      break;
    case Json::value_t::array:
      beginArray();
      for (const Json& element : value)
        this->value(element);
      endArray();
      break;
    case Json::value_t::string:
      string(value.get_ref<const std::string&>());
      break;
    case Json::value_t::boolean:
      boolean(value.get<bool>());
      break;
    case Json::value_t::number_integer:
      integer(value.get<std::int64_t>());
      break;
    case Json::value_t::number_unsigned: {
      separate();
      text_ += std::to_string(value.get<std::uint64_t>());
      break;
    }
    case Json::value_t::number_float: {
      // The program writes no floating-point numbers; a value that has one still gets the
      // shortest text that reads back the same, and none when it is not finite.
      const double number = value.get<double>();
      if (!std::isfinite(number)) {
        valid_ = false;
        break;
      }
      separate();
      char digits[32];
      std::snprintf(digits, sizeof digits, "%.17g", number);
      text_ += digits;
      break;
    }
    case Json::value_t::null:
    case Json::value_t::discarded:
    case Json::value_t::binary:
      separate();
      text_ += "null";
      break;
  }
}

Json* JsonBuilder::put(Json value) {
  if (stack_.empty()) {
    root_ = std::move(value);
    return &root_;
  }
  Json& container = *stack_.back();
  if (container.is_array()) {
    container.push_back(std::move(value));
    return &container.back();
  }
  Json& member = container[key_];
  member = std::move(value);
  return &member;
}

}  // namespace tembra
