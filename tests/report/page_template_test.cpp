#include "report/page_template.h"

#include <gtest/gtest.h>

namespace zqn::report {
namespace {

TEST(DefaultTemplate, FilledWithDefaultsGivesThirtyHeadAndSixTailLines)
{
    const auto blocks = buildBlocks(defaultTemplate(), 10, "zqnlist.htm", "ZQN LIST");
    const auto head = text::splitLines(blocks.head);
    ASSERT_EQ(head.size(), 30u);
    EXPECT_EQ(head[4], R"(<META HTTP-EQUIV="refresh" CONTENT=10>)");
    EXPECT_EQ(head[7], "A{  text-decoration:none; }");
    EXPECT_EQ(head[17], R"(<FONT COLOR="white"><B>ZQN LIST</FONT></TH><TD>)");
    EXPECT_EQ(head[19], R"~(onclick="location.reload()" )~");
    EXPECT_EQ(head[20], "value=\"\x8D\x58\x90\x56\"></TD>");
    EXPECT_EQ(head[29], "");
    EXPECT_EQ(blocks.tail, "\r\n</TABLE>\r\n\r\n</CENTER>\r\n</BODY></HTML>\r\n\r\n");
    EXPECT_EQ(defaultTemplate().size(), 37u);
}

TEST(DefaultTemplate, LfAndCrLfTemplateFilesGiveTheSameBlocks)
{
    std::string lf;
    for (const auto& line : defaultTemplate())
        lf += line + "\n";
    const auto fromLf = buildBlocks(text::splitLines(lf), 10, "zqnlist.htm", "ZQN LIST");
    const auto fromCrLf = buildBlocks(text::splitLines(text::joinLines(defaultTemplate())), 10, "zqnlist.htm", "ZQN LIST");
    const auto builtIn = buildBlocks(defaultTemplate(), 10, "zqnlist.htm", "ZQN LIST");
    EXPECT_EQ(fromLf.head, builtIn.head);
    EXPECT_EQ(fromLf.tail, builtIn.tail);
    EXPECT_EQ(fromCrLf.head, builtIn.head);
    EXPECT_EQ(fromCrLf.tail, builtIn.tail);
}

struct FillCase {
    const char* name;
    friend void PrintTo(const FillCase& c, std::ostream* os) { *os << c.name; }
    text::Lines pageTemplate;
    int saveInterval;
    std::string htmlPath;
    std::string heading;
    std::string head;
    std::string tail;
};

class FillTemplate : public testing::TestWithParam<FillCase> {};

TEST_P(FillTemplate, FillsFirstPlaceholdersAndSplits)
{
    const auto& c = GetParam();
    const auto blocks = buildBlocks(c.pageTemplate, c.saveInterval, c.htmlPath, c.heading);
    EXPECT_EQ(blocks.head, c.head);
    EXPECT_EQ(blocks.tail, c.tail);
}

const std::string k4090(4090, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, FillTemplate,
    testing::Values(
        FillCase{"first_occurrence_only", {"%REFRESH%,%REFRESH%;%MESS01%%MESS01%"}, 10, "", "H", "10,%REFRESH%;H%MESS01%\r\n", ""},
        FillCase{"negative_interval", {"CONTENT=%REFRESH%"}, -5, "", "", "CONTENT=-5\r\n", ""},
        FillCase{"case_sensitive", {"%refresh% %RefHtml% %mess01%", "%listdata%"}, 10, "a.htm", "H",
                 "%refresh% %RefHtml% %mess01%\r\n%listdata%\r\n", ""},
        FillCase{"refhtml_after_last_backslash", {"<A href=%REFHTML%>"}, 10, "C:\\web\\zqnlist.htm", "", "<A href=zqnlist.htm>\r\n", ""},
        FillCase{"refhtml_trail_byte_5c_is_no_separator", {"%REFHTML%"}, 10, "C:\\web\\\x95\x5C.htm", "", "\x95\x5C.htm\r\n", ""},
        FillCase{"refhtml_slash_is_no_separator", {"%REFHTML%"}, 10, "web/list.htm", "", "web/list.htm\r\n", ""},
        FillCase{"refhtml_ending_in_backslash_is_empty", {"[%REFHTML%]"}, 10, "C:\\web\\", "", "[]\r\n", ""},
        FillCase{"heading_with_colon_and_backslash_whole", {"%MESS01%"}, 10, "", "Office: 2F\\A", "Office: 2F\\A\r\n", ""},
        FillCase{"each_step_fills_the_step_before", {"%REFHTML%"}, 10, "%MESS01%", "H", "H\r\n", ""},
        FillCase{"split_test_on_filled_line", {"a", "%MESS01%", "b"}, 10, "", "%LISTDATA%", "a\r\n", "b\r\n"},
        FillCase{"split_line_must_stand_alone", {" %LISTDATA%", "%LISTDATA% ", "x"}, 10, "", "",
                 " %LISTDATA%\r\n%LISTDATA% \r\nx\r\n", ""},
        FillCase{"two_split_lines_both_dropped", {"a", "%LISTDATA%", "b", "%LISTDATA%", "c"}, 10, "", "", "a\r\n", "b\r\nc\r\n"},
        FillCase{"no_split_line_all_head", {"a", "", "b"}, 10, "", "", "a\r\n\r\nb\r\n", ""},
        FillCase{"empty_template", {}, 10, "", "", "", ""},
        FillCase{"line_read_with_4096_bytes_before_filling", {k4090 + "%REFRESH%"}, 10, "", "", k4090 + "%REFRE\r\n", ""}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace zqn::report
