// Progress lines and summaries for tembra-store.
#include "access/local/console.h"

#include <unistd.h>

#include <map>

namespace tembra::local {

std::string withThousands(std::size_t number) {
  std::string digits = std::to_string(number);
  for (std::size_t at = digits.size(); at > 3; at -= 3)
    digits.insert(at - 3, ",");
  return digits;
}

ProgressLine::ProgressLine(int fd, std::string prefix, Clock clock)
    : fd_(fd), prefix_(std::move(prefix)), clock_(std::move(clock)) {}

void ProgressLine::step(std::string_view name, std::size_t items) {
  step_ = name;
  items_ = items;
  done_ = 0;
  show(true);
}

void ProgressLine::advance(std::size_t done) {
  done_ = done;
  // An index brought up to date after an import may read other changed files too.
  if (items_ > 0 && done_ > items_)
    items_ = done_;
  show(done == items_);
}

void ProgressLine::show(bool always) {
  const auto now = clock_();
  if (!always && now - shown_ < std::chrono::milliseconds(100))
    return;
  shown_ = now;
  std::string line = "\r" + prefix_ + ": " + step_;
  if (items_ > 0) {
    line += " " + withThousands(done_) + " of " + withThousands(items_) + " (" +
            std::to_string(done_ * 100 / items_) + "%)";
  } else {
    line += "...";
  }
  line += "\033[K";
  // A terminal that cannot be written to loses only the progress.
  if (::write(fd_, line.data(), line.size()) > 0)
    showing_ = true;
}

void ProgressLine::finish() {
  if (!showing_)
    return;
  showing_ = false;
  constexpr std::string_view clear = "\r\033[K";
  [[maybe_unused]] const auto ignored = ::write(fd_, clear.data(), clear.size());
}

namespace {

std::string plural(std::size_t count, std::string_view one, std::string_view many) {
  return withThousands(count) + " " + std::string(count == 1 ? one : many);
}

}  // namespace

std::string importSummary(std::string_view file, std::string_view calendarId,
                          const Outline& outline, std::size_t files) {
  std::map<std::string, std::size_t> others;  // components that are no events, by name
  std::map<std::string, std::size_t> series;  // UID to its events without a RECURRENCE-ID
  std::size_t events = 0;
  for (const OutlinedComponent& component : outline.components) {
    if (component.name == "VEVENT") {
      ++events;
      if (!component.uid.empty() && !component.recurrenceId)
        ++series[component.uid];
    } else if (component.name != "VTIMEZONE") {
      ++others[component.name];
    }
  }
  // Of the series of one UID the import keeps one; the others are earlier versions of it.
  std::size_t superseded = 0;
  for (const auto& [uid, count] : series)
    superseded += count - 1;
  std::string reasons;
  std::size_t skipped = superseded;
  for (const auto& [name, count] : others) {
    reasons += (reasons.empty() ? "" : ", ") + withThousands(count) + " " + name;
    skipped += count;
  }
  if (!reasons.empty())
    reasons += ": only events are imported";
  if (superseded) {
    reasons += (reasons.empty() ? "" : "; ") + withThousands(superseded) +
               " VEVENT: an earlier version of a series whose UID comes again";
  }
  return "imported " + std::string(file) + " into " + std::string(calendarId) + ": " +
         plural(events, "event", "events") + " read, " + withThousands(events - superseded) +
         " written in " + plural(files, "file", "files") + ", " + withThousands(skipped) +
         " skipped" + (reasons.empty() ? "" : " (" + reasons + ")");
}

SkippedFile whySkipped(std::string id, std::string_view text, bool readable) {
  if (!readable)
    return {std::move(id), "cannot be read"};
  const Outline outline = outlineOf(text);
  if (outline.firstBadLine) {
    return {std::move(id), "line " + std::to_string(outline.firstBadLine->line) + ": " +
                               outline.firstBadLine->why};
  }
  if (outline.count("VEVENT") == 0)
    return {std::move(id), "holds no event"};
  return {std::move(id), "holds no event with a start that can be read"};
}

std::vector<std::string> reindexSummary(std::size_t calendars, std::size_t files,
                                        const std::vector<SkippedFile>& skipped,
                                        std::size_t shown) {
  std::vector<std::string> lines;
  std::string summary = "reindexed " + plural(calendars, "calendar", "calendars") + ": " +
                        plural(files, "file", "files") + " read, " +
                        withThousands(files - skipped.size()) + " indexed, " +
                        withThousands(skipped.size()) + " skipped";
  if (!skipped.empty())
    summary += " (no event could be read from them)";
  lines.push_back(summary);
  for (std::size_t i = 0; i < skipped.size() && i < shown; ++i)
    lines.push_back("  " + skipped[i].id + ": " + skipped[i].why);
  if (skipped.size() > shown)
    lines.push_back("  and " + withThousands(skipped.size() - shown) + " more");
  return lines;
}

}  // namespace tembra::local
