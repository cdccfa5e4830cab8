// The store's index: a cache in SQLite of what the commands need from every event file, so that a
// window reads only its own events instead of every file. (A lookup by identifier reads its one
// file and needs no index.) Deleting it is always safe; the next run rebuilds it.
//
// It never answers from a file version it has not read. Each file's row holds the version it was
// read from (inode, size, modification and change times to the nanosecond), taken from the open
// descriptor before and after the read; a file that changed while it was read is read again.
// A folder whose time changed is listed again and compared with the rows in one sorted pass;
// only new names and names whose inode changed are read. A time as recent as the check that saw
// it proves nothing (another change in the same clock tick leaves it as it was), so such folders
// and files are checked again on the next run. Files written in place change no folder: the
// files a window answers from are checked before it answers, and every calendar's files are all
// checked again once a minute.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "access/calendar_store.h"
#include "access/local/files.h"
#include "access/local/layout.h"
#include "access/local/series.h"
#include "access/local/sqlite.h"

namespace tembra::local {

// File systems stamp changes with a coarse clock: a time this close to (or after) the check that
// saw it may be shared by a later change, which then leaves no trace in it.
inline constexpr std::chrono::milliseconds kCoarseTimeWithin{100};

class Index {
 public:
  // Opens this zone's index of the store at root, creating it when missing and emptying it when
  // it was made by another version. All-day and floating times are held as instants of the local
  // zone, so each zone has an index of its own. Throws sql::IndexFailure.
  explicit Index(const std::filesystem::path& root);
  ~Index();

  // Brings the index up to date with the calendar folders given (all of the store's).
  void refresh(const std::vector<CalendarPath>& calendars);

  // The occurrences of the calendars' events that overlap [from, to), ordered by start, then
  // end, then identifier, each from the file as it is now. Series that repeat without end beyond
  // what the index holds are read from their files.
  EventWindow window(const std::map<std::string, Calendar>& calendars, Instant from, Instant to);

  // After a write under the store lock: the file is read as it now is (gone: its row goes).
  void record(const CalendarPath& calendar, const std::string& name);

  // The file of this zone's index in the store at root.
  static std::filesystem::path fileFor(const std::filesystem::path& root);
  // Removes the index files of the store, every zone's; what is not a regular file stays.
  static void remove(const std::filesystem::path& root);

  // Called with each file's name after its bytes were read and before its version is taken again:
  // lets a test change a file in the middle of a read.
  void whileReading(std::function<void(const std::string& name)> hook) {
    whileReading_ = std::move(hook);
  }
  // Called after each file was read into the index (or found gone): lets tembra-store count them.
  void afterEachRead(std::function<void()> hook) { afterEachRead_ = std::move(hook); }

  // What the index holds: its files, and the identifiers of those that hold no event it can
  // read, in identifier order.
  struct Census {
    std::size_t files = 0;
    std::vector<std::string> unreadable;
  };
  Census census();

 private:
  // A calendar folder, open for the whole run.
  struct Folder {
    CalendarPath path;
    UniqueFd fd;  // closed: the folder could not be opened
  };
  using FileNames = std::vector<std::pair<CalendarPath, std::string>>;

  Folder& folder(const CalendarPath& calendar);

  // Refreshing (index_refresh.cpp).
  struct Batch;
  struct Plan;
  void carryOut(const Plan& plan, std::int64_t now, Batch& batch);
  // Reads the files into the index again, in one transaction.
  void readAgain(const FileNames& files);
  void readIn(const CalendarPath& calendar, const std::string& name, std::uint64_t listed,
              std::int64_t now, Batch& batch);
  void readInOnce(const CalendarPath& calendar, const std::string& name, std::uint64_t listed,
                  std::int64_t now, Batch& batch);
  void dropFile(std::int64_t id);
  void flush(Batch& batch);

  // The window's steps (index_window.cpp).
  struct Found;
  struct AnsweredFile;
  // The window once, from one state of the index; empty, with the files that changed since they
  // were read in `stale`, when it cannot answer from them.
  EventWindow windowOnce(const std::map<std::string, Calendar>& calendars, Instant from, Instant to,
                         FileNames& stale);
  Found occurrencesIn(Instant from, Instant to);
  std::vector<AnsweredFile> readComponents(Found& found,
                                           const std::map<std::string, Calendar>& calendars,
                                           Instant from, Instant to);
  FileNames changedSinceRead(std::vector<AnsweredFile> files);
  void addOpenSeries(EventWindow& window, const std::map<std::string, Calendar>& calendars,
                     Instant from, Instant to);

  std::filesystem::path root_;
  sql::Database db_;
  std::map<std::string, std::unique_ptr<Folder>> folders_;  // open folders, by calendar id
  std::function<void(const std::string&)> whileReading_;
  std::function<void()> afterEachRead_;
};

}  // namespace tembra::local
