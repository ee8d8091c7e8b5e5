#include "report/list_page.h"

#include <algorithm>
#include <array>
#include <cassert>
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

constexpr std::size_t kRowFixedBytes = kRowStart.size() + kEvenRowColour.size() + kNumberCellStart.size()
    + kNameCellStart.size() + kIdeographicSpace.size() + kCellBreak.size() + kLineBreak.size()
    + kAddressCellStart.size() + kCellBreak.size() + kLineBreak.size()
    + 1 + kCellBreak.size() + kLineBreak.size()
    + kFormStart.size() + kButtonStart.size() + kConnect.size() + kButtonEnd.size() + kLineBreak.size()
    + kRowEnd.size() + kLineBreak.size();

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

char* put(char* out, std::string_view text)
{
    return std::copy(text.begin(), text.end(), out);
}

// The longest row: a MAC field of a whole read line, the rest split from at most 255 bytes and
// the address twice, a port and a row number of at most 20 digits each.
constexpr std::size_t kMaxRowBytes =
    kRowFixedBytes + text::kLineReadLimit + 2 * discovery::DeviceLine::kSplitBytes + 2 * 16 + 20;

// One row's bytes go to out.take(size) in one piece: a row is a few hundred bytes, and twenty
// appends with their checks cost more than writing it.
template <typename Out>
void appendDeviceRow(Out& out, const discovery::DeviceLine& fields, std::size_t index, std::string_view portSuffix)
{
    char digits[24];
    const std::string_view number(digits,
                                  static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, index + 1).ptr - digits));
    const std::size_t addressSize = fields.ip.size() + portSuffix.size();
    const std::size_t size = kRowFixedBytes + number.size() + fields.name.size() + fields.mac.size() + 2 * addressSize
        + fields.date.size() + fields.time.size();
    char* const start = out.take(size);
    char* at = put(put(put(start, kRowStart), index % 2 == 0 ? kEvenRowColour : kOddRowColour), kNumberCellStart);
    at = put(put(put(put(at, number), kNameCellStart), kIdeographicSpace), fields.name);
    at = put(put(put(put(at, kCellBreak), fields.mac), kLineBreak), kAddressCellStart);
    at = put(put(put(put(at, fields.ip), portSuffix), kCellBreak), kLineBreak);
    at = put(put(at, fields.date), " ");
    at = put(put(put(at, fields.time), kCellBreak), kLineBreak);
    at = put(put(put(at, kFormStart), fields.ip), portSuffix);
    at = put(put(put(put(at, kButtonStart), kConnect), kButtonEnd), kLineBreak);
    at = put(put(at, kRowEnd), kLineBreak);
    assert(at == start + size);
}

constexpr std::size_t kLinesAhead = 8;

template <typename Out>
void appendRowBlock(Out& out, const discovery::DeviceList& devices, std::string_view stamp, std::string_view portSuffix)
{
    out.write(kStampRowStart);
    out.write(stamp);
    out.write(kStampRowEnd);
    out.write(kLineBreak);
    out.write(kHeaderRow);
    const std::size_t count = devices.count();
    for (std::size_t i = 0; i < count; ++i) {
        // Each line lives on the heap of its own: asked for early, it is in the cache when its
        // turn comes, rather than one memory wait a row.
        if (i + kLinesAhead < count)
            __builtin_prefetch(devices.line(i + kLinesAhead).data());
        // A line without a comma (a blank line in a hand-edited file, say) ends the listing.
        const auto fields = devices.fields(i);
        if (!fields)
            break;
        appendDeviceRow(out, *fields, i, portSuffix);
    }
    out.write(kStampRowStart);
    out.write(kIdeographicSpace);
    out.write(kStampRowEnd);
    out.write(kLineBreak);
}

// Gathers a file's text in a buffer of fixed size on the stack and passes it on whenever the next
// piece does not fit: the page and the CSV of a large list are never held whole, and a write
// takes no memory of its own. 256 KiB still stay in the processor's cache between filling and
// writing, and make a quarter of the system calls that 64 KiB make.
class BufferedWriter {
public:
    static constexpr std::size_t kBufferBytes = 256 * 1024;
    static_assert(kMaxRowBytes <= kBufferBytes);

    explicit BufferedWriter(ByteSink& sink) : sink_(sink) {}
    // Room for size bytes, at most kBufferBytes.
    char* take(std::size_t size)
    {
        if (kBufferBytes - used_ < size)
            spill();
        char* at = buffer_.data() + used_;
        used_ += size;
        return at;
    }
    void write(std::string_view piece)
    {
        if (piece.size() > kBufferBytes) {
            spill();
            sink_.write(piece);
            return;
        }
        put(take(piece.size()), piece);
    }
    void spill()
    {
        if (used_ > 0)
            sink_.write(std::string_view(buffer_.data(), used_));
        used_ = 0;
    }

private:
    ByteSink& sink_;
    std::size_t used_ = 0;
    std::array<char, kBufferBytes> buffer_;
};

void writePage(ByteSink& sink, const PageBlocks& blocks, const discovery::DeviceList& devices,
               std::string_view stamp, int httpPort)
{
    const PortSuffix portSuffix(httpPort);
    BufferedWriter writer(sink);
    writer.write(blocks.head);
    appendRowBlock(writer, devices, stamp, portSuffix.text());
    writer.write(blocks.tail);
    writer.spill();
}

} // namespace

void writeCsv(ByteSink& sink, const discovery::DeviceList& devices)
{
    BufferedWriter writer(sink);
    for (std::size_t i = 0; i < devices.count(); ++i) {
        writer.write(devices.line(i));
        writer.write(devices.lineBreakAfter(i));
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
