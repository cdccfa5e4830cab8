// The index as one run of the store uses it, under one rule: if SQLite fails, the index is dropped
// (deleted when damaged, so that the next use builds it anew) and the answer comes from the files.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "access/local/index.h"

namespace tembra::local {

class IndexHandle {
 public:
  explicit IndexHandle(std::filesystem::path root);
  ~IndexHandle();

  // The window from the index, opened once and brought up to date first; none when SQLite cannot
  // serve it, and then for the rest of the run: the caller reads the files.
  std::optional<EventWindow> window(const std::map<std::string, Calendar>& calendars, Instant from,
                                    Instant to);

  // For a writer under the store lock. The index learns of the store's own writes at once, so
  // that the next run need not read the file again; a failure leaves it to the next run.
  void record(const CalendarPath& calendar, const std::string& name);
  // The index, if this run opened it, catches up with the folders (after a recovery changed files).
  void refreshIfOpen();
  // Opens the index and brings it up to date with every folder, calling `afterEachRead` after each
  // file it reads.
  void catchUp(std::function<void()> afterEachRead);

 private:
  // The index, opened once and brought up to date at each use; none when SQLite cannot serve it.
  Index* upToDate();
  // The index, opened if it is not yet.
  Index& opened();
  // Runs a use of the index; false, with the index dropped, when SQLite failed it. `locked`: the
  // caller holds the store lock (see drop).
  bool guarded(bool locked, const std::function<void()>& use);
  // Stops using the index; a damaged one is deleted. Deleting takes the store lock, unless the
  // caller holds it (`locked`: a second flock of this process would wait on the first for ever),
  // so that no other process deletes or builds meanwhile.
  void drop(const sql::IndexFailure& failure, bool locked);

  std::filesystem::path root_;
  std::unique_ptr<Index> index_;
  bool failed_ = false;  // SQLite could not serve the index: the files answer for the whole run
};

}  // namespace tembra::local
