// The arrival of an answer, over the standard library's semaphore.
#include "access/answer_signal.h"

#include <semaphore>

namespace tembra {

struct AnswerSignal::State {
  std::binary_semaphore semaphore{0};
};

AnswerSignal::AnswerSignal() : state_(std::make_unique<State>()) {}
AnswerSignal::~AnswerSignal() = default;

void AnswerSignal::signal() {
  state_->semaphore.release();
}

bool AnswerSignal::waitFor(std::chrono::milliseconds timeout) {
  return state_->semaphore.try_acquire_for(timeout);
}

}  // namespace tembra
