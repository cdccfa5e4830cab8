// Reading and binding the rows of the index's tables, column by column in the order of their lists.
#include "access/local/index_rows.h"

#include <cstdio>
#include <cstdlib>

namespace tembra::local {
namespace {

// Reads the columns of a row in turn, from the first.
class Columns {
 public:
  explicit Columns(const sql::Statement& row) : row_(row) {}

  double real() { return row_.real(next_++); }
  std::int64_t integer() { return row_.integer(next_++); }
  bool flag() { return row_.integer(next_++) != 0; }
  std::string text() { return row_.text(next_++); }
  std::optional<std::string> optionalText() { return row_.optionalText(next_++); }
  std::optional<double> optionalReal() {
    const int column = next_++;
    return row_.isNull(column) ? std::nullopt : std::optional(row_.real(column));
  }
  FileVersion version() {
    FileVersion version;
    version.inode = static_cast<std::uint64_t>(integer());
    version.size = integer();
    version.modified = integer();
    version.changed = integer();
    return version;
  }

 private:
  const sql::Statement& row_;
  int next_ = 0;
};

// Binds parameters in turn, from the first.
class Parameters {
 public:
  explicit Parameters(sql::Statement& insert) : insert_(insert) {}

  Parameters& real(double value) {
    insert_.bind(next_++, value);
    return *this;
  }
  Parameters& integer(std::int64_t value) {
    insert_.bind(next_++, value);
    return *this;
  }
  Parameters& text(std::string_view value) {
    insert_.bind(next_++, value);
    return *this;
  }
  Parameters& optionalText(const std::optional<std::string>& value) {
    insert_.bind(next_++, value);
    return *this;
  }
  Parameters& null() {
    insert_.bindNull(next_++);
    return *this;
  }
  Parameters& optionalReal(const std::optional<double>& value) {
    return value ? real(*value) : null();
  }
  Parameters& version(const FileVersion& version) {
    return integer(static_cast<std::int64_t>(version.inode))
        .integer(version.size)
        .integer(version.modified)
        .integer(version.changed);
  }

 private:
  sql::Statement& insert_;
  int next_ = 1;
};

}  // namespace

std::string encodeAlarms(const std::vector<Alarm>& alarms) {
  std::string text;
  char buffer[64];
  for (const Alarm& alarm : alarms) {
    if (alarm.absoluteDate) {
      std::snprintf(buffer, sizeof buffer, "a%.17g;", alarm.absoluteDate->seconds);
    } else {
      std::snprintf(buffer, sizeof buffer, "r%.17g;", alarm.relativeOffset);
    }
    text += buffer;
  }
  return text;
}

std::vector<Alarm> decodeAlarms(const std::string& text) {
  std::vector<Alarm> alarms;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find(';', at);
    if (end == std::string::npos)
      break;
    const double value = std::strtod(text.c_str() + at + 1, nullptr);
    alarms.push_back(text[at] == 'a' ? Alarm::withAbsoluteDate(Instant{value})
                                     : Alarm::withRelativeOffset(value));
    at = end + 1;
  }
  return alarms;
}

FileRow FileRow::read(const sql::Statement& row) {
  Columns columns(row);
  FileRow file;
  file.id = columns.integer();
  file.calendar = columns.text();
  file.name = columns.text();
  file.listed = static_cast<std::uint64_t>(columns.integer());
  file.version = columns.version();
  file.suspect = columns.flag();
  file.readable = columns.flag();
  file.uid = columns.optionalText();
  file.repeats = columns.flag();
  file.horizon = columns.optionalReal();
  return file;
}

void FileRow::bind(sql::Statement& insert) const {
  Parameters parameters(insert);
  // NULL: SQLite gives the row the next id.
  (id != 0 ? parameters.integer(id) : parameters.null())
      .text(calendar)
      .text(name)
      .integer(static_cast<std::int64_t>(listed))
      .version(version)
      .integer(suspect)
      .integer(readable)
      .optionalText(uid)
      .integer(repeats)
      .optionalReal(horizon);
}

ComponentKey ComponentKey::read(const sql::Statement& row) {
  return {row.real(0), row.integer(1)};
}

ComponentRow ComponentRow::read(const sql::Statement& row) {
  Columns columns(row);
  ComponentRow component;
  component.key.first = columns.real();
  component.key.id = columns.integer();
  component.file = columns.integer();
  component.event = columns.text();
  component.calendar = columns.text();
  component.uid = columns.text();
  component.repeats = columns.flag();
  component.horizon = columns.optionalReal();
  component.title = columns.optionalText();
  component.notes = columns.optionalText();
  component.location = columns.optionalText();
  component.allDay = columns.flag();
  component.alarms = columns.text();
  component.lastModified = columns.optionalReal();
  component.name = columns.text();
  component.version = columns.version();
  component.rule = columns.optionalText();
  return component;
}

void ComponentRow::bind(sql::Statement& insert) const {
  Parameters(insert)
      .real(key.first)
      .integer(key.id)
      .integer(file)
      .text(event)
      .text(calendar)
      .text(uid)
      .integer(repeats)
      .optionalReal(horizon)
      .optionalText(title)
      .optionalText(notes)
      .optionalText(location)
      .integer(allDay)
      .text(alarms)
      .optionalReal(lastModified)
      .text(name)
      .version(version)
      .optionalText(rule);
}

OccurrenceRow OccurrenceRow::read(const sql::Statement& row) {
  Columns columns(row);
  OccurrenceRow occurrence;
  occurrence.start = columns.real();
  occurrence.file = columns.integer();
  occurrence.original = columns.real();
  occurrence.component.first = columns.real();
  occurrence.component.id = columns.integer();
  occurrence.end = columns.real();
  occurrence.detached = columns.flag();
  occurrence.isLong = columns.flag();
  return occurrence;
}

void OccurrenceRow::bind(sql::Statement& insert) const {
  Parameters(insert)
      .real(start)
      .integer(file)
      .real(original)
      .real(component.first)
      .integer(component.id)
      .real(end)
      .integer(detached)
      .integer(isLong);
}

std::string insertInto(const char* table, const char* columns) {
  std::string parameters = "?";
  for (const char* at = columns; *at; ++at) {
    if (*at == ',')
      parameters += ", ?";
  }
  return std::string("INSERT INTO ") + table + "(" + columns + ") VALUES (" + parameters + ")";
}

}  // namespace tembra::local
