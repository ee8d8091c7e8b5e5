#include "report/page_template.h"

#include <charconv>

#include "text/cp932.h"
#include "text/messages.h"

namespace zqn::report {

namespace {

constexpr std::string_view kRefresh = "%REFRESH%";
constexpr std::string_view kRefHtml = "%REFHTML%";
constexpr std::string_view kHeading = "%MESS01%";
constexpr std::string_view kSplitLine = "%LISTDATA%";

void replaceFirst(std::string& line, std::string_view placeholder, std::string_view value)
{
    if (const std::size_t at = line.find(placeholder); at != std::string::npos)
        line.replace(at, placeholder.size(), value);
}

std::string decimal(int value)
{
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return std::string(digits, end);
}

} // namespace

text::Lines defaultTemplate()
{
    return {
        "<HTML><HEAD>",
        R"(<META http-equiv="Content-Type" content="text/html; charset=Shift_JIS">)",
        R"(<META http-equiv="Content-Style-Type" content="text/css">)",
        R"(<meta http-equiv="Pragma" content="no-cache">)",
        R"(<META HTTP-EQUIV="refresh" CONTENT=%REFRESH%>)",
        R"(<STYLE type="text/css">)",
        "<!--",
        "A{  text-decoration:none; }",
        "-->",
        "</STYLE>",
        "<TITLE>ZQN LIST</TITLE>",
        "</HEAD>",
        R"(<BODY link="blue" vlink="blue" BGCOLOR="#E8F0E8">)",
        "<CENTER>",
        "",
        "<TABLE width=640 cellspacing=8><TD bgcolor=#008080>",
        "<TABLE cellspacing=2 cellpadding=0 border=0><TH width=640>",
        R"(<FONT COLOR="white"><B>%MESS01%</FONT></TH><TD>)",
        R"(<input type="button")",
        R"~(onclick="location.reload()" )~",
        std::string(R"(value=")").append(text::messages::kReload).append(R"("></TD>)"),
        "</TABLE>",
        "</TABLE>",
        "",
        "</FORM>",
        "",
        "",
        "",
        "<TABLE width=600 cellpadding=2 bgcolor=#EAF8F8>",
        "",
        "%LISTDATA%",
        "",
        "</TABLE>",
        "",
        "</CENTER>",
        "</BODY></HTML>",
        "",
    };
}

PageBlocks buildBlocks(const text::Lines& pageTemplate, int saveInterval, std::string_view htmlPath,
                       std::string_view heading)
{
    const std::string refresh = decimal(saveInterval);
    const std::string_view pageFileName = text::fileNamePart(htmlPath);

    PageBlocks blocks;
    bool afterSplit = false;
    std::string line;
    for (const auto& templateLine : pageTemplate) {
        line.assign(text::readableLine(templateLine));
        replaceFirst(line, kRefresh, refresh);
        replaceFirst(line, kRefHtml, pageFileName);
        // The heading goes in whole: it is free text, and "Office: 2F" must not lose "Office".
        replaceFirst(line, kHeading, heading);
        if (line == kSplitLine) {
            afterSplit = true;
            continue;
        }
        std::string& block = afterSplit ? blocks.tail : blocks.head;
        block.append(line).append(text::kLineBreak);
    }
    return blocks;
}

} // namespace zqn::report
