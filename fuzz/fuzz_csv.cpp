// Input: the bytes of a CSV file, as a user may have edited it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "../tests/support/line_rules.h"
#include "discovery/device_list.h"
#include "fuzz_check.h"
#include "record_oracle.h"
#include "report/list_page.h"
#include "text/cp932.h"
#include "text/line_list.h"

namespace {

using zqn::discovery::DeviceList;
using zqn::discovery::Sighting;
using zqn::fuzz::isMacLike;

constexpr std::string_view kIp = "192.168.1.20";
constexpr std::string_view kStamp = "2024/05/01 09:15:30";

// Each line followed by CR LF, except that a file whose last line had no break keeps it so.
std::string savedForm(const zqn::text::Lines& lines, bool lastLineUnterminated)
{
    std::string text;
    for (const auto& line : lines)
        text.append(line).append("\r\n");
    if (lastLineUnterminated && !text.empty())
        text.resize(text.size() - 2);
    return text;
}

std::vector<std::string_view> splitAtCrLf(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find("\r\n");
        if (end == std::string_view::npos) {
            lines.push_back(text);
            break;
        }
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end + 2);
    }
    return lines;
}

std::string portSuffix(int httpPort)
{
    return httpPort == 80 ? std::string() : ":" + std::to_string(httpPort);
}

// macOfLine: the MAC text the monitor itself last wrote at the head of a line, by index.
// The page and the CSV file as one write leaves them, in memory; the page fails when asked to.
struct MemoryFiles {
    std::map<std::string, std::string> files;
    zqn::report::WriteOutcome write(const DeviceList& list, int httpPort, bool pageFails)
    {
        const auto replace = [&](std::string_view path, const std::function<void(zqn::text::ByteSink&)>& produce) {
            if (pageFails && path == "zqnlist.htm")
                return false;
            zqn::test::GatheredBytes out;
            produce(out);
            files[std::string(path)] = out.bytes;
            return true;
        };
        return zqn::report::writeListPage(blocks(), list, {kStamp, httpPort, "zqnlist.htm", "zqnlist.csv"}, replace);
    }
    static const zqn::report::PageBlocks& blocks()
    {
        static const auto made =
            zqn::report::buildBlocks(zqn::report::defaultTemplate(), 10, "zqnlist.htm", "ZQN LIST");
        return made;
    }
};

// The rows between the page's head and tail blocks.
std::string rowBlockOf(const DeviceList& list, int httpPort)
{
    MemoryFiles memory;
    (void)memory.write(list, httpPort, false);
    const std::string& page = memory.files["zqnlist.htm"];
    const auto& blocks = MemoryFiles::blocks();
    FUZZ_CHECK(page.starts_with(blocks.head) && page.ends_with(blocks.tail));
    return page.substr(blocks.head.size(), page.size() - blocks.head.size() - blocks.tail.size());
}

