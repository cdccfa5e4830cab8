// The index's one rule in one place: each use that SQLite fails drops the index.
#include "access/local/index_handle.h"

#include "access/local/files.h"
#include "access/local/layout.h"

namespace tembra::local {

IndexHandle::IndexHandle(std::filesystem::path root) : root_(std::move(root)) {}

IndexHandle::~IndexHandle() = default;

std::optional<EventWindow> IndexHandle::window(const std::map<std::string, Calendar>& calendars,
                                               Instant from, Instant to) {
  Index* current = upToDate();
  if (!current)
    return std::nullopt;
  try {
    return current->window(calendars, from, to);
  } catch (const sql::IndexFailure& failure) {
    drop(failure, false);
  }
  return std::nullopt;
}

Index* IndexHandle::upToDate() {
  // A damaged index is deleted and built again at once; one that fails twice is given up.
  const std::vector<CalendarPath> paths = calendarPaths(root_);
  for (int attempt = 0; attempt < 2 && !failed_; ++attempt) {
    try {
      if (!index_)
        index_ = std::make_unique<Index>(root_);
      index_->refresh(paths);
      return index_.get();
    } catch (const sql::IndexFailure& failure) {
      drop(failure, false);
    }
  }
  failed_ = true;
  return nullptr;
}

void IndexHandle::record(const CalendarPath& calendar, const std::string& name) {
  if (!index_)
    return;
  try {
    index_->record(calendar, name);
  } catch (const sql::IndexFailure& failure) {
    drop(failure, true);
  }
}

void IndexHandle::refreshIfOpen() {
  if (!index_)
    return;
  try {
    index_->refresh(calendarPaths(root_));
  } catch (const sql::IndexFailure& failure) {
    drop(failure, true);
  }
}

void IndexHandle::catchUp(std::function<void()> afterEachRead) {
  try {
    if (!index_)
      index_ = std::make_unique<Index>(root_);
    index_->afterEachRead(std::move(afterEachRead));
    index_->refresh(calendarPaths(root_));
  } catch (const sql::IndexFailure& failure) {
    drop(failure, true);
  }
}

void IndexHandle::drop(const sql::IndexFailure& failure, bool locked) {
  index_.reset();
  // Other failures (the index busy for too long, a full disk) leave the file to the next run.
  if (!failure.damaged())
    return;
  std::optional<StoreLock> lock;
  std::string ignored;
  if (!locked && !(lock = StoreLock::acquire(root_, ignored)))
    return;
  sql::removeDamaged(failure);
}

}  // namespace tembra::local
