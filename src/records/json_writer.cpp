// Compact JSON text and values from one sequence of calls.
#include "records/json_writer.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

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
  appendInteger(text_, number);
}

void appendInteger(std::string& out, std::int64_t number) {
  // By hand rather than through printf: a long list writes one for every record.
  char digits[24];
  int length = 0;
  std::uint64_t magnitude =
      number < 0 ? 0 - static_cast<std::uint64_t>(number) : static_cast<std::uint64_t>(number);
  do {
    digits[sizeof digits - ++length] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude > 0);
  if (number < 0)
    digits[sizeof digits - ++length] = '-';
  out.append(digits + sizeof digits - length, static_cast<std::size_t>(length));
}

void JsonWriter::boolean(bool value) {
  separate();
  text_ += value ? "true" : "false";
}

void JsonWriter::quoted(std::string_view text) {
  if (!appendQuoted(text_, text))
    valid_ = false;
}

namespace {

// Bytes that end a plain run: those that need escaping, and the first bytes of sequences beyond
// ASCII, which are checked for UTF-8 as they are copied.
constexpr std::array<bool, 256> kEndsRun = [] {
  std::array<bool, 256> ends{};
  for (int c = 0; c < 256; ++c)
    ends[c] = c < 0x20 || c >= 0x80 || c == '"' || c == '\\' || c == '/';
  return ends;
}();

// Whether any of the eight bytes of the word ends a plain run: a byte with the high bit set,
// below 0x20, or one of the three escaped characters. Each test sets the high bit of a byte
// where it holds; borrows only carry from a byte that already set it.
constexpr bool anyEndsRun(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kHigh = 0x8080808080808080;
  const auto zeroByte = [](std::uint64_t w) { return (w - kOnes) & ~w & kHigh; };
  const std::uint64_t below = (word - kOnes * 0x20) & ~word & kHigh;
  return ((word & kHigh) | below | zeroByte(word ^ (kOnes * '"')) |
          zeroByte(word ^ (kOnes * '\\')) | zeroByte(word ^ (kOnes * '/'))) != 0;
}

}  // namespace

bool appendQuoted(std::string& out, std::string_view text) {
  bool valid = true;
  out += '"';
  std::size_t plain = 0;  // start of the run not yet copied
  std::size_t i = 0;
  while (i < text.size()) {
    // Plain runs are passed over a word at a time, then byte by byte up to the byte that ends
    // them.
    while (i + 8 <= text.size()) {
      std::uint64_t word;
      std::memcpy(&word, text.data() + i, 8);
      if (anyEndsRun(word))
        break;
      i += 8;
    }
    while (i < text.size() && !kEndsRun[static_cast<unsigned char>(text[i])])
      ++i;
    if (i == text.size())
      break;
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      // Text outside ASCII is copied as it is, once it is known to be UTF-8.
      const std::size_t length = utf8SequenceLength(text.substr(i));
      if (length == 0) {
        valid = false;
        ++i;
      } else {
        i += length;
      }
      continue;
    }
    out.append(text, plain, i - plain);
    plain = ++i;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '/':
        out += "\\/";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default: {
        static constexpr char kHex[] = "0123456789abcdef";
        const char escaped[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out.append(escaped, sizeof escaped);
      }
    }
  }
  out.append(text, plain, text.size() - plain);
  out += '"';
  return valid;
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