void checkRows(const DeviceList& list, const std::map<std::size_t, std::string>& macOfLine, int httpPort)
{
    const std::string rows = rowBlockOf(list, httpPort);
    FUZZ_CHECK(rows.ends_with("\r\n"));
    const auto lines = splitAtCrLf(rows);

    // A listing ends at the first line whose readable part holds no comma.
    std::size_t listed = 0;
    while (listed < list.count()
           && zqn::text::readableLine(list.line(listed)).find(',') != std::string_view::npos)
        ++listed;
    FUZZ_CHECK(lines.size() == 1 + 3 + 5 * listed + 1);
    FUZZ_CHECK(lines.front() == std::string("<TR><TD colspan=6 align=right>").append(kStamp).append("</TD></TR>"));
    FUZZ_CHECK(lines.back() == "<TR><TD colspan=6 align=right>\x81\x40</TD></TR>");

    for (std::size_t i = 0; i < listed; ++i) {
        const std::string_view first = lines[4 + 5 * i];
        const std::string rowStart = std::string("<TR align=center bgcolor=") + (i % 2 == 0 ? "#F4FFFF" : "#F8FFFF")
                                     + "><TD>" + std::to_string(i + 1) + "</TD><TD align=left>\x81\x40";
        FUZZ_CHECK(first.starts_with(rowStart));
        FUZZ_CHECK(lines[4 + 5 * i + 4] == "</TD></FORM></TR>");

        const auto recorded = macOfLine.find(i);
        if (recorded == macOfLine.end())
            continue;
        // The name before it may hold anything, but nothing after the MAC cell's start.
        const std::string_view cell = first.substr(first.rfind("</TD><TD>") + 9);
        FUZZ_CHECK(cell == recorded->second);
        FUZZ_CHECK(isMacLike(cell));
        const std::string address = std::string(kIp) + portSuffix(httpPort);
        FUZZ_CHECK(lines[4 + 5 * i + 1] == "</TD><TD align=left>" + address + "</TD><TD>");
        FUZZ_CHECK(lines[4 + 5 * i + 3].starts_with(R"(<FORM method="POST" target=_blank action=http://)" + address
                                                    + R"(><INPUT TYPE="submit" VALUE=")"));
    }
}

// One page write holds the head block, the row block and the tail block, and the list's own
// text as the CSV file, also when the page cannot be written.
void checkPageWrite(const DeviceList& list)
{
    for (const bool pageFails : {false, true}) {
        MemoryFiles memory;
        const auto outcome = memory.write(list, 8080, pageFails);
        FUZZ_CHECK(outcome.pageFailed == pageFails);
        FUZZ_CHECK(!outcome.csvFailed);
        FUZZ_CHECK(memory.files["zqnlist.csv"] == zqn::fuzz::csvOf(list));
        if (!pageFails)
            FUZZ_CHECK(memory.files["zqnlist.htm"]
                       == MemoryFiles::blocks().head + rowBlockOf(list, 8080) + MemoryFiles::blocks().tail);
        FUZZ_CHECK(memory.files.size() == (pageFails ? 1u : 2u));
    }
}

// A rename changes the name field of one line and nothing else: the four fields the page shows
// stay, the name stands whole from the field's start to the line's end, and the other lines and
// the lookup by key are as they were.
void checkRename(const DeviceList& original, std::size_t index, std::string_view name)
{
    using Result = DeviceList::RenameResult;
    DeviceList list = original;
    const std::string old = list.line(index);
    const auto before = zqn::rules::fieldsOf(old);
    const Result result = list.rename(index, name);

    zqn::text::Lines expected = original.lines();
    if (name.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
        FUZZ_CHECK(result == Result::badCharacter);
    } else if (!before
               || (!before->hasName
                   && (before->ip.size() + before->date.size() + before->time.size() + 2 >= 255
                       || before->mac.size() + before->ip.size() + before->date.size() + before->time.size() + 4
                              >= 4096))) {
        FUZZ_CHECK(result == Result::noNameField);
    } else {
        FUZZ_CHECK(result == Result::renamed);
        const std::string& now = list.line(index);
        const auto after = zqn::rules::fieldsOf(now);
        FUZZ_CHECK(after && after->hasName);
        FUZZ_CHECK(after->mac == before->mac && after->ip == before->ip && after->date == before->date
                   && after->time == before->time);
        const std::string_view kept = zqn::rules::atMostBytes(name, 254);
        FUZZ_CHECK(std::string_view(now).substr(static_cast<std::size_t>(after->name.data() - now.data())) == kept);
        expected[index] = now;
    }
    FUZZ_CHECK(list.lines() == expected);

    // A sighting of the renamed line's key finds that line, or an earlier one holding the key.
    const std::string key = list.line(index).substr(0, 17);
    const auto found = list.record(Sighting{key, std::string(kIp), "2024/05/03", "11:00:00"});
    FUZZ_CHECK(!found.appended && found.index <= index);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const bool lastLineUnterminated = !bytes.empty() && bytes.back() != '\r' && bytes.back() != '\n';

    DeviceList list;
    // Odd-sized inputs meet a small cap, which the file may exceed: it is still loaded whole.
    if (size % 2 == 1)
        list.setCapacity(size % 8);
    list.load(bytes);
    for (const auto& line : list.lines())
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
    FUZZ_CHECK(zqn::fuzz::csvOf(list) == savedForm(list.lines(), lastLineUnterminated));
    if (zqn::fuzz::hasOnlyCrLfBreaks(bytes))
        FUZZ_CHECK(zqn::fuzz::csvOf(list) == bytes);
    zqn::fuzz::checkRoundTrip(list);
    checkRows(list, {}, 80);

    // Sightings of devices the file already names (whatever MAC-like text a line starts with,
    // the short forms of a small count included), then of a few the file may not hold.
    std::vector<std::string> macs;
    for (std::size_t i = 0; i < list.count() && macs.size() < 8; ++i) {
        const std::string key = list.line(i).substr(0, 17);
        if (isMacLike(key))
            macs.push_back(key);
    }
    for (const char* mac : {"0A:1B:2C:3D:4E:5F", "FF:FF:FF:00:12:34", "0A:1B:2C:3D::", "0A:1B:2C:3D:4E:5F"})
        macs.emplace_back(mac);

    zqn::fuzz::RecordOracle oracle;
    oracle.reset(list.lines());
    std::map<std::size_t, std::string> macOfLine;
    for (std::size_t i = 0; i < macs.size(); ++i) {
        const std::string time = "10:00:0" + std::to_string(i % 10);
        const auto result = oracle.record(list, Sighting{macs[i], std::string(kIp), "2024/05/02", time}, false);
        if (!result.refused)
            macOfLine[result.index] = macs[i];
    }
    oracle.checkSame(list);
    FUZZ_CHECK(zqn::fuzz::csvOf(list) == savedForm(list.lines(), lastLineUnterminated));
    zqn::fuzz::checkRoundTrip(list);

    checkRows(list, macOfLine, 80);
    checkRows(list, macOfLine, 8080);
    checkPageWrite(list);

    for (std::size_t i = 0; i < list.count() && i < 4; ++i) {
        checkRename(list, i, "Printer, 2F");
        checkRename(list, i, bytes.substr(bytes.size() / 2, 300));
    }
    return 0;
}
