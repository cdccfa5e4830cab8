// Fuzzes the local store with the bytes of one event file, as another tool may have written it:
// the series is read as the store reads it, three windows are expanded, their events are written
// as the records list and get print, and an accepted file is saved back as update and create save
// it, through the store's atomic write into a folder of this process, and read again.
//
// Checked beyond "no crash": the records are one well-formed UTF-8 JSON document with the record
// keys; every occurrence overlaps its window, in order of start; every file tembra writes parses
// with libical without errors, but in lines of the file it was given that libical could not read
// there either and that are kept as they were, and reads back as the event that was saved, with
// the UID it had.
//
// Local times are read in $TZ, fixed for the process (America/New_York unless set). Besides
// libFuzzer's own mutations, a component is now and then nested deeper in copies of another.
#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "access/local/event_files.h"
#include "access/local/files.h"
#include "access/local/ical.h"
#include "access/local/series.h"
#include "access/local/unread_lines.h"
#include "records/event_record.h"
#include "records/utf8.h"

// The lowest stack address that code built with -fsanitize-coverage=stack-depth has reached since
// libFuzzer reset it for this input.
extern "C" thread_local std::uintptr_t __sancov_lowest_stack;

// libFuzzer's own mutation of an input, in place.
extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

namespace tembra::local {
namespace {

const Formatters kFormatters;
constexpr double kDay = 86400;
constexpr double kYear = 365.2425 * kDay;
// LAST-MODIFIED and DTSTAMP of every save: 2025-01-01T00:00:00Z.
constexpr Instant kNow{1735689600};
// Records show at most this many occurrences of each window; all of them are checked otherwise.
constexpr std::size_t kRecordsPerWindow = 32;
const Calendar kCalendar{"local/calendar", "日历", Source{"本地"}, std::nullopt, true};
const std::string kId = "local/calendar/event.ics";
const std::string kUid = "fuzz-uid";

void require(bool condition) {
  if (!condition)
    __builtin_trap();
}

// A file must not choose how deep the stack goes: libical builds, frees and writes components
// recursively, and 280,000 nested components once overflowed the stack of every reader. Reading
// a file may take a small part of the stack, so that such a fault shows at a depth the fuzzer
// reaches within its longest input. The stack is measured where tembra's own code (built with
// stack-depth coverage) runs; libical's is not instrumented. Reading needs some 12 KB under the
// sanitizers; a recursion of 28 bytes a level over about 450 nested components exceeds 18 KB.
constexpr std::uintptr_t kReadingStack = 18 * 1024;

// Checks, when it ends, the stack used within its scope.
class StackBudget {
 public:
  explicit StackBudget(std::uintptr_t bytes)
      : bytes_(bytes),
        top_(reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0))),
        before_(__sancov_lowest_stack) {
    __sancov_lowest_stack = top_;
  }
  ~StackBudget() {
    const std::uintptr_t lowest = __sancov_lowest_stack;
    require(top_ - lowest < bytes_);
    // libFuzzer reads the lowest address of the whole input as a feature.
    __sancov_lowest_stack = std::min(before_, lowest);
  }
  StackBudget(const StackBudget&) = delete;
  StackBudget& operator=(const StackBudget&) = delete;

 private:
  std::uintptr_t bytes_, top_, before_;
};

// The folder this process saves into, on a memory file system where there is one, so that the
// flushes of atomic writes cost nothing; removed when the process ends.
const std::filesystem::path& scratchFolder() {
  static const std::filesystem::path folder = [] {
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                           ? "/dev/shm"
                                           : std::filesystem::temp_directory_path();
    std::string name = (base / "tembra-fuzz-XXXXXX").string();
    require(::mkdtemp(name.data()) != nullptr);
    std::atexit([] { std::filesystem::remove_all(scratchFolder()); });
    return std::filesystem::path(name);
  }();
  return folder;
}

