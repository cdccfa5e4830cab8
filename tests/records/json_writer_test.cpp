// The streamed text of a record is the text of its built value, byte for byte.
#include "records/json_writer.h"

#include <gtest/gtest.h>

#include "records/event_record.h"

namespace tembra {
namespace {

const Formatters kFormatters;

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

}  // namespace
}  // namespace tembra
