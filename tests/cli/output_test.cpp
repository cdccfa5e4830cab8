// emit and fail: compact JSON, escaping, the fallback text and the exit statuses.
#include "cli/output.h"

#include <gtest/gtest.h>

#include "cli/messages.h"
#include "support/in_process.h"

namespace tembra {
namespace {

using testing::capture;
using testing::Outcome;

TEST(Fail, WritesOneCompactErrorRecordWithRawUtf8) {
  const Outcome outcome = capture([](Output& out) { fail(out, "get 需要 --id", 64); });
  EXPECT_EQ(outcome.status, 64);
  EXPECT_EQ(outcome.out, "{\"error\":\"get 需要 --id\"}\n");
}

TEST(Fail, DefaultsToStatusOne) {
  EXPECT_EQ(capture([](Output& out) { fail(out, "x"); }).status, 1);
}

TEST(Emit, EscapesSlashQuoteBackslashAndLineBreak) {
  const Outcome outcome = capture([](Output& out) { fail(out, "/tmp/a \"b\" c\\d\ne", 1); });
  EXPECT_EQ(outcome.out, "{\"error\":\"\\/tmp\\/a \\\"b\\\" c\\\\d\\ne\"}\n");
}

TEST(Emit, WritesSlashesInKeysEscapedToo) {
  const Outcome outcome = capture([](Output& out) { emit(out, Json{{"a/b", "c/d"}}); });
  EXPECT_EQ(outcome.out, "{\"a\\/b\":\"c\\/d\"}\n");
}

TEST(Emit, WritesAnEmptyArray) {
  EXPECT_EQ(capture([](Output& out) { emit(out, Json::array()); }).out, "[]\n");
}

TEST(Emit, WritesIntegersAndBooleansWithoutDecoration) {
  const Outcome outcome = capture([](Output& out) {
    emit(out, Json{{"n", std::int64_t{-9007199254740993}}, {"t", true}, {"f", false}});
  });
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "{\"f\":false,\"n\":-9007199254740993,\"t\":true}\n");
}

TEST(Emit, FallsBackForTextThatIsNotUtf8) {
  const Outcome outcome = capture([](Output& out) { emit(out, Json{{"title", "bad \xff byte"}}); });
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "{\"error\":\"json encode failed\"}");
  EXPECT_EQ(outcome.out.size(), 30u);
  EXPECT_EQ(outcome.out, kFallbackText);
}

TEST(Fail, FallsBackWhenTheMessageIsNotUtf8) {
  const Outcome outcome =
      capture([](Output& out) { fail(out, std::string(messages::kUnknownCommand) + "\xc3", 64); });
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, kFallbackText);
}

TEST(Emit, EndsWithStatusOneWhenTheReaderHasGone) {
  testing::CapturedOutput output;
  output.closed = true;
  try {
    emit(output, Json::array());
    FAIL() << "emit returned";
  } catch (const testing::Ended& ended) {
    EXPECT_EQ(ended.status, 1);
  }
}

}  // namespace
}  // namespace tembra
