// Files that the store's fuzzer found it saved as something else: each fixture in data/fuzz/ is
// read, one event of it changed and saved, and the text written must read back as that event.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "access/local/files.h"
#include "access/local/ical.h"
#include "access/local/series.h"
#include "records/dates.h"
#include "support/formatters.h"

namespace tembra::local {
namespace {

const std::filesystem::path kFixtures =
    std::filesystem::path(TEMBRA_SOURCE_DIR) / "tests/access/local/data/fuzz";

struct Save {
  const char* fault;  // also the fixture's name
  bool asNew;         // saved as a new event, as create saves it, not over its own file
  std::function<void(Event&)> change;
  friend void PrintTo(const Save& save, std::ostream* out) { *out << save.fault; }
};

class SeriesSavesTest : public ::testing::TestWithParam<Save> {};

TEST_P(SeriesSavesTest, ReadsBackAsSaved) {
  const Save& row = GetParam();
  std::optional<Series> series =
      Series::parse(readFile(kFixtures / (std::string(row.fault) + ".ics")).value_or(""));
  ASSERT_TRUE(series);
  const std::optional<Occurrence> first = series->first();
  ASSERT_TRUE(first);
  Event event = series->eventAt(*first);
  row.change(event);
  const Instant now = *parseDate(kFormatters, "2025-01-01T00:00:00Z");
  Series saved = row.asNew ? Series::create("saved") : std::move(*series);
  ASSERT_TRUE(saved.apply(event, row.asNew ? std::nullopt : first, now));

  const std::optional<Series> read = Series::parse(saved.text());
  ASSERT_TRUE(read) << saved.text();
  const std::optional<Occurrence> again =
      row.asNew ? read->first() : read->occurrenceAt(first->originalStart);
  ASSERT_TRUE(again);
  const Event back = read->eventAt(*again);
  // A new event's texts are written clean; an empty one is none.
  const auto written = [&](const std::optional<std::string>& text) {
    return row.asNew ? ical::cleanText(text.value_or("")) : text.value_or("");
  };
  EXPECT_EQ(back.title.value_or(""), written(event.title));
  EXPECT_EQ(back.notes.value_or(""), written(event.notes));
  EXPECT_EQ(back.location.value_or(""), written(event.location));
  EXPECT_EQ(back.startDate, event.startDate);
  EXPECT_EQ(back.endDate, event.endDate);
  EXPECT_EQ(back.alarms, event.alarms);
  if (!row.asNew) {
    EXPECT_EQ(back.calendarItemExternalIdentifier, event.calendarItemExternalIdentifier);
  }
}

const auto retitle = [](Event& event) { event.title = "Changed"; };

INSTANTIATE_TEST_SUITE_P(
    Fuzzed, SeriesSavesTest,
    ::testing::Values(
        // libical writes no carriage return, so a location holding one changed with the title.
        Save{"carriage_return_in_untouched_text", false, retitle},
        // libical reads a value without edge blanks, which an unknown escape (\e) had made.
        Save{"blank_at_edge_of_untouched_text", false, [](Event& event) { event.notes = "n"; }},
        // libical's clone of the series emptied STATUS:X-DRAFT, which then did not parse.
        Save{"override_empties_unknown_status", false, retitle},
        // 01:30 on 3 November comes twice in New York; written so, it read as the first.
        Save{"override_end_in_repeated_hour", false, retitle},
        // An alarm of a title of control characters only had an empty DESCRIPTION.
        Save{"alarm_of_blank_title", true, [](Event&) {}},
        // The UID kept its carriage return when read, which libical does not write either.
        Save{"uid_with_carriage_return", false, retitle},
        // A second DTSTAMP of a date alone was written with VALUE=DATE, which libical refuses.
        Save{"date_stamp_written_as_refused_value", false, retitle},
        // So was one in a component nested in the event, carried into the override made of it.
        Save{"date_stamp_in_nested_component", false, retitle},
        // A trigger RELATED="END\xfc", read as START, was written as "END " and read as END.
        Save{"alarm_related_end_with_invalid_byte", false, retitle},
        // TRIGGER;VALUE=DATE-TIME:20240502, read as that day's midnight, was written as VALUE=DATE.
        Save{"alarm_trigger_date_under_date_time", false, retitle},
        // An all-day series' RDATE of a date-time read as starting then, and saved at midnight.
        Save{"all_day_series_with_date_time_rdate", false, retitle}),
    [](const auto& info) { return std::string(info.param.fault); });

}  // namespace
}  // namespace tembra::local
