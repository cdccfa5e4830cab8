// The event input object: reading its text, the value rules, and replacing alarms from records.
#include "commands/event_input.h"
#include "support/formatters.h"

#include <gtest/gtest.h>

namespace tembra {
namespace {

// ---- Reading the text ----

struct ReadCase {
  const char* name;
  std::string text;
  bool object;
};

class ReadInputObjectTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadInputObjectTest, GivesAnObjectOrNothing) {
  const std::optional<Json> value = readInputObject(GetParam().text);
  EXPECT_EQ(value.has_value(), GetParam().object);
  if (value) {
    EXPECT_TRUE(value->is_object());
  }
}

// Containers nested `levels` deep, the outermost an object.
std::string nested(std::size_t levels) {
  return R"({"extra":)" + std::string(levels - 1, '[') + std::string(levels - 1, ']') + "}";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ReadInputObjectTest,
    ::testing::Values(ReadCase{"empty_object", "{}", true},
                      ReadCase{"surrounding_blanks", " \n{\"title\":\"x\"}\t", true},
                      ReadCase{"escaped_nul_in_string", R"({"title":"a\u0000b"})", true},
                      ReadCase{"chinese_text", R"({"title":"砚舟备注"})", true},
                      ReadCase{"empty_text", "", false}, ReadCase{"not_json", "title=x", false},
                      ReadCase{"array_of_an_event", R"([{"start":"2024-05-01T09:30:00Z"}])", false},
                      ReadCase{"string", R"("{}")", false}, ReadCase{"number", "1", false},
                      ReadCase{"null", "null", false}, ReadCase{"trailing_text", "{}x", false},
                      ReadCase{"two_documents", "{}{}", false},
                      ReadCase{"comment", "{} // note", false},
                      ReadCase{"single_quotes", "{'title':'x'}", false},
                      ReadCase{"not_a_number", R"({"relative":NaN})", false},
                      ReadCase{"number_beyond_double", R"({"relative":1e400})", false},
                      ReadCase{"invalid_utf8_in_string", "{\"title\":\"\xFF\"}", false},
                      ReadCase{"invalid_utf8_outside", "{}\xFF", false},
                      ReadCase{"encoded_surrogate", "{\"title\":\"\xED\xA0\x80\"}", false},
                      ReadCase{"overlong_form", "{\"title\":\"\xC0\xAF\"}", false},
                      ReadCase{"lone_escaped_surrogate", R"({"title":"\ud800"})", false},
                      ReadCase{"nul_after_object", std::string("{}\0{", 4), false},
                      ReadCase{"raw_nul_in_string", std::string("{\"title\":\"a\0b\"}", 15), false},
                      ReadCase{"depth_at_limit", nested(kMaxInputDepth), true},
                      ReadCase{"depth_beyond_limit", nested(kMaxInputDepth + 1), false},
                      ReadCase{"hundred_thousand_arrays",
                               std::string(100'000, '[') + std::string(100'000, ']'), false},
                      ReadCase{"hundred_thousand_arrays_inside", nested(100'000), false},
                      ReadCase{"hundred_thousand_unclosed_objects", std::string(100'000, '{'),
                               false},
                      ReadCase{"hundred_thousand_unclosed_arrays_inside",
                               R"({"a":)" + std::string(100'000, '['), false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadInputObject, KeepsMegabytesOfTextWhole) {
  const std::string notes(4 << 20, 'n');
  const std::optional<Json> value = readInputObject(R"({"notes":")" + notes + R"("})");
  ASSERT_TRUE(value);
  EXPECT_EQ(stringValue(*value, "notes"), notes);
}

TEST(ReadInputObject, LaterOfTwoEqualKeysWins) {
  const std::optional<Json> value = readInputObject(R"({"title":"first","title":"second"})");
  ASSERT_TRUE(value);
  EXPECT_EQ(stringValue(*value, "title"), "second");
}

TEST(InputObject, ReadsTheValueAfterTheFirstInputOption) {
  const std::vector<std::string> args = {"tembra",           "create",  "--input",
                                         R"({"title":"a"})", "--input", R"({"title":"b"})"};
  const std::optional<Json> value = inputObject(args);
  ASSERT_TRUE(value);
  EXPECT_EQ(stringValue(*value, "title"), "a");
  EXPECT_FALSE(inputObject(std::vector<std::string>{"tembra", "create"}));
  EXPECT_FALSE(inputObject(std::vector<std::string>{"tembra", "create", "--input"}));
}

// ---- The value rules: one value, every rule's verdict ----

struct ValueCase {
  const char* name;
  std::optional<std::string> json;  // the value's JSON text; absent: the key is missing
  std::optional<std::string> string;
  std::optional<std::int64_t> dateMillis;
  std::optional<bool> boolean;
  std::optional<double> number;
  bool alarmRecords;
};

class ValueRulesTest : public ::testing::TestWithParam<ValueCase> {};

TEST_P(ValueRulesTest, JudgesTheValue) {
  const ValueCase& c = GetParam();
  // Every rule reads the same key; "alarms" is the one alarmInputRecords looks at.
  const std::string text = c.json ? R"({"alarms":)" + *c.json + "}" : "{}";
  const std::optional<Json> object = readInputObject(text);
  ASSERT_TRUE(object) << text;
  EXPECT_EQ(stringValue(*object, "alarms"), c.string);
  const std::optional<Instant> date = dateValue(kFormatters, *object, "alarms");
  EXPECT_EQ(date ? std::optional(epochMillis(*date)) : std::nullopt, c.dateMillis);
  EXPECT_EQ(booleanValue(*object, "alarms"), c.boolean);
  EXPECT_EQ(numberValue(*object, "alarms"), c.number);
  EXPECT_EQ(alarmInputRecords(*object) != nullptr, c.alarmRecords);
}

constexpr auto none = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Rules, ValueRulesTest,
    ::testing::Values(
        ValueCase{"missing", none, none, none, none, none, false},
        ValueCase{"null", "null", none, none, none, none, false},
        ValueCase{"text", R"("Standup")", "Standup", none, none, none, false},
        ValueCase{"empty_text", R"("")", "", none, none, none, false},
        ValueCase{"text_true", R"("true")", "true", none, none, none, false},
        ValueCase{"text_number", R"("-900")", "-900", none, none, none, false},
        ValueCase{"date_text", R"("2024-05-01T09:30:00Z")", "2024-05-01T09:30:00Z", 1714555800000,
                  none, none, false},
        ValueCase{"date_text_fraction_offset", R"("2024-05-01T17:30:00.250+08:00")",
                  "2024-05-01T17:30:00.250+08:00", 1714555800250, none, none, false},
        ValueCase{"date_text_without_zone", R"("2024-05-01T09:30:00")", "2024-05-01T09:30:00", none,
                  none, none, false},
        ValueCase{"epoch_millis", "1714555800000", none, none, none, 1714555800000.0, false},
        ValueCase{"true", "true", none, none, true, 1.0, false},
        ValueCase{"false", "false", none, none, false, 0.0, false},
        ValueCase{"zero", "0", none, none, false, 0.0, false},
        ValueCase{"one", "1", none, none, true, 1.0, false},
        ValueCase{"one_with_fraction", "1.0", none, none, true, 1.0, false},
        ValueCase{"one_with_exponent", "1e0", none, none, true, 1.0, false},
        ValueCase{"minus_zero", "-0", none, none, false, 0.0, false},
        ValueCase{"zero_with_fraction", "0.0", none, none, false, 0.0, false},
        ValueCase{"two", "2", none, none, none, 2.0, false},
        ValueCase{"minus_one", "-1", none, none, none, -1.0, false},
        ValueCase{"half", "0.5", none, none, none, 0.5, false},
        ValueCase{"negative_offset", "-900", none, none, none, -900.0, false},
        ValueCase{"fractional_offset", "-90.5", none, none, none, -90.5, false},
        ValueCase{"largest_unsigned", "18446744073709551615", none, none, none,
                  18446744073709551615.0, false},
        ValueCase{"object", "{}", none, none, none, none, false},
        ValueCase{"empty_array", "[]", none, none, none, none, true},
        ValueCase{"array_of_objects", R"([{"relative":-900},{}])", none, none, none, none, true},
        ValueCase{"array_with_a_number", R"([{"relative":-900},5])", none, none, none, none, false},
        ValueCase{"array_with_null", R"([{},null])", none, none, none, none, false},
        ValueCase{"array_with_an_array", "[[]]", none, none, none, none, false},
        ValueCase{"array_as_text", R"("[]")", "[]", none, none, none, false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- applyAlarms ----

const Instant kAt{1714555800};  // 2024-05-01T09:30:00Z

struct AlarmsCase {
  const char* name;
  const char* records;
  std::vector<Alarm> expected;
};

class ApplyAlarmsTest : public ::testing::TestWithParam<AlarmsCase> {};

TEST_P(ApplyAlarmsTest, ReplacesEveryAlarm) {
  Event event;
  event.startDate = kAt;
  event.alarms = {Alarm::withRelativeOffset(-60), Alarm::withAbsoluteDate(kAt)};
  const Json records = Json::parse(GetParam().records);
  applyAlarms(kFormatters, event, records);
  EXPECT_EQ(event.alarms, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Records, ApplyAlarmsTest,
    ::testing::Values(
        AlarmsCase{"empty_removes_all", "[]", {}},
        AlarmsCase{"relative_before", R"([{"relative":-900}])", {Alarm::withRelativeOffset(-900)}},
        AlarmsCase{"relative_after", R"([{"relative":600}])", {Alarm::withRelativeOffset(600)}},
        AlarmsCase{"fraction_kept", R"([{"relative":-90.5}])", {Alarm::withRelativeOffset(-90.5)}},
        AlarmsCase{"true_is_one_second", R"([{"relative":true}])", {Alarm::withRelativeOffset(1)}},
        AlarmsCase{"false_is_zero", R"([{"relative":false}])", {Alarm::withRelativeOffset(0)}},
        AlarmsCase{"relative_text_without_absolute", R"([{"relative":"-900"}])", {}},
        AlarmsCase{"relative_text_falls_to_absolute",
                   R"([{"relative":"-900","absolute":"2024-05-01T09:30:00Z"}])",
                   {Alarm::withAbsoluteDate(kAt)}},
        AlarmsCase{"relative_wins_over_absolute",
                   R"([{"relative":-900,"absolute":"2024-05-01T09:30:00Z"}])",
                   {Alarm::withRelativeOffset(-900)}},
        AlarmsCase{"absolute_fraction_z",
                   R"([{"absolute":"2024-05-01T09:30:00.000Z"}])",
                   {Alarm::withAbsoluteDate(kAt)}},
        AlarmsCase{"absolute_offset_without_fraction",
                   R"([{"absolute":"2024-05-01T17:30:00+08:00"}])",
                   {Alarm::withAbsoluteDate(kAt)}},
        AlarmsCase{"absolute_free_text_skipped",
                   R"([{"absolute":"tomorrow at nine"},{"relative":60}])",
                   {Alarm::withRelativeOffset(60)}},
        AlarmsCase{"absolute_number_skipped", R"([{"absolute":1714555800000}])", {}},
        AlarmsCase{"null_relative_skipped", R"([{"relative":null}])", {}},
        AlarmsCase{"other_keys_ignored",
                   R"([{"minutes":15,"relative":-60}])",
                   {Alarm::withRelativeOffset(-60)}},
        AlarmsCase{"equal_records_both_added",
                   R"([{"relative":-900},{"relative":-900}])",
                   {Alarm::withRelativeOffset(-900), Alarm::withRelativeOffset(-900)}},
        AlarmsCase{"record_order_kept",
                   R"([{"relative":600},{"absolute":"2024-05-01T09:30:00Z"},{"relative":-600}])",
                   {Alarm::withRelativeOffset(600), Alarm::withAbsoluteDate(kAt),
                    Alarm::withRelativeOffset(-600)}},
        AlarmsCase{"non_object_element_skipped",
                   R"([5,{"relative":60}])",
                   {Alarm::withRelativeOffset(60)}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tembra
