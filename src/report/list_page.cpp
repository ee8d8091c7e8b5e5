#include "report/list_page.h"

#include <charconv>

#include "discovery/device_line.h"
#include "text/line_list.h"
#include "text/messages.h"

namespace zqn::report {

namespace {

using text::kLineBreak;
using text::messages::kConnect;
using text::messages::kIdeographicSpace;

constexpr std::string_view kStampRowStart = "<TR><TD colspan=6 align=right>";
constexpr std::string_view kStampRowEnd = "</TD></TR>";
constexpr std::string_view kHeaderRow =
    "<TR align=center bgcolor=#FFFFFF><TD>No.</TD><TD width=150>Name</TD><TD>MAC Address</TD>\r\n"
    "<TD>IP Address</TD><TD>Date</TD><TD>\r\n"
    "</TD></TR>\r\n";

constexpr std::string_view kEvenRowColour = "#F4FFFF";
constexpr std::string_view kOddRowColour = "#F8FFFF";

constexpr std::string_view kRowStart = "<TR align=center bgcolor=";
constexpr std::string_view kNumberCellStart = "><TD>";
constexpr std::string_view kNameCellStart = "</TD><TD align=left>";
constexpr std::string_view kCellBreak = "</TD><TD>";
constexpr std::string_view kAddressCellStart = "</TD><TD align=left>";
constexpr std::string_view kFormStart = R"(<FORM method="POST" target=_blank action=http://)";
constexpr std::string_view kButtonStart = R"(><INPUT TYPE="submit" VALUE=")";
constexpr std::string_view kButtonEnd = R"(">)";
constexpr std::string_view kRowEnd = "</TD></FORM></TR>";

// ":" and the port, or nothing for the HTTP default.
struct PortSuffix {
    char bytes[16];
    std::size_t size = 0;

    explicit PortSuffix(int httpPort)
    {
        if (httpPort == 80)
            return;
        bytes[0] = ':';
        size = static_cast<std::size_t>(std::to_chars(bytes + 1, bytes + sizeof bytes, httpPort).ptr - bytes);
    }
    std::string_view text() const { return {bytes, size}; }
};

void appendNumber(std::string& out, std::size_t value)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, static_cast<std::size_t>(end - digits));
}

void appendDeviceRow(std::string& out, const discovery::DeviceLine& fields, std::size_t index,
                     std::string_view portSuffix)
{
    out.append(kRowStart).append(index % 2 == 0 ? kEvenRowColour : kOddRowColour).append(kNumberCellStart);
    appendNumber(out, index + 1);
    out.append(kNameCellStart).append(kIdeographicSpace).append(fields.name).append(kCellBreak);
    out.append(fields.mac).append(kLineBreak);

    out.append(kAddressCellStart).append(fields.ip).append(portSuffix).append(kCellBreak).append(kLineBreak);

    out.append(fields.date).append(1, ' ').append(fields.time).append(kCellBreak).append(kLineBreak);

    out.append(kFormStart).append(fields.ip).append(portSuffix);
    out.append(kButtonStart).append(kConnect).append(kButtonEnd).append(kLineBreak);

    out.append(kRowEnd).append(kLineBreak);
}

// spill(out) runs after every row, so that a streaming writer can pass on what has gathered.
template <typename Spill>
void appendRowBlock(std::string& out, const discovery::DeviceList& devices, std::string_view stamp,
                    std::string_view portSuffix, Spill spill)
{
    out.append(kStampRowStart).append(stamp).append(kStampRowEnd).append(kLineBreak);
    out.append(kHeaderRow);
    const std::size_t count = devices.count();
    for (std::size_t i = 0; i < count; ++i) {
        // A line without a comma (a blank line in a hand-edited file, say) ends the listing.
        const auto fields = devices.fields(i);
        if (!fields)
            break;
        appendDeviceRow(out, *fields, i, portSuffix);
        spill(out);
    }
    out.append(kStampRowStart).append(kIdeographicSpace).append(kStampRowEnd).append(kLineBreak);
}

// Gathers a file's text in a buffer of bounded size and passes it on whenever it is full: the
// page and the CSV of a large list are never held whole.
class BufferedWriter {
public:
    static constexpr std::size_t kBufferBytes = 256 * 1024;

    explicit BufferedWriter(ByteSink& sink) : sink_(sink) { buffer_.reserve(kBufferBytes + 8 * 1024); }
    std::string& buffer() { return buffer_; }
    void spillIfFull()
    {
        if (buffer_.size() >= kBufferBytes)
            spill();
    }
    void spill()
    {
        if (!buffer_.empty())
            sink_.write(buffer_);
        buffer_.clear();
    }

private:
    ByteSink& sink_;
    std::string buffer_;
};

void writePage(ByteSink& sink, const PageBlocks& blocks, const discovery::DeviceList& devices,
               std::string_view stamp, int httpPort)
{
    const PortSuffix portSuffix(httpPort);
    sink.write(blocks.head);
    BufferedWriter writer(sink);
    appendRowBlock(writer.buffer(), devices, stamp, portSuffix.text(), [&](std::string&) { writer.spillIfFull(); });
    writer.spill();
    sink.write(blocks.tail);
}

} // namespace

void writeCsv(ByteSink& sink, const discovery::DeviceList& devices)
{
    BufferedWriter writer(sink);
    for (std::size_t i = 0; i < devices.count(); ++i) {
        writer.buffer().append(devices.line(i)).append(devices.lineBreakAfter(i));
        writer.spillIfFull();
    }
    writer.spill();
}

std::string statusText(WriteOutcome outcome)
{
    namespace messages = text::messages;
    if (!outcome.pageFailed && !outcome.csvFailed)
        return std::string(messages::kStarted);
    std::string status;
    if (outcome.pageFailed)
        status.append(messages::kPageSaveFailedPrefix);
    if (outcome.csvFailed)
        status.append(messages::kCsvSaveFailedPrefix);
    status.append(messages::kSaveFailed);
    return status;
}

WriteOutcome writeListPage(const PageBlocks& blocks, const discovery::DeviceList& devices,
                           const PageWrite& write, const ReplaceFile& replace)
{
    WriteOutcome outcome;
    if (!write.htmlPath.empty()) {
        outcome.pageFailed = !replace(
            write.htmlPath, [&](ByteSink& out) { writePage(out, blocks, devices, write.stamp, write.httpPort); });
    }
    // The CSV file holds every line, also those after a line that ended the listing.
    if (!write.csvPath.empty())
        outcome.csvFailed = !replace(write.csvPath, [&](ByteSink& out) { writeCsv(out, devices); });
    return outcome;
}

} // namespace zqn::report
