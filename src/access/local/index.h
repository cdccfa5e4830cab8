// The store's index: a cache in SQLite of what the commands need from every event file, so that a
// window reads only its own events instead of every file. (A lookup by identifier reads its one
// file and needs no index.) Deleting it is always safe; the
// next run rebuilds it. It follows the files by the modification times of the calendar folders:
// a folder whose time changed is scanned again, and only files whose size, time or inode changed
// are read again.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "access/calendar_store.h"
#include "access/local/layout.h"
#include "access/local/series.h"
#include "access/local/sqlite.h"

namespace tembra::local {

inline constexpr const char* kIndexFileName = ".index.sqlite";

class Index {
 public:
  // Opens the index of the store at root, creating it when missing and emptying it when it was
  // made by another version or for another local time zone. Throws sql::IndexFailure.
  explicit Index(const std::filesystem::path& root);

  // Brings the index up to date with the calendar folders given (all of the store's).
  void refresh(const std::vector<CalendarPath>& calendars);

  // The occurrences of the calendars' events that overlap [from, to), ordered by start, then
  // end, then identifier. Series that repeat without end beyond what the index holds are read
  // from their files.
  std::vector<Event> window(const std::map<std::string, Calendar>& calendars, Instant from,
                            Instant to);

  // After a write under the store lock: the file as it now is (null series: it is gone), and the
  // folder's modification time as it now is.
  void record(const CalendarPath& calendar, const std::string& name, const Series* series);
  void recordFolder(const CalendarPath& calendar);
  // record for many files of one calendar that are in place, in one transaction: the file
  // names[i] with the series seriesOf(i) gives (none: it does not read), each asked for when it
  // is recorded, so that the caller need not hold every series at once.
  void record(const CalendarPath& calendar, const std::vector<std::string>& names,
              const std::function<std::optional<Series>(std::size_t)>& seriesOf);

  // Removes the index files of the store; what is not a regular file in their place stays.
  static void remove(const std::filesystem::path& root);

 private:
  void scanFolder(const CalendarPath& calendar, std::int64_t modified);
  void dropFile(std::int64_t id);
  void insertFile(const CalendarPath& calendar, const std::string& name,
                  const std::filesystem::path& file, const Series* series);

  std::filesystem::path root_;
  sql::Database db_;
};

}  // namespace tembra::local
