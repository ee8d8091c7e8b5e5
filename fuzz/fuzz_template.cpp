// Input: the bytes of an "html.dat" page template.

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "../tests/support/line_rules.h"
#include "fuzz_check.h"
#include "report/page_template.h"
#include "text/line_list.h"

namespace {

struct Variant {
    int saveInterval;
    std::string_view htmlPath;
    std::string_view pageFileName; // what the path contributes for "%REFHTML%"
    std::string_view heading;
};

// Shift_JIS 0x95 0x5C and 0x83 0x5C are whole characters whose trail byte is a backslash.
constexpr Variant kVariants[] = {
    {10, "zqnlist.htm", "zqnlist.htm", "ZQN LIST"},
    {-15, "D:\\\x95\x5C\\list\x83\x5C.htm", "list\x83\x5C.htm", "%REFRESH%%MESS01%%REFHTML% \x8D\x58\x90\x56"},
    {INT_MIN, "C:\\web\\", "", ""},
    {INT_MAX, "a:b", "b", "%LISTDATA%"},
};

std::size_t countLines(std::string_view block)
{
    std::size_t lines = 0;
    for (std::size_t at = block.find("\r\n"); at != std::string_view::npos; at = block.find("\r\n", at + 2))
        ++lines;
    return lines;
}

std::size_t longestLine(std::string_view block)
{
    std::size_t longest = 0;
    while (!block.empty()) {
        const std::size_t end = block.find("\r\n");
        longest = std::max(longest, end);
        block.remove_prefix(end + 2);
    }
    return longest;
}

bool holdsSplitLine(std::string_view block)
{
    return ("\r\n" + std::string(block)).find("\r\n%LISTDATA%\r\n") != std::string::npos;
}

void checkVariant(const zqn::text::Lines& pageTemplate, const Variant& variant)
{
    const auto blocks =
        zqn::report::buildBlocks(pageTemplate, variant.saveInterval, variant.htmlPath, variant.heading);
    const std::string refresh = std::to_string(variant.saveInterval);

    const auto expected = zqn::rules::filled(pageTemplate, variant.saveInterval, variant.pageFileName, variant.heading);
    FUZZ_CHECK(blocks.head == expected.head);
    FUZZ_CHECK(blocks.tail == expected.tail);
    const std::size_t dropped = pageTemplate.size() - countLines(expected.head) - countLines(expected.tail);

    // Properties that hold whatever the filling does in detail.
    FUZZ_CHECK(zqn::fuzz::isCrLfLineSequence(blocks.head));
    FUZZ_CHECK(zqn::fuzz::isCrLfLineSequence(blocks.tail));
    FUZZ_CHECK(!holdsSplitLine(blocks.head));
    FUZZ_CHECK(!holdsSplitLine(blocks.tail));
    FUZZ_CHECK(countLines(blocks.head) + countLines(blocks.tail) + dropped == pageTemplate.size());
    if (dropped == 0)
        FUZZ_CHECK(blocks.tail.empty());
    const std::size_t inserted = refresh.size() + variant.pageFileName.size() + variant.heading.size();
    FUZZ_CHECK(longestLine(blocks.head) <= 4096 + inserted);
    FUZZ_CHECK(longestLine(blocks.tail) <= 4096 + inserted);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const zqn::text::Lines pageTemplate = zqn::text::splitLines(bytes);
    for (const auto& line : pageTemplate)
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
    for (const auto& variant : kVariants)
        checkVariant(pageTemplate, variant);
    return 0;
}