// The records of the events as list writes them, and each as get builds it, must agree and be
// one JSON document of records with exactly the record keys.
void checkRecords(const std::vector<Event>& events) {
  JsonWriter writer;
  writer.beginArray();
  for (const Event& event : events)
    writeEventRecord(writer, kFormatters, event);
  writer.endArray();
  require(writer.valid());
  require(isValidUtf8(writer.text()));
  const Json parsed = Json::parse(writer.text(), nullptr, false);
  require(parsed.is_array() && parsed.size() == events.size());
  for (std::size_t i = 0; i < events.size(); ++i) {
    const Json& record = parsed[i];
    require(record == eventJSON(kFormatters, events[i]));
    require(record.size() == (events[i].hasRecurrenceRules ? 13u : 12u));
    for (const char* key : {"id", "calendarId", "calendarTitle", "title", "notes", "location",
                            "start", "end", "externalId"}) {
      require(record.contains(key) && record[key].is_string());
    }
    require(record["allDay"].is_boolean() && record["lastModified"].is_number_integer());
    require(!record.contains("recurring") || record["recurring"] == true);
    require(record["alarms"].is_array());
    for (const Json& alarm : record["alarms"]) {
      require(alarm.size() == 1 &&
              (alarm.contains("absolute") ? alarm["absolute"].is_string()
                                          : alarm["relative"].is_number_integer()));
    }
  }
}

// The occurrences of [from, to) overlap it and come in order of start; a sample of their events
// is written as records.
std::vector<Occurrence> checkWindow(const Series& series, Instant from, Instant to) {
  const std::vector<Occurrence> found = series.occurrences(from, to);
  require(found.size() <= kMostOccurrencesPerWindow);
  std::vector<Event> sample;
  for (std::size_t i = 0; i < found.size(); ++i) {
    const Occurrence& occurrence = found[i];
    require(occurrence.start <= occurrence.end);
    require(occurrence.start < to);
    require(occurrence.end > from ||
            (occurrence.start == occurrence.end && occurrence.start >= from));
    require(i == 0 || found[i - 1].start <= occurrence.start);
    if (i < kRecordsPerWindow)
      sample.push_back(eventFrom(series, occurrence, kId, kCalendar));
  }
  checkRecords(sample);
  return found;
}

// A text as the store writes it: an empty one is none.
std::optional<std::string> kept(const std::optional<std::string>& text) {
  if (!text)
    return std::nullopt;
  std::string clean = ical::cleanText(*text);
  return clean.empty() ? std::nullopt : std::optional<std::string>(std::move(clean));
}

// The event as it must read back once saved over `stored`: the texts it changes as the store
// writes them, the others as they were.
Event asWritten(const Event& event, const std::optional<Event>& stored) {
  const auto text = [&](auto field) {
    return stored && event.*field == (*stored).*field ? event.*field : kept(event.*field);
  };
  Event written = event;
  written.title = text(&Event::title);
  written.notes = text(&Event::notes);
  written.location = text(&Event::location);
  return written;
}

// The event as a host changes it: its texts moved round, an alarm added, a week later.
Event edited(const Event& event) {
  Event changed = event;
  changed.title = event.location;
  changed.notes = event.title;
  changed.location = event.notes;
  changed.alarms.insert(changed.alarms.begin(), Alarm::withRelativeOffset(-900));
  if (event.isAllDay) {
    // Whole local days: the last day is the one before the end's midnight.
    changed.startDate = localMidnight(addDays(localDate(*event.startDate), 7));
    changed.endDate = localMidnight(addDays(localDate(*event.endDate), 8)) + -1.0;
  } else {
    changed.startDate = *event.startDate + 7 * kDay;
    changed.endDate = *event.endDate + 7 * kDay;
  }
  return changed;
}

void requireSame(const Event& saved, const Event& read) {
  require(saved.title == read.title);
  require(saved.notes == read.notes);
  require(saved.location == read.location);
  require(saved.startDate == read.startDate);
  require(saved.endDate == read.endDate);
  require(saved.isAllDay == read.isAllDay);
  require(saved.alarms == read.alarms);
}

// libical reads the text without an error anywhere in it, but in lines of the file it was made
// from (`origin`) that libical could not read there either: those are kept as they were.
void requireCleanForLibical(const std::string& text, std::string_view origin) {
  const ical::Component parsed = ical::parse(text);
  require(parsed != nullptr);
  require(!ical::hasParseErrors(parsed.get()));
  for (icalcomponent* component : ical::descendants(parsed.get())) {
    for (icalproperty* property : ical::properties(component, ICAL_X_PROPERTY)) {
      const std::optional<std::string> line = ical::unreadLine(property);
      require(!line || origin.find(*line) != std::string_view::npos);
    }
  }
}

