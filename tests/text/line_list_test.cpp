#include "text/line_list.h"

#include <gtest/gtest.h>

namespace zqn::text {
namespace {

struct SplitCase {
    const char* name;
    std::string bytes;
    Lines lines;
    bool unterminated;
};

class SplitLines : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitLines, SplitsAtEveryBreakKind)
{
    const auto& c = GetParam();
    EXPECT_EQ(splitLines(c.bytes), c.lines);
    EXPECT_EQ(lastLineUnterminated(c.bytes), c.unterminated);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitLines,
    testing::Values(SplitCase{"empty", "", {}, false},
                    SplitCase{"crlf", "A\r\nB\r\n", {"A", "B"}, false},
                    SplitCase{"lf", "A\nB\n", {"A", "B"}, false},
                    SplitCase{"lone_cr", "A\rB\r", {"A", "B"}, false},
                    SplitCase{"mixed", "A\r\nB\nC\rD", {"A", "B", "C", "D"}, true},
                    SplitCase{"no_final_break", "A\r\nB", {"A", "B"}, true},
                    SplitCase{"double_final_break_keeps_empty_line", "A\r\nB\r\nC\r\n\r\n", {"A", "B", "C", ""}, false},
                    SplitCase{"lf_cr_is_two_breaks", "A\n\rB", {"A", "", "B"}, true},
                    SplitCase{"only_break", "\r\n", {""}, false},
                    SplitCase{"nul_bytes_kept", std::string("a\0b\r\n", 5), {std::string("a\0b", 3)}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JoinLines, EveryLineEndsInCrLfAndRoundTrips)
{
    const Lines lines{"A", "", "\x83\x5C"};
    EXPECT_EQ(joinLines(lines), "A\r\n\r\n\x83\x5C\r\n");
    EXPECT_EQ(splitLines(joinLines(lines)), lines);
    EXPECT_EQ(joinLines({}), "");
}

TEST(ReadableLine, CutsAt4096Bytes)
{
    const std::string longLine(5000, 'x');
    EXPECT_EQ(readableLine(longLine).size(), 4096u);
    EXPECT_EQ(readableLine("short"), "short");
}

} // namespace
} // namespace zqn::text
