// The rows of the index's three tables, each with its one list of columns and the functions that
// read a row from a statement and bind one to an INSERT, both in the order of that list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "access/calendar_store.h"
#include "access/local/files.h"
#include "access/local/sqlite.h"

namespace tembra::local {

// A row of `files`: one event file, the version it was read from, and whether it must be looked
// at again next run.
struct FileRow {
  std::int64_t id = 0;  // 0 for a row not yet written: SQLite numbers it
  std::string calendar;
  std::string name;
  std::uint64_t listed = 0;  // the inode the folder listing gave
  FileVersion version;
  bool suspect = false;   // its version proves nothing yet: look at it again next run
  bool readable = false;  // it holds a series the store can read
  std::optional<std::string> uid;
  bool repeats = false;
  std::optional<double> horizon;  // a series without end is held up to here

  static constexpr const char* kColumns =
      "id, calendar, name, listed, inode, size, modified, changed, suspect, readable, uid, "
      "repeats, horizon";
  static FileRow read(const sql::Statement& row);
  // To parameters 1 onwards, in the order of kColumns.
  void bind(sql::Statement& insert) const;
};

// The key of a row of `components`: the start of its first occurrence, so that the texts of a
// window lie together, and a number unique among components.
struct ComponentKey {
  double first = 0;
  std::int64_t id = 0;
  bool operator==(const ComponentKey&) const = default;

  // From the first two columns of a statement that selects ComponentRow::kColumns.
  static ComponentKey read(const sql::Statement& row);
};

struct ComponentKeyHash {
  std::size_t operator()(const ComponentKey& key) const {
    return std::hash<double>()(key.first) * 31 + std::hash<std::int64_t>()(key.id);
  }
};

// A row of `components`: what the occurrences of one VEVENT (of one length, where its alarms
// count from the end) share, with what it needs of its file, the version of the file included.
struct ComponentRow {
  ComponentKey key;
  std::int64_t file = 0;  // the id of its file's row
  std::string event;      // the event identifier
  std::string calendar;
  std::string uid;
  bool repeats = false;
  std::optional<double> horizon;
  std::optional<std::string> title, notes, location;
  bool allDay = false;
  std::string alarms;  // as encodeAlarms writes them: a few bytes each, held in the string itself
  std::optional<double> lastModified;
  std::string name;  // of its file
  FileVersion version;
  std::optional<std::string> rule;

  static constexpr const char* kColumns =
      "first, id, file, event, calendar, uid, repeats, horizon, title, notes, location, all_day, "
      "alarms, last_modified, name, inode, size, modified, changed, rule";
  static ComponentRow read(const sql::Statement& row);
  // To parameters 1 onwards, in the order of kColumns.
  void bind(sql::Statement& insert) const;
};

// A row of `occurrences`: one occurrence of a component, kept in the order of its start.
struct OccurrenceRow {
  double start = 0;
  std::int64_t file = 0;
  double original = 0;  // where the series alone places it
  ComponentKey component;
  double end = 0;
  bool detached = false;
  bool isLong = false;  // longer than kLongEvent: found by its end

  static constexpr const char* kColumns =
      "start, file, original, component_first, component, end, detached, long";
  static OccurrenceRow read(const sql::Statement& row);
  // To parameters 1 onwards, in the order of kColumns.
  void bind(sql::Statement& insert) const;
};

// Occurrences longer than this are found by a separate, small query; the others by their start.
inline constexpr double kLongEvent = 8 * 86400.0;

// Alarms as a column: "a<seconds>;" for an absolute date, "r<seconds>;" for an offset.
std::string encodeAlarms(const std::vector<Alarm>& alarms);
std::vector<Alarm> decodeAlarms(const std::string& text);

// "INSERT INTO table(columns) VALUES (?, ...)" with a parameter for each column.
std::string insertInto(const char* table, const char* columns);

}  // namespace tembra::local
