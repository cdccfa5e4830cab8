// Runs the real executables over a temporary store and reports their exit status and output.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace tembra::testing {

struct ProcessResult {
  int status = -1;  // the exit status, or 128 + signal for a process killed by a signal
  std::string out;
  std::string err;
};

// The zone the tests run in: $TEMBRA_TEST_ZONE, else UTC. CI runs the tests over real stores in
// several zones, since a fault of local times shows only outside UTC.
std::string testZone();

// Runs program with args (element 0 excluded) and the environment entries added to this one's.
// A program still running after `limit` is killed (status 128 + 9): a hang is a failure of its
// own, not a test that never ends, and a crash test kills writers at chosen moments.
ProcessResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env = {},
                         const std::string& input = "",
                         std::chrono::milliseconds limit = std::chrono::seconds(60));

// Text as tembra writes it inside a JSON string: every "/" as "\/".
inline std::string escapedSlashes(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '/')
      escaped += '\\';
    escaped += c;
  }
  return escaped;
}

// A store folder under the system's temporary folder, removed with its contents at the end.
class TempStore {
 public:
  TempStore();
  ~TempStore();
  TempStore(const TempStore&) = delete;
  TempStore& operator=(const TempStore&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // tembra with TEMBRA_STORE set to this store and TZ to `zone`.
  ProcessResult tembra(const std::vector<std::string>& args) const;
  // tembra-store --store <this store> args...
  ProcessResult admin(const std::vector<std::string>& args) const;
  // admin, expecting success; returns its standard output without the final line feed.
  std::string adminOk(const std::vector<std::string>& args) const;

  std::string zone = testZone();

 private:
  std::filesystem::path path_;
};

}  // namespace tembra::testing
