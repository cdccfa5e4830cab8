// The arrival of one answer, signalled on the thread it comes on and awaited on another.
#pragma once

#include <chrono>
#include <memory>

namespace tembra {

// Signalled at most once. On macOS a dispatch semaphore, whose wait sleeps until the signal or the
// timeout; elsewhere the standard library's semaphore.
class AnswerSignal {
 public:
  AnswerSignal();
  ~AnswerSignal();
  AnswerSignal(const AnswerSignal&) = delete;
  AnswerSignal& operator=(const AnswerSignal&) = delete;

  void signal();
  // Returns once signalled (true), or when `timeout` has passed without the signal (false).
  bool waitFor(std::chrono::milliseconds timeout);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tembra