// False when libical writes a TZID of the file as another: it replaces control characters and
// bytes that are not UTF-8 with blanks and reads a TZID without trailing blanks, so that the event
// moves to another zone once the file is saved. tembra leaves such TZIDs to libical.
bool tzidsSurviveLibical(std::string_view text) {
  const ical::Component calendar = ical::parse(text);
  for (icalcomponent* component : ical::descendants(calendar.get())) {
    for (icalproperty* property = icalcomponent_get_first_property(component, ICAL_ANY_PROPERTY);
         property; property = icalcomponent_get_next_property(component, ICAL_ANY_PROPERTY)) {
      const auto tzid = ical::parameterText(property, ICAL_TZID_PARAMETER);
      if (!tzid)
        continue;
      const std::string line = "BEGIN:VEVENT\r\n" + ical::serialize(property) + "END:VEVENT\r\n";
      const ical::Component again(icalparser_parse_string(line.c_str()));
      icalproperty* read =
          again ? icalcomponent_get_first_property(again.get(), ICAL_ANY_PROPERTY) : nullptr;
      if (!read || ical::parameterText(read, ICAL_TZID_PARAMETER) != tzid)
        return false;
    }
  }
  return true;
}

// Writes the series as the store writes a file, and reads it back as the store reads one.
Series writtenAndRead(const Series& series, std::string_view origin) {
  const std::string text = series.text();
  requireCleanForLibical(text, origin);
  require(!writeFileAtomically(scratchFolder(), "event.ics", text));
  std::optional<Series> read = readSeries(scratchFolder() / "event.ics");
  require(read.has_value());
  return std::move(*read);
}

// The occurrence an event stands for, found as the store finds it for a save.
std::optional<Occurrence> occurrenceOf(const Series& series, const Event& event) {
  if (series.repeats() && event.occurrenceDate)
    return series.occurrenceAt(*event.occurrenceDate);
  return series.first();
}

// Saves the event, one of the file's or changed from one, into the file as update does, and reads
// the file again.
void checkUpdate(std::string_view text, const Event& event) {
  std::optional<Series> series = Series::parse(text);
  require(series.has_value());
  if (series->uid().empty())
    series->setUid(kUid);
  const std::optional<Occurrence> occurrence = occurrenceOf(*series, event);
  require(occurrence.has_value());
  const std::string before = series->text();
  const Event stored = series->eventAt(*occurrence);
  const std::optional<Occurrence> saved = series->apply(event, occurrence, kNow);
  if (!saved) {
    // Refused: a time the zone the event keeps cannot write. Nothing may have changed.
    require(series->text() == before);
    return;
  }
  const Event expected = asWritten(event, stored);
  requireSame(expected, series->eventAt(*saved));
  const Series read = writtenAndRead(*series, text);
  const std::optional<Occurrence> again = occurrenceOf(read, series->eventAt(*saved));
  require(again.has_value());
  const Event back = read.eventAt(*again);
  requireSame(expected, back);
  // The file is still the same event to a host that syncs it.
  require(back.calendarItemExternalIdentifier == stored.calendarItemExternalIdentifier);
  checkRecords({eventFrom(read, *again, kId, kCalendar)});
}

// Saves the event as a new one, as create does and a move to another calendar, and reads it back.
void checkCreate(const Event& event) {
  if (!Series::canHold(event))
    return;  // refused before the save
  Series series = Series::create(kUid);
  const std::optional<Occurrence> saved = series.apply(event, std::nullopt, kNow);
  require(saved.has_value());
  const Series read = writtenAndRead(series, "");
  const std::optional<Occurrence> again = read.first();
  require(again.has_value());
  requireSame(asWritten(event, std::nullopt), read.eventAt(*again));
}

// The lines of a text, each with its line feed.
std::vector<std::string_view> linesOf(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size() - 1);
    lines.push_back(text.substr(at, end + 1 - at));
    at = end + 1;
  }
  return lines;
}

