// The arrival of an answer on macOS, over a dispatch semaphore: libc++'s semaphore waits for a
// deadline by polling in slices, the dispatch semaphore sleeps until it is signalled.
#import <dispatch/dispatch.h>

#include <cstdint>

#include "access/answer_signal.h"

#if !__has_feature(objc_arc)
#error "The answer signal relies on automatic reference counting: compile it with -fobjc-arc."
#endif

namespace tembra {

struct AnswerSignal::State {
  dispatch_semaphore_t semaphore = dispatch_semaphore_create(0);
};

AnswerSignal::AnswerSignal() : state_(std::make_unique<State>()) {}
AnswerSignal::~AnswerSignal() = default;

void AnswerSignal::signal() {
  dispatch_semaphore_signal(state_->semaphore);
}

bool AnswerSignal::waitFor(std::chrono::milliseconds timeout) {
  const dispatch_time_t deadline = dispatch_time(
      DISPATCH_TIME_NOW, static_cast<std::int64_t>(timeout.count()) * std::int64_t{NSEC_PER_MSEC});
  return dispatch_semaphore_wait(state_->semaphore, deadline) == 0;
}

}  // namespace tembra
