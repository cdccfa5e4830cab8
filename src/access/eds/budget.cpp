// The run's budget: its watchdog, which cancels every call still waiting for EDS at the deadline.
#include "access/eds/budget.h"

#include <algorithm>

namespace tembra::eds {

Budget::~Budget() {
  if (!watchdog_.joinable())
    return;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  watchdog_.join();
}

GCancellable* Budget::cancellable() {
  if (!cancellable_) {
    cancellable_.reset(g_cancellable_new());
    // GCancellable may be cancelled from any thread; the calls waiting on it end on their own.
    watchdog_ = std::thread([this, cancellable = cancellable_.get()] {
      std::unique_lock lock(mutex_);
      if (!wake_.wait_until(lock, deadline_, [this] { return stopping_; }))
        g_cancellable_cancel(cancellable);
    });
  }
  return cancellable_.get();
}

int millisecondsUntil(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 1, 24 * 3600 * 1000));
}

}  // namespace tembra::eds
