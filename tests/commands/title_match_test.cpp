// Title trimming, lower-casing and canonical equality.
#include "commands/title_match.h"

#include <gtest/gtest.h>

namespace tembra {
namespace {

// Ill-formed UTF-8 of each kind ICU must refuse rather than repair.
const std::string kIllFormed[] = {
    "\xFF",              // never a UTF-8 byte
    "Work\x80",          // a continuation byte alone
    "\xE5\xB7",          // a cut sequence (the start of 工)
    "\xC0\xAF",          // overlong "/"
    "\xED\xA0\x80",      // a surrogate
    "\xF4\x90\x80\x80",  // above U+10FFFF
};

struct TrimCase {
  const char* name;
  std::string text;
  std::string trimmed;
};

class TrimTitleTest : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimTitleTest, RemovesOnlyWhiteSpaceAtTheEnds) {
  EXPECT_EQ(trimTitle(GetParam().text), GetParam().trimmed);
}

INSTANTIATE_TEST_SUITE_P(
    Characters, TrimTitleTest,
    ::testing::Values(TrimCase{"nothing_to_trim", "Work", "Work"}, TrimCase{"empty", "", ""},
                      TrimCase{"spaces", "  Work  ", "Work"},
                      TrimCase{"leading_spaces_trailing_line_feed", "  Work\n", "Work"},
                      TrimCase{"tab_to_carriage_return", "\t\n\v\f\rWork\r\f\v\n\t", "Work"},
                      TrimCase{"next_line", "\u0085Work\u0085", "Work"},
                      TrimCase{"no_break_space", "\u00A0Work\u00A0", "Work"},
                      TrimCase{"ideographic_space", "\u3000工作\u3000", "工作"},
                      TrimCase{"line_and_paragraph_separators", "\u2028Work\u2029", "Work"},
                      TrimCase{"other_space_separators", "\u1680\u2000\u200A\u202F\u205FWork",
                               "Work"},
                      TrimCase{"inner_white_space_kept", " Work  \n Plan ", "Work  \n Plan"},
                      TrimCase{"only_white_space", " \t\u3000\u2028\n", ""},
                      TrimCase{"zero_width_space_kept", "\u200BWork\u200B", "\u200BWork\u200B"},
                      TrimCase{"byte_order_mark_kept", "\uFEFFWork", "\uFEFFWork"},
                      TrimCase{"mongolian_vowel_separator_kept", "Work\u180E", "Work\u180E"},
                      TrimCase{"information_separators_kept", "\x1CWork\x1F", "\x1CWork\x1F"},
                      TrimCase{"nul_kept", std::string("Work\0", 5), std::string("Work\0", 5)},
                      TrimCase{"outside_the_basic_plane", " \U0001F4C5 ", "\U0001F4C5"}),
    [](const auto& info) { return std::string(info.param.name); });

struct LowerCase {
  const char* name;
  std::string text;
  std::string lowered;
};

class LowerCaseTitleTest : public ::testing::TestWithParam<LowerCase> {};

TEST_P(LowerCaseTitleTest, MapsEachCodePointAlone) {
  EXPECT_EQ(lowerCaseTitle(GetParam().text), GetParam().lowered);
}

INSTANTIATE_TEST_SUITE_P(
    Mappings, LowerCaseTitleTest,
    ::testing::Values(LowerCase{"ascii", "WORK Plan", "work plan"}, LowerCase{"empty", "", ""},
                      LowerCase{"no_final_sigma", "ΟΔΟΣ", "οδοσ"},
                      LowerCase{"lone_sigma", "Σ", "σ"},
                      LowerCase{"small_final_sigma_kept", "οδος", "οδος"},
                      LowerCase{"capital_i_with_dot_grows", "İ", "i\u0307"},
                      LowerCase{"no_turkish_dotless_i", "I", "i"},
                      LowerCase{"precomposed_stays_precomposed", "CAFÉ", "café"},
                      LowerCase{"combining_mark_untouched", "CAFE\u0301", "cafe\u0301"},
                      LowerCase{"capital_sharp_s", "\u1E9E", "ß"},
                      LowerCase{"title_case_digraph", "\u01C5", "\u01C6"},
                      LowerCase{"fullwidth_stays_fullwidth", "ＷＯＲＫ", "ｗｏｒｋ"},
                      LowerCase{"outside_the_basic_plane", "\U00010400", "\U00010428"},
                      LowerCase{"no_case", "日历 2024", "日历 2024"}),
    [](const auto& info) { return std::string(info.param.name); });

struct SameCase {
  const char* name;
  std::string a;
  std::string b;
  bool same;
};

class SameTitleTest : public ::testing::TestWithParam<SameCase> {};

TEST_P(SameTitleTest, ComparesNfcForms) {
  EXPECT_EQ(sameTitle(GetParam().a, GetParam().b), GetParam().same);
  EXPECT_EQ(sameTitle(GetParam().b, GetParam().a), GetParam().same);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, SameTitleTest,
    ::testing::Values(SameCase{"identical", "Work", "Work", true},
                      SameCase{"both_empty", "", "", true},
                      SameCase{"case_differs", "Work", "work", false},
                      SameCase{"precomposed_and_combining", "Caf\u00E9", "Cafe\u0301", true},
                      SameCase{"angstrom_sign_and_letter", "\u212B", "\u00C5", true},
                      SameCase{"combining_marks_reordered", "a\u0323\u0307", "a\u0307\u0323", true},
                      SameCase{"accent_not_removed", "Café", "Cafe", false},
                      SameCase{"width_not_folded", "ＷＯＲＫ", "WORK", false},
                      SameCase{"ligature_not_folded", "\uFB01le", "file", false},
                      SameCase{"trailing_space_counts", "Work ", "Work", false},
                      SameCase{"replacement_character_is_not_a_bad_byte", "\uFFFD", "\xFF", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IllFormedTitles, HaveNoFormAndEqualNothing) {
  for (const std::string& text : kIllFormed) {
    EXPECT_EQ(trimTitle(text), std::nullopt);
    EXPECT_EQ(trimTitle(" " + text + " "), std::nullopt);
    EXPECT_EQ(lowerCaseTitle(text), std::nullopt);
    EXPECT_FALSE(sameTitle(text, text));
    EXPECT_FALSE(sameTitle(text, "\uFFFD"));
    EXPECT_FALSE(sameTitle(text, ""));
  }
}

}  // namespace
}  // namespace tembra
