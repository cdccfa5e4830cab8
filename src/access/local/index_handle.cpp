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
  std::optional<EventWindow> found;
  if (current)
    guarded(false, [&] { found = current->window(calendars, from, to); });
  return found;
}

Index* IndexHandle::upToDate() {
  // A damaged index is deleted and built again at once; one that fails twice is given up.
  const std::vector<CalendarPath> paths = calendarPaths(root_);
  for (int attempt = 0; attempt < 2 && !failed_; ++attempt) {
    if (guarded(false, [&] { opened().refresh(paths); }))
      return index_.get();
  }
  failed_ = true;
  return nullptr;
}

void IndexHandle::record(const CalendarPath& calendar, const std::string& name) {
  if (index_)
    guarded(true, [&] { index_->record(calendar, name); });
}

void IndexHandle::refreshIfOpen() {
  if (index_)
    guarded(true, [&] { index_->refresh(calendarPaths(root_)); });
}

void IndexHandle::catchUp(std::function<void()> afterEachRead) {
  guarded(true, [&] {
    Index& index = opened();
    index.afterEachRead(std::move(afterEachRead));
    index.refresh(calendarPaths(root_));
  });
}

Index& IndexHandle::opened() {
  if (!index_)
    index_ = std::make_unique<Index>(root_);
  return *index_;
}

bool IndexHandle::guarded(bool locked, const std::function<void()>& use) {
  try {
    use();
    return true;
  } catch (const sql::IndexFailure& failure) {
    drop(failure, locked);
    return false;
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
