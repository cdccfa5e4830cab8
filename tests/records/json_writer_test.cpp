// The streamed text of a record is the text of its built value, byte for byte.
#include "records/json_writer.h"

#include <random>

#include <gtest/gtest.h>

#include "records/event_record.h"
#include "records/utf8.h"
#include "support/formatters.h"

namespace tembra {
namespace {

std::vector<Event> variedEvents() {
  Event full;
  full.eventIdentifier = "a/b/c.ics";
  full.calendar = Calendar{"a/b", "Work \"quoted\"", Source{"s"}, std::nullopt, true};
  full.title = "日历 / tab\there\nline \x01 ctl \x7f del \\ back";
  full.notes = "";
  full.location = "Café";
  full.startDate = Instant{1714555800.25};
  full.endDate = Instant{1714559400};
  full.isAllDay = true;
  full.alarms = {Alarm::withRelativeOffset(-90.5), Alarm::withAbsoluteDate(Instant{0})};
  full.lastModifiedDate = Instant{-1.0005};
  full.calendarItemExternalIdentifier = "uid@example.com";
  full.hasRecurrenceRules = true;
  Event bare;
  bare.startDate = Instant{0};
  bare.endDate = Instant{0};
  return {full, bare};
}

TEST(JsonWriter, WritesRecordsAsTheirBuiltValuesWouldBeWritten) {
  JsonWriter list;
  list.beginArray();
  Json built = Json::array();
  for (const Event& event : variedEvents()) {
    writeEventRecord(list, kFormatters, event);
    built.push_back(eventJSON(kFormatters, event));
  }
  list.endArray();
  ASSERT_TRUE(list.valid());
  JsonWriter fromValue;
  fromValue.value(built);
  EXPECT_EQ(list.text(), fromValue.text());
  EXPECT_NE(list.text().find("\\u0001 ctl \x7f del \\\\ back"), std::string::npos) << list.text();
  EXPECT_NE(list.text().find("\"a\\/b\\/c.ics\""), std::string::npos);
  // Read back, the text is the same value.
  EXPECT_EQ(Json::parse(list.text()), built);
}

TEST(JsonWriter, TextThatIsNotUtf8MakesTheDocumentInvalid) {
  JsonWriter writer;
  writer.beginObject();
  writer.key("ok");
  writer.string("fine");
  writer.key("bad");
  writer.string("\xc3\x28");
  writer.endObject();
  EXPECT_FALSE(writer.valid());
  JsonWriter badKey;
  badKey.value(Json{{"\xff", 1}});
  EXPECT_FALSE(badKey.valid());
}

TEST(JsonWriter, WritesEveryKindOfValueCompactly) {
  JsonWriter writer;
  writer.value(
      Json::parse(R"({"b":[1,-2,true,false,null,{}],"a":"x","c":[],"d":18446744073709551615})"));
  EXPECT_TRUE(writer.valid());
  EXPECT_EQ(writer.text(),
            R"({"a":"x","b":[1,-2,true,false,null,{}],"c":[],"d":18446744073709551615})");
}

// What the escaper must give: nlohmann's escaping, with "/" escaped too.
std::optional<std::string> referenceQuoted(const std::string& text) {
  if (!isValidUtf8(text))
    return std::nullopt;
  std::string quoted;
  for (const char c : Json(text).dump()) {
    if (c == '/')
      quoted += '\\';
    quoted += c;
  }
  return quoted;
}

TEST(AppendQuoted, EscapesAsTheReferenceAtEveryOffsetOfAWord) {
  // Pieces that end a plain run, and runs long enough to be passed over a word at a time.
  const std::vector<std::string> pieces = {"plain text",
                                           "abcdefgh",
                                           "\"",
                                           "\\",
                                           "/",
                                           "\n",
                                           "\t",
                                           std::string(1, '\0'),
                                           "\x1f",
                                           "\x7f",
                                           " ",
                                           "é",
                                           "日历",
                                           "😀",
                                           "\xc3\x28",
                                           "\xed\xa0\x80",
                                           "\xf4\x90\x80\x80",
                                           "\xe6\x97"};
  std::mt19937 random(11);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const int count = static_cast<int>(random() % 8);
    for (int i = 0; i < count; ++i)
      text += pieces[random() % pieces.size()].substr(0, 1 + random() % 10);
    std::string quoted = "prefix";
    const bool valid = appendQuoted(quoted, text);
    const auto expected = referenceQuoted(text);
    ASSERT_EQ(valid, expected.has_value())
        << Json(text).dump(-1, ' ', true, Json::error_handler_t::replace);
    if (expected) {
      ASSERT_EQ(quoted, "prefix" + *expected);
    }
  }
}

TEST(EventRecordText, GivesTheWritersBytesForEveryPairOfDates) {
  const std::vector<std::pair<std::optional<Instant>, std::optional<Instant>>> dates = {
      {Instant{1714555800.25}, Instant{1714559400}},
      {Instant{-62167219200}, Instant{253402300799.999}},  // the first and last of 0000..9999
      {Instant{86399.9996}, Instant{86400.0004}},          // rounds into the next day
      {std::nullopt, Instant{0}},
      {Instant{0}, std::nullopt}};
  for (Event event : variedEvents()) {
    for (const bool modified : {true, false}) {
      if (!modified)
        event.lastModifiedDate.reset();
      const EventRecordText record(kFormatters, event);
      ASSERT_TRUE(record.valid());
      DateAppender appender;
      for (const auto& [start, end] : dates) {
        event.startDate = start;
        event.endDate = end;
        JsonWriter expected;
        writeEventRecord(expected, kFormatters, event);
        std::string text;
        record.append(text, appender, start, end);
        EXPECT_EQ(text, expected.text());
      }
    }
  }
  Event bad = variedEvents().front();
  bad.location = "\xff";
  EXPECT_FALSE(EventRecordText(kFormatters, bad).valid());
}

}  // namespace
}  // namespace tembra
