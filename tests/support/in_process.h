// Runs the front end in process over a fake store, capturing what it writes and how it ends.
#pragma once

#include <string>
#include <vector>

#include "cli/entry/entry.h"
#include "cli/output.h"
#include "support/fake_store.h"

namespace tembra::testing {

// Thrown in place of ending the process.
struct Ended {
  int status;
};

class CapturedOutput final : public Output {
 public:
  std::string text;
  bool closed = false;  // behave like a pipe whose reader has gone

  bool write(std::string_view bytes) override {
    if (closed)
      return false;
    text += bytes;
    return true;
  }

 private:
  void end(int status) override { throw Ended{status}; }
};

struct Outcome {
  int status;
  std::string out;
};

// Runs `tembra <words...>` against the store; the fake's data stays readable afterwards.
inline Outcome runCommand(const FakeStore& store, std::vector<std::string> words) {
  words.insert(words.begin(), "tembra");
  CapturedOutput output;
  int status;
  try {
    status =
        runTembra(std::move(words), output, [&] { return std::make_unique<FakeStore>(store); });
  } catch (const Ended& ended) {
    status = ended.status;
  }
  return {status, output.text};
}

// Calls f with a captured output and returns how it ended.
template <typename F>
Outcome capture(F&& f) {
  CapturedOutput output;
  try {
    f(output);
  } catch (const Ended& ended) {
    return {ended.status, output.text};
  }
  return {0, output.text};
}

}  // namespace tembra::testing
