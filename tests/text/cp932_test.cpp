#include "text/cp932.h"

#include <gtest/gtest.h>

namespace zqn::text {
namespace {

struct NameCase {
    const char* name;
    std::string path;
    std::string fileName;
};

class FileNamePart : public testing::TestWithParam<NameCase> {};

TEST_P(FileNamePart, TakesWhatFollowsTheLastSeparator)
{
    EXPECT_EQ(fileNamePart(GetParam().path), GetParam().fileName);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileNamePart,
    testing::Values(NameCase{"plain", "zqnlist.htm", "zqnlist.htm"},
                    NameCase{"windows_path", "C:\\web\\zqnlist.htm", "zqnlist.htm"},
                    NameCase{"drive_only", "C:list.htm", "list.htm"},
                    NameCase{"forward_slash_is_not_a_separator", "web/list.htm", "web/list.htm"},
                    NameCase{"ends_with_backslash", "C:\\web\\", ""},
                    NameCase{"empty", "", ""},
                    // 表 is 95 5C: its trail byte is no separator
                    NameCase{"trail_byte_5c", "C:\\\x95\x5C.htm", "\x95\x5C.htm"},
                    NameCase{"trail_byte_5c_then_separator", "\x95\x5C\\a.htm", "a.htm"},
                    NameCase{"lead_byte_at_end", "a\\b\x95", "b\x95"}),
    [](const auto& info) { return std::string(info.param.name); });

struct CutCase {
    const char* name;
    std::string text;
    std::size_t max;
    std::size_t expected;
};

class WholeCharacterPrefix : public testing::TestWithParam<CutCase> {};

TEST_P(WholeCharacterPrefix, NeverSplitsADoubleByteCharacter)
{
    EXPECT_EQ(wholeCharacterPrefix(GetParam().text, GetParam().max), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WholeCharacterPrefix,
    testing::Values(CutCase{"shorter_than_limit", "abc", 5, 3},
                    CutCase{"ascii_cut", "abcdef", 4, 4},
                    CutCase{"cut_before_split_character", "ab\x82\xA0", 3, 2},
                    CutCase{"cut_after_whole_character", "ab\x82\xA0x", 4, 4},
                    CutCase{"half_width_katakana_is_single", "\xB1\xB2\xB3", 2, 2},
                    CutCase{"lead_byte_range_e0", "\xE0\x40\xE0\x40", 3, 2}),
    [](const auto& info) { return std::string(info.param.name); });

struct FindCase {
    const char* name;
    std::string text;
    std::string needle;
    bool found;
};

class ContainsFoldingAscii : public testing::TestWithParam<FindCase> {};

TEST_P(ContainsFoldingAscii, MatchesWholeCharactersAndAsciiInEitherCase)
{
    EXPECT_EQ(containsFoldingAscii(GetParam().text, GetParam().needle), GetParam().found);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ContainsFoldingAscii,
    testing::Values(FindCase{"empty_needle_matches", "abc", "", true},
                    FindCase{"other_letters", "Printer", "printex", false},
                    FindCase{"ascii_either_case_found", "0A:1B:2C,Printer", "1b:2c,pRINTER", true},
                    FindCase{"japanese_name", "x,\x8E\xF3\x95\x74", "\x95\x74", true}, // 付 in 受付
                    // ソ is 83 5C: its trail byte is no backslash.
                    FindCase{"trail_byte_is_no_character", "\x83\x5C", "\\", false},
                    // ア (83 41) and ャ (83 61) differ only in a trail byte that looks like a letter.
                    FindCase{"trail_byte_not_folded", "\x83\x61", "\x83\x41", false},
                    // 83 41 83 41: the match must not start at the first trail byte.
                    FindCase{"no_match_across_characters", "\x83\x41\x83\x41", "\x41\x83", false},
                    FindCase{"needle_longer_than_text", "ab", "abc", false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace zqn::text
