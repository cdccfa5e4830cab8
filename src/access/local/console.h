// What tembra-store shows a person at a terminal: a progress line that rewrites itself while an
// operation runs, and the one-line summaries at the end. Off a terminal tembra-store shows none.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "access/local/admin.h"
#include "access/local/ics_outline.h"

namespace tembra::local {

// 1234567 as "1,234,567".
std::string withThousands(std::size_t number);

// Writes "\r<prefix>: <step> <done> of <items>" lines to a terminal's descriptor, each over the
// one before, at most ten a second (a new step is always shown); finish() clears the line.
class ProgressLine : public Progress {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  ProgressLine(int fd, std::string prefix, Clock clock = std::chrono::steady_clock::now);
  ~ProgressLine() override { finish(); }

  void step(std::string_view name, std::size_t items) override;
  void advance(std::size_t done) override;
  void finish();

 private:
  void show(bool always);

  int fd_;
  std::string prefix_;
  Clock clock_;
  std::string step_;
  std::size_t items_ = 0;
  std::size_t done_ = 0;
  std::chrono::steady_clock::time_point shown_{};
  bool showing_ = false;
};

// "imported FILE into ID: 3 events read, 2 written in 2 files, 2 skipped (1 VTODO: only events
// are imported; 1 VEVENT: an earlier version of a series whose UID comes again)", as the import
// keeps one series of a UID and only events.
std::string importSummary(std::string_view file, std::string_view calendarId,
                          const Outline& outline, std::size_t files);

// A skipped file of the store: its identifier and why the index holds no event of it.
struct SkippedFile {
  std::string id;
  std::string why;  // "line 7: a line without a colon", ...
};
// Why the index holds no event of this file: its first bad line, or what it lacks.
SkippedFile whySkipped(std::string id, std::string_view text, bool readable);

// "reindexed 2 calendars: 10,000 files read, 9,998 indexed, 2 skipped (not readable as an
// event)", then a line per skipped file, at most `shown` of them.
std::vector<std::string> reindexSummary(std::size_t calendars, std::size_t files,
                                        const std::vector<SkippedFile>& skipped,
                                        std::size_t shown = 10);

}  // namespace tembra::local
