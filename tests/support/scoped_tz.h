// A test's own machine zone: TZ set for the C library while a value lives.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

namespace tembra::testing {

// Sets TZ for the C library while it lives, and puts back the zone that was set before.
class ScopedTz {
 public:
  explicit ScopedTz(const char* zone) : before_(std::getenv("TZ") ? std::getenv("TZ") : "") {
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTz() {
    ::setenv("TZ", before_.c_str(), 1);
    ::tzset();
  }
  ScopedTz(const ScopedTz&) = delete;
  ScopedTz& operator=(const ScopedTz&) = delete;

 private:
  std::string before_;
};

}  // namespace tembra::testing
