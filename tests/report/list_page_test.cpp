#include "report/list_page.h"

#include <gtest/gtest.h>

#include "support/gathered_bytes.h"
#include "support/line_rules.h"

#include <fstream>
#include <iterator>
#include <map>
#include <set>

namespace zqn::report {
namespace {

const std::string kStamp = "2024/05/01 09:15:30";
const std::string kSp = "\x81\x40"; // ideographic space
const std::string kDevice = "0A:1B:2C:3D:4E:5F,192.168.1.20,2024/05/01,09:15:30,Printer";

// Records every replace, and in how many pieces it came; the paths in failing are refused as a
// full disk would.
struct RecordingSink {
    std::set<std::string> failing;
    std::map<std::string, std::string> files;
    std::map<std::string, int> pieces;
    ReplaceFile replace()
    {
        return [this](std::string_view path, const std::function<void(ByteSink&)>& produce) {
            if (failing.count(std::string(path)))
                return false;
            test::GatheredBytes file;
            produce(file);
            files[std::string(path)] = file.bytes;
            pieces[std::string(path)] = file.pieces;
            return true;
        };
    }
};

discovery::DeviceList listOf(const std::string& csv)
{
    discovery::DeviceList devices;
    devices.load(csv);
    return devices;
}

// Three devices, one with a Japanese name; the page posts to each with HTTP port 8080.
const std::string kGoldenCsv = "0A:1B:2C:3D:4E:5F,192.168.1.20,2024/05/01,09:15:30,noname\r\n"
                               "02:C3:D7:00:00:02,192.168.1.21,2024/05/01,09:14:02,\x8E\xF3\x95\x74\x83\x76\x83\x8A\x83\x93\x83\x5E\r\n"
                               "FF:FF:FF:00:12:34,10.0.0.7,2024/04/30,23:59:59,Printer 2F\r\n";
constexpr int kGoldenPort = 8080;

// The whole page for kGoldenCsv with the built-in template, written out by hand.
std::string goldenPage()
{
    std::ifstream file(ZQN_GOLDEN_DIR "/list_page.htm", std::ios::binary);
    EXPECT_TRUE(file.good()) << "no golden page";
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

PageBlocks defaultBlocks()
{
    return buildBlocks(defaultTemplate(), 10, "zqnlist.htm", "ZQN LIST");
}

// The table rows: the page file written around an empty head and tail.
std::string rowBlock(const discovery::DeviceList& devices, std::string_view stamp, int httpPort)
{
    RecordingSink sink;
    writeListPage({}, devices, {stamp, httpPort, "rows.htm", ""}, sink.replace());
    return sink.files["rows.htm"];
}

// The lines of the row block, which must all end in CR LF.
text::Lines rowLines(const std::string& csv, int httpPort = 80)
{
    const auto rows = rowBlock(listOf(csv), kStamp, httpPort);
    EXPECT_TRUE(rows.ends_with("\r\n"));
    return text::splitLines(rows);
}

TEST(RowBlock, OneDeviceGivesExactBytes)
{
    EXPECT_EQ(rowBlock(listOf(kDevice + "\r\n"), kStamp, 80),
              "<TR><TD colspan=6 align=right>2024/05/01 09:15:30</TD></TR>\r\n"
              "<TR align=center bgcolor=#FFFFFF><TD>No.</TD><TD width=150>Name</TD><TD>MAC Address</TD>\r\n"
              "<TD>IP Address</TD><TD>Date</TD><TD>\r\n"
              "</TD></TR>\r\n"
              "<TR align=center bgcolor=#F4FFFF><TD>1</TD><TD align=left>\x81\x40Printer</TD><TD>0A:1B:2C:3D:4E:5F\r\n"
              "</TD><TD align=left>192.168.1.20</TD><TD>\r\n"
              "2024/05/01 09:15:30</TD><TD>\r\n"
              "<FORM method=\"POST\" target=_blank action=http://192.168.1.20><INPUT TYPE=\"submit\" VALUE=\"\x90\xDA\x91\xB1\">\r\n"
              "</TD></FORM></TR>\r\n"
              "<TR><TD colspan=6 align=right>\x81\x40</TD></TR>\r\n");
}

TEST(ListPage, DefaultPageIsTheGoldenOneByteForByte)
{
    RecordingSink sink;
    const auto outcome = writeListPage(defaultBlocks(), listOf(kGoldenCsv), {kStamp, kGoldenPort, "p.htm", "d.csv"}, sink.replace());
    EXPECT_FALSE(outcome.pageFailed || outcome.csvFailed);
    EXPECT_EQ(sink.files["p.htm"], goldenPage());
    EXPECT_EQ(sink.files["d.csv"], kGoldenCsv);
}

class PageLines : public testing::TestWithParam<int> {};

TEST_P(PageLines, DefaultTemplatePageHas41PlusFiveLinesPerDevice)
{
    const int k = GetParam();
    std::string csv;
    for (int i = 0; i < k; ++i)
        csv += kDevice + "\r\n";
    const auto blocks = buildBlocks(defaultTemplate(), 10, "zqnlist.htm", "ZQN LIST");
    RecordingSink sink;
    writeListPage(blocks, listOf(csv), {kStamp, 80, "p.htm", ""}, sink.replace());
    const std::string& page = sink.files["p.htm"];
    std::size_t crlf = 0;
    for (std::size_t at = page.find("\r\n"); at != std::string::npos; at = page.find("\r\n", at + 2))
        ++crlf;
    EXPECT_EQ(crlf, static_cast<std::size_t>(41 + 5 * k));
    EXPECT_EQ(text::splitLines(page).size(), crlf) << "a lone CR or LF, or text after the last CR LF";
    EXPECT_TRUE(page.starts_with(blocks.head));
    EXPECT_TRUE(page.ends_with(blocks.tail));
}

INSTANTIATE_TEST_SUITE_P(Devices, PageLines, testing::Values(0, 1, 3));

struct SplitCase {
    const char* name;
    friend void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }
    std::string line;
    std::string mac, ip, date, time, deviceName;
};

class FieldSplit : public testing::TestWithParam<SplitCase> {};

TEST_P(FieldSplit, FieldsLandInTheirCells)
{
    const auto& c = GetParam();
    const auto lines = rowLines(c.line + "\r\n");
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[4], "<TR align=center bgcolor=#F4FFFF><TD>1</TD><TD align=left>" + kSp + c.deviceName + "</TD><TD>" + c.mac);
    EXPECT_EQ(lines[5], "</TD><TD align=left>" + c.ip + "</TD><TD>");
    EXPECT_EQ(lines[6], c.date + " " + c.time + "</TD><TD>");
}

const std::string kHead = "M,1.2.3.4,2024/05/01,09:15:30,"; // 28 bytes after the first comma
const std::string kLong(300, 'n');

INSTANTIATE_TEST_SUITE_P(
    Cases, FieldSplit,
    testing::Values(
        SplitCase{"two_fields", "u,v", "u", "", "", "v", ""},
        SplitCase{"three_fields", "u,v,w", "u", "v", "", "w", ""},
        SplitCase{"four_fields", "u,v,w,x", "u", "v", "w", "x", ""},
        SplitCase{"five_fields", "u,v,w,x,y", "u", "v", "w", "x", "y"},
        SplitCase{"name_keeps_its_commas", "u,v,w,x,y,z", "u", "v", "w", "x", "y,z"},
        SplitCase{"empty_mac_and_time", ",", "", "", "", "", ""},
        SplitCase{"japanese_name_byte_for_byte", kHead + "\x83\x76\x83\x8A", "M", "1.2.3.4", "2024/05/01", "09:15:30", "\x83\x76\x83\x8A"},
        SplitCase{"rest_cut_to_255_bytes", kHead + kLong, "M", "1.2.3.4", "2024/05/01", "09:15:30", std::string(227, 'n')},
        SplitCase{"cut_before_splitting", "M," + kLong + ",d,t", "M", "", "", std::string(255, 'n'), ""},
        SplitCase{"cut_leaves_out_a_split_character", kHead + std::string(226, 'n') + "\x83\x76zz", "M", "1.2.3.4", "2024/05/01",
                  "09:15:30", std::string(226, 'n')}),
    [](const auto& info) { return std::string(info.param.name); });

struct PortCase {
    const char* name;
    friend void PrintTo(const PortCase& c, std::ostream* os) { *os << c.name; }
    std::string line;
    int httpPort;
    std::string address;
};

class AddressText : public testing::TestWithParam<PortCase> {};

TEST_P(AddressText, CellAndFormTargetCarryTheSameAddress)
{
    const auto& c = GetParam();
    const auto lines = rowLines(c.line + "\r\n", c.httpPort);
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[5], "</TD><TD align=left>" + c.address + "</TD><TD>");
    EXPECT_EQ(lines[7], "<FORM method=\"POST\" target=_blank action=http://" + c.address +
                            "><INPUT TYPE=\"submit\" VALUE=\"\x90\xDA\x91\xB1\">");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AddressText,
    testing::Values(PortCase{"port_80_adds_nothing", kDevice, 80, "192.168.1.20"},
                    PortCase{"port_8080_appended", kDevice, 8080, "192.168.1.20:8080"},
                    PortCase{"negative_port_appended", kDevice, -1, "192.168.1.20:-1"},
                    PortCase{"one_comma_line_has_no_host", "u,v", 8080, ":8080"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RowBlock, RowsAreNumberedAndColouredAlternately)
{
    std::string csv;
    for (int i = 0; i < 11; ++i)
        csv += kDevice + "\r\n";
    const auto lines = rowLines(csv);
    ASSERT_EQ(lines.size(), 5u + 5u * 11u);
    const auto rowStart = [&](int row) { return lines[4 + 5 * (row - 1)].substr(0, 39); };
    EXPECT_EQ(rowStart(1), "<TR align=center bgcolor=#F4FFFF><TD>1<");
    EXPECT_EQ(rowStart(2), "<TR align=center bgcolor=#F8FFFF><TD>2<");
    EXPECT_EQ(rowStart(3), "<TR align=center bgcolor=#F4FFFF><TD>3<");
    EXPECT_EQ(lines[4 + 5 * 10].substr(0, 41), "<TR align=center bgcolor=#F4FFFF><TD>11</");
}

struct StopCase {
    const char* name;
    friend void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }
    std::string csv;
    std::size_t rows;
};

class ListingEnd : public testing::TestWithParam<StopCase> {};

TEST_P(ListingEnd, LineWithoutCommaEndsTheListingButCsvKeepsAll)
{
    const auto& c = GetParam();
    const auto devices = listOf(c.csv);
    RecordingSink sink;
    writeListPage({}, devices, {kStamp, 80, "list.htm", "list.csv"}, sink.replace());
    EXPECT_EQ(text::splitLines(sink.files.at("list.htm")).size(), 5 + 5 * c.rows);
    EXPECT_EQ(sink.files.at("list.csv"), c.csv);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ListingEnd,
    testing::Values(StopCase{"blank_third_line", kDevice + "\r\n" + kDevice + "\r\n\r\n" + kDevice + "\r\n", 2},
                    StopCase{"commaless_first_line", "header\r\n" + kDevice + "\r\n", 0},
                    StopCase{"comma_beyond_4096_bytes", std::string(4096, 'x') + ",v\r\n", 0},
                    StopCase{"empty_list_empty_csv", "", 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct StatusCase {
    const char* name;
    friend void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }
    std::string htmlPath, csvPath;
    std::set<std::string> failing;
    std::string status;
    std::set<std::string> written;
};

class WriteStatus : public testing::TestWithParam<StatusCase> {};

TEST_P(WriteStatus, ReportsFailuresAndStillWritesTheOtherFile)
{
    const auto& c = GetParam();
    const auto devices = listOf(kGoldenCsv);
    RecordingSink sink;
    sink.failing = c.failing;
    const auto outcome = writeListPage(defaultBlocks(), devices, {kStamp, kGoldenPort, c.htmlPath, c.csvPath}, sink.replace());
    EXPECT_EQ(statusText(outcome), c.status);
    std::set<std::string> written;
    for (const auto& [path, bytes] : sink.files)
        written.insert(path);
    EXPECT_EQ(written, c.written);
    if (c.written.count("p.htm")) {
        EXPECT_EQ(sink.files["p.htm"], goldenPage());
    }
    if (c.written.count("d.csv")) {
        EXPECT_EQ(sink.files["d.csv"], kGoldenCsv);
    }
}

const std::string kFailed = "\x83t\x83\x40\x83\x43\x83\x8B\x95\xDB\x91\xB6\x82\xAA\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x81\x42";
const std::string kStarted = "\x8A\x4A\x8E\x6E";

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteStatus,
    testing::Values(StatusCase{"both_written", "p.htm", "d.csv", {}, kStarted, {"p.htm", "d.csv"}},
                    StatusCase{"page_failed", "p.htm", "d.csv", {"p.htm"}, "html " + kFailed, {"d.csv"}},
                    StatusCase{"csv_failed", "p.htm", "d.csv", {"d.csv"}, "csv " + kFailed, {"p.htm"}},
                    StatusCase{"both_failed", "p.htm", "d.csv", {"p.htm", "d.csv"}, "html csv " + kFailed, {}},
                    StatusCase{"empty_html_path_skips_page", "", "d.csv", {}, kStarted, {"d.csv"}},
                    StatusCase{"empty_csv_path_skips_csv", "p.htm", "", {}, kStarted, {"p.htm"}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace zqn::report

namespace zqn::report {
namespace {

// The row block as the row table reads, for lines up to the first without a comma.
std::string rowsByRule(const text::Lines& lines, int httpPort)
{
    const std::string sp = "\x81\x40";
    std::string rows = "<TR><TD colspan=6 align=right>" + kStamp + "</TD></TR>\r\n"
                       "<TR align=center bgcolor=#FFFFFF><TD>No.</TD><TD width=150>Name</TD><TD>MAC Address</TD>\r\n"
                       "<TD>IP Address</TD><TD>Date</TD><TD>\r\n"
                       "</TD></TR>\r\n";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto f = rules::fieldsOf(lines[i]);
        if (!f)
            break;
        std::string address(f->ip);
        if (httpPort != 80)
            address.append(":").append(std::to_string(httpPort));
        rows += "<TR align=center bgcolor=" + std::string(i % 2 == 0 ? "#F4FFFF" : "#F8FFFF") + "><TD>"
                + std::to_string(i + 1) + "</TD><TD align=left>" + sp + std::string(f->name) + "</TD><TD>"
                + std::string(f->mac) + "\r\n</TD><TD align=left>" + address + "</TD><TD>\r\n" + std::string(f->date) + " "
                + std::string(f->time) + "</TD><TD>\r\n<FORM method=\"POST\" target=_blank action=http://" + address
                + "><INPUT TYPE=\"submit\" VALUE=\"\x90\xDA\x91\xB1\">\r\n</TD></FORM></TR>\r\n";
    }
    return rows + "<TR><TD colspan=6 align=right>" + sp + "</TD></TR>\r\n";
}

// A large list is written in pieces; together they must be exactly the page and the CSV text.
TEST(WriteListPageInPieces, PiecesJoinToThePageAndTheCsv)
{
    std::string csv;
    for (int i = 0; i < 6000; ++i)
        csv += "02:C3:D7:00:" + std::to_string(10 + i / 100) + ":" + std::to_string(10 + i % 90)
               + ",10.0.0.1,2024/05/01,09:15:30,\x8E\xF3\x95\x74" + std::to_string(i) + "\r\n";
    // The widest row a line can make, and a CSV line longer than any buffer of the writer.
    csv += std::string(4095, 'M') + ",10.0.0.2,2024/05/01,09:15:30," + std::string(300, 'n') + "\r\n";
    csv += "02:C3:D7:FF:FF:FF,10.0.0.3,2024/05/01,09:15:30," + std::string(70000, 'n') + "\r\n";
    csv += "last line without a break";
    const auto devices = listOf(csv);
    const PageBlocks blocks = buildBlocks(defaultTemplate(), 10, "zqnlist.htm", "ZQN LIST");

    RecordingSink sink;

    const auto outcome = writeListPage(blocks, devices, {kStamp, 8080, "zqnlist.htm", "zqnlist.csv"}, sink.replace());
    EXPECT_FALSE(outcome.pageFailed || outcome.csvFailed);
    // The golden page's head and tail around rows made by the rule.
    const std::string golden = goldenPage();
    const std::string head = golden.substr(0, golden.find("<TR><TD colspan=6"));
    const std::string tail = golden.substr(golden.rfind("</TD></TR>\r\n") + 12);
    EXPECT_EQ(sink.files["zqnlist.htm"], head + rowsByRule(devices.lines(), 8080) + tail);
    EXPECT_EQ(sink.files["zqnlist.csv"], csv);
    EXPECT_GT(sink.pieces["zqnlist.htm"], 3) << "a large page is passed on in pieces";
    EXPECT_GT(sink.pieces["zqnlist.csv"], 1);
}

} // namespace
} // namespace zqn::report
