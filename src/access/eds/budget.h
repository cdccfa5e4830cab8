// How long one run may wait for EDS, and the means by which its waits end: a GCancellable that is
// cancelled when the run's time is up, and a wait on a thread of its own for the calls that take
// no cancellable. A desktop whose bus, registry or online calendar stops answering then costs a
// run a bounded time, never a hang.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "access/eds/glib_handles.h"

namespace tembra::eds {

using Clock = std::chrono::steady_clock;

// The budgets of a run, from the moment the store is made (docs/eds.md lists them).
// Reaching the session bus and the source registry: all of `status`, and the start of every other
// command.
inline constexpr std::chrono::seconds kReachBudget{5};
// Connecting the calendars a command needs, all at once, from the moment it needs them.
inline constexpr std::chrono::seconds kConnectBudget{10};
// Everything a run asks of EDS.
inline constexpr std::chrono::seconds kRunBudget{30};

// The run's deadline and a cancellable that a watchdog thread cancels when it passes. The watchdog
// starts with the first call of cancellable(), so that a run that never reaches EDS starts none.
class Budget {
 public:
  explicit Budget(Clock::duration length) : deadline_(Clock::now() + length) {}
  ~Budget();
  Budget(const Budget&) = delete;
  Budget& operator=(const Budget&) = delete;

  Clock::time_point deadline() const { return deadline_; }
  // Pass it to every call into EDS: the call fails as cancelled once the run's time is up.
  GCancellable* cancellable();
  // True once the run's time is up.
  bool spent() const { return cancellable_ && g_cancellable_is_cancelled(cancellable_.get()); }

 private:
  Clock::time_point deadline_;
  Ref<GCancellable> cancellable_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread watchdog_;
};

// The earlier of the deadline `length` from now and `limit`.
inline Clock::time_point deadlineWithin(Clock::duration length, Clock::time_point limit) {
  return std::min(Clock::now() + length, limit);
}

// Milliseconds left until the deadline, at least 1 (0 would mean "no timeout" to GDBus).
int millisecondsUntil(Clock::time_point deadline);

// Runs `work` on a thread of its own and waits for it until the deadline: its result, or nothing
// when it had not finished by then. For calls that cannot be cancelled (GDBus's greeting of a
// new bus, the registry's first read of its sources): a late worker finishes on its own and
// its result is dropped there.
template <class Work>
auto withinDeadline(Clock::time_point deadline, Work work) -> std::optional<decltype(work())> {
  using Result = decltype(work());
  struct Shared {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<Result> result;
  };
  const auto shared = std::make_shared<Shared>();
  std::thread([shared, work = std::move(work)]() mutable {
    Result result = work();
    const std::lock_guard lock(shared->mutex);
    shared->result.emplace(std::move(result));
    shared->done.notify_all();
  }).detach();
  std::unique_lock lock(shared->mutex);
  shared->done.wait_until(lock, deadline, [&] { return shared->result.has_value(); });
  return std::exchange(shared->result, std::nullopt);
}

}  // namespace tembra::eds
