// Timings of the functions on the hot paths: dates, records and their JSON text, reading one
// event file, windows of repeating series near and far from their start, and the index's answer
// to a month of a store of 10,000 events.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <filesystem>

#include "access/local/event_files.h"
#include "access/local/index.h"
#include "access/local/local_store.h"
#include "access/local/series.h"
#include "cli/output.h"
#include "commands/event_input.h"
#include "records/civil.h"
#include "records/dates.h"
#include "records/event_record.h"
#include "support/store_generator.h"

namespace {

using namespace tembra;

const Formatters kFormatters;

void ParseDate(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(parseDate(kFormatters, "2024-05-01T17:30:00.250+08:00"));
  }
}
BENCHMARK(ParseDate);

void FormatDate(benchmark::State& state) {
  double seconds = 1714555800.25;
  for (auto _ : state) {
    benchmark::DoNotOptimize(formatDate(kFormatters, Instant{seconds}));
    seconds += 61.001;
  }
}
BENCHMARK(FormatDate);

Event sampleEvent(int number) {
  Event event;
  event.eventIdentifier = "local/calendar/" + std::to_string(number) + ".ics";
  event.calendar = Calendar{"local/calendar", "日历", Source{"本地"}, std::nullopt, true};
  event.title = "Weekly review with the team";
  event.notes = "Agenda: numbers, plans";
  event.location = "Room 4";
  event.startDate = Instant{1714555800.0 + number * 3600};
  event.endDate = *event.startDate + 1800;
  event.alarms = {Alarm::withRelativeOffset(-900)};
  event.lastModifiedDate = Instant{1714000000};
  event.calendarItemExternalIdentifier = "UID-" + std::to_string(number);
  event.hasRecurrenceRules = number % 10 == 0;
  return event;
}