// A component of a text: its BEGIN and END lines, and how many levels it nests, itself included.
struct Nest {
  std::size_t open, close, depth;
};

std::vector<Nest> componentsOf(const std::vector<std::string_view>& lines) {
  std::vector<Nest> closed, open;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].starts_with("BEGIN:")) {
      open.push_back({i, 0, 1});
    } else if (lines[i].starts_with("END:") && !open.empty()) {
      Nest nest = open.back();
      open.pop_back();
      nest.close = i;
      if (!open.empty())
        open.back().depth = std::max(open.back().depth, nest.depth + 1);
      closed.push_back(nest);
    }
  }
  return closed;
}

// The text with one of its components wrapped in copies of one of its components' BEGIN and END
// lines, up to twice as many as the component nests, so that a few steps reach the depths that
// byte mutations would take hours to build. Empty when there is no component or no room.
std::string deepened(std::string_view text, std::size_t maxSize, std::minstd_rand& random) {
  const std::vector<std::string_view> lines = linesOf(text);
  const std::vector<Nest> components = componentsOf(lines);
  if (components.empty() || text.size() >= maxSize)
    return {};
  const Nest& inner = components[random() % components.size()];
  const Nest& wrapper = components[random() % components.size()];
  const std::string_view begin = lines[wrapper.open], end = lines[wrapper.close];
  const std::size_t room = (maxSize - text.size()) / (begin.size() + end.size());
  if (room == 0)
    return {};
  const std::size_t copies = 1 + random() % std::min(room, 2 * inner.depth);
  std::string deeper;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    for (std::size_t n = 0; i == inner.open && n < copies; ++n)
      deeper += begin;
    deeper += lines[i];
    for (std::size_t n = 0; i == inner.close && n < copies; ++n)
      deeper += end;
  }
  return deeper;
}

}  // namespace
}  // namespace tembra::local

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ::setenv("TZ", "America/New_York", 0);

  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tembra;
  using namespace tembra::local;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::optional<Series> series;
  {
    const StackBudget reading(kReadingStack);
    series = Series::parse(text);
  }
  if (!series)
    return 0;

  // The event get shows, and the windows around it that list shows. A repeating event that lasts
  // for centuries is in every window with all its earlier occurrences, up to 100,000 of them, at a
  // cost of seconds per window: those are the store's limits, which would only stall the fuzzer.
  const std::optional<Occurrence> first = series->first();
  const Instant start = first ? first->start : kNow;
  const bool endless =
      series->repeats() && first && first->end.seconds - first->start.seconds > 10 * kYear;
  std::vector<Occurrence> far;
  if (!endless) {
    const std::size_t nearStart = checkWindow(*series, start + -kDay, start + 35 * kDay).size();
    far = checkWindow(*series, start + 800 * kYear, start + 800 * kYear + 14 * kDay);
    // Centuries of a denser series list up to 100,000 occurrences, a thousand times the cost of
    // the rest; their far starts are reached by the window above.
    if (nearStart <= 1)
      checkWindow(*series, start + -150 * kYear, start + 450 * kYear);
  }
  if (!first)
    return 0;

  const Event event = eventFrom(*series, *first, kId, kCalendar);
  checkRecords({event});
  if (!tzidsSurviveLibical(text))
    return 0;
  checkUpdate(text, event);
  checkUpdate(text, edited(event));
  checkCreate(event);
  // An occurrence far from the start, saved on its own, becomes an override of its own times.
  if (!far.empty()) {
    const Event farEvent = eventFrom(*series, far.front(), kId, kCalendar);
    checkUpdate(text, farEvent);
    checkCreate(farEvent);
  }
  return 0;
}

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t maxSize, unsigned int seed) {
  std::minstd_rand random(seed);
  if (random() % 8 == 0) {
    const std::string deeper = tembra::local::deepened(
        std::string_view(reinterpret_cast<const char*>(data), size), maxSize, random);
    if (!deeper.empty()) {
      std::memcpy(data, deeper.data(), deeper.size());
      return deeper.size();
    }
  }
  return LLVMFuzzerMutate(data, size, maxSize);
}
