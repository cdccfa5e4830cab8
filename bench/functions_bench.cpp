// Timings of the functions on the hot paths: dates, records and their JSON text, reading one
// event file, and the index's answer to a month of a store of 10,000 events.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <filesystem>

#include "access/local/event_files.h"
#include "access/local/index.h"
#include "access/local/local_store.h"
#include "cli/output.h"
#include "commands/event_input.h"
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
  for (int i = 0; i < 10'000; ++i) events.push_back(sampleEvent(i));
  for (auto _ : state) {
    JsonWriter list(events.size() * 400);
    list.beginArray();
    for (const Event& event : events) writeEventRecord(list, kFormatters, event);
    list.endArray();
    benchmark::DoNotOptimize(list.text().data());
  }
}
BENCHMARK(WriteTenThousandRecords)->Unit(benchmark::kMillisecond);

// The same through a built value per record, as a single record is printed.
void BuildAndWriteTenThousandRecords(benchmark::State& state) {
  std::vector<Event> events;
  for (int i = 0; i < 10'000; ++i) events.push_back(sampleEvent(i));
  for (auto _ : state) {
    Json list = Json::array();
    for (const Event& event : events) list.push_back(eventJSON(kFormatters, event));
    benchmark::DoNotOptimize(encodeJson(list));
  }
}
BENCHMARK(BuildAndWriteTenThousandRecords)->Unit(benchmark::kMillisecond);

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

void IndexMonth(benchmark::State& state) {
  auto store = local::createLocalStore(generatedStore());
  const auto predicate =
      store->predicateForEvents(Instant{1740787200}, Instant{1743465600}, std::nullopt);
  store->eventsMatching(predicate);  // builds the index
  for (auto _ : state) {
    auto fresh = local::createLocalStore(generatedStore());
    benchmark::DoNotOptimize(fresh->eventsMatching(predicate));
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