// What list spends on its output: 10,000 event records written straight into one text.
void WriteTenThousandRecords(benchmark::State& state) {
  std::vector<Event> events;
  for (int i = 0; i < 10'000; ++i)
    events.push_back(sampleEvent(i));
  for (auto _ : state) {
    JsonWriter list(events.size() * 400);
    list.beginArray();
    for (const Event& event : events)
      writeEventRecord(list, kFormatters, event);
    list.endArray();
    benchmark::DoNotOptimize(list.text().data());
  }
}
BENCHMARK(WriteTenThousandRecords)->Unit(benchmark::kMillisecond);

// The same through a built value per record, as a single record is printed.
void BuildAndWriteTenThousandRecords(benchmark::State& state) {
  std::vector<Event> events;
  for (int i = 0; i < 10'000; ++i)
    events.push_back(sampleEvent(i));
  for (auto _ : state) {
    Json list = Json::array();
    for (const Event& event : events)
      list.push_back(eventJSON(kFormatters, event));
    benchmark::DoNotOptimize(encodeJson(list));
  }
}
BENCHMARK(BuildAndWriteTenThousandRecords)->Unit(benchmark::kMillisecond);

// The list command's way: each event's record text made once, then 10,000 occurrences (a tenth of
// them of one series, the rest of their own) written with their dates into a buffer emptied as it
// fills.
void WriteTenThousandOccurrences(benchmark::State& state) {
  std::vector<Event> events;
  for (int i = 0; i < 10'000; ++i)
    events.push_back(sampleEvent(i));
  for (auto _ : state) {
    std::vector<EventRecordText> records;
    for (int i = 0; i < 9'000; ++i)
      records.emplace_back(kFormatters, events[i]);
    std::string text;
    text.reserve(OutputBuffer::kPiece + OutputBuffer::kPiece / 4);
    DateAppender dates;
    std::size_t written = 0;
    text += '[';
    for (int i = 0; i < 10'000; ++i) {
      const EventRecordText& record = records[i < 9'000 ? i : 0];
      record.append(text, dates, events[i].startDate, events[i].endDate);
      text += ',';
      if (text.size() >= OutputBuffer::kPiece) {
        written += text.size();
        text.clear();
      }
    }
    benchmark::DoNotOptimize(written += text.size());
  }
}
BENCHMARK(WriteTenThousandOccurrences)->Unit(benchmark::kMillisecond);

// The escaper over texts of the kinds a calendar holds, in bytes per second.
void EscapeText(benchmark::State& state, std::string text) {
  std::string out;
  for (auto _ : state) {
    out.clear();
    benchmark::DoNotOptimize(appendQuoted(out, text));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK_CAPTURE(EscapeText, ascii_notes,
                  std::string("Agenda: quarterly numbers, plans for the next release, and a "
                              "review of the open questions from last week's meeting."));
BENCHMARK_CAPTURE(EscapeText, chinese_notes,
                  std::string("议程：季度数字、下一个版本的计划，以及上周会议遗留问题的回顾。"));
BENCHMARK_CAPTURE(EscapeText, identifier, std::string("generated/work/gen-12345.ics"));

void ReadInputObject(benchmark::State& state) {
  const std::string text =
      R"({"title":"Lunch","start":"2024-05-01T12:00:00Z","alarms":[{"relative":-900}]})";
  for (auto _ : state)
    benchmark::DoNotOptimize(readInputObject(text));
}
BENCHMARK(ReadInputObject);

// A generated store kept for the process.
const std::filesystem::path& generatedStore() {
  static const std::filesystem::path root = [] {
    const auto path =
        std::filesystem::temp_directory_path() / ("tembra-bench-" + std::to_string(::getpid()));
    testing::generateStore(path, 10'000, 1);
    return path;
  }();
  return root;
}

void ReadOneEventFile(benchmark::State& state) {
  const auto file = generatedStore() / "local/calendar/gen-0.ics";
  for (auto _ : state) {
    const auto series = local::readSeries(file);
    benchmark::DoNotOptimize(series->first());
  }
}
BENCHMARK(ReadOneEventFile);

// Midnight UTC of a date, in seconds since 1970.
constexpr double midnightOf(std::int64_t year, unsigned month, unsigned day) {
  return static_cast<double>(civil::daysFromCivil(year, month, day) * 86400);
}

// One series file as a store holds it.
local::Series seriesOf(const std::string& lines) {
  return *local::Series::parse(
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//bench//bench//EN\r\nBEGIN:VEVENT\r\n"
      "UID:bench\r\nDTSTAMP:20250101T000000Z\r\n" +
      lines + "END:VEVENT\r\nEND:VCALENDAR\r\n");
}

// A week of an hourly series of 300,000 occurrences (to 2059): near its start, and in 2050,
// which a walk from the start would reach after 220,000 occurrences.
void HourlyCountWeek(benchmark::State& state, double from) {
  const local::Series series = seriesOf(
      "DTSTART:20250301T000000Z\r\nDTEND:20250301T001500Z\r\nRRULE:FREQ=HOURLY;COUNT=300000\r\n");
  for (auto _ : state) {
    const auto found = series.occurrences(Instant{from}, Instant{from + 7 * 86400});
    benchmark::DoNotOptimize(found.data());
  }
}
BENCHMARK_CAPTURE(HourlyCountWeek, near_2025, midnightOf(2025, 3, 6))
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(HourlyCountWeek, far_2050, midnightOf(2050, 6, 1))->Unit(benchmark::kMicrosecond);

// A month of a weekly series without end, begun in 2020: near its start, and in 5000, beyond
// libical's last year.
void WeeklyMonth(benchmark::State& state, double from) {
  const local::Series series =
      seriesOf("DTSTART:20200101T090000Z\r\nDTEND:20200101T100000Z\r\nRRULE:FREQ=WEEKLY\r\n");
  for (auto _ : state) {
    const auto found = series.occurrences(Instant{from}, Instant{from + 31 * 86400});
    benchmark::DoNotOptimize(found.data());
  }
}
BENCHMARK_CAPTURE(WeeklyMonth, near_2025, midnightOf(2025, 3, 1))->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(WeeklyMonth, far_5000, midnightOf(5000, 3, 1))->Unit(benchmark::kMicrosecond);

void IndexMonth(benchmark::State& state) {
  auto store = local::createLocalStore(generatedStore());
  const auto predicate =
      store->predicateForEvents(Instant{1740787200}, Instant{1743465600}, std::nullopt);
  store->eventsMatching(predicate).value();  // builds the index
  for (auto _ : state) {
    auto fresh = local::createLocalStore(generatedStore());
    benchmark::DoNotOptimize(fresh->eventsMatching(predicate).value());
  }
}
BENCHMARK(IndexMonth)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  std::error_code ignored;
  std::filesystem::remove_all(
      std::filesystem::temp_directory_path() / ("tembra-bench-" + std::to_string(::getpid())),
      ignored);
  return 0;
}
