#include "settings/settings.h"

#include "text/line_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <optional>
#include <string>
#include <vector>

namespace zqn::settings {
namespace {

using namespace std::string_literals;

constexpr std::string_view kUtf8Signature = "\xEF\xBB\xBF";
// "ソフト": the first character's trail byte is a backslash.
constexpr const char* kSjisHeading = "\x83\x5C\x83\x74\x83\x67";

template <typename Case>
std::string caseName(const testing::TestParamInfo<Case>& info)
{
    return info.param.name;
}

struct DecimalCase {
    const char* name;
    std::string_view text;
    std::optional<int> value;
};

class ParseDecimal : public testing::TestWithParam<DecimalCase> {};

TEST_P(ParseDecimal, TakesOnlyWholeDecimalNumbers)
{
    EXPECT_EQ(parseDecimal(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseDecimal,
    testing::Values(DecimalCase{"plain", "5000", 5000},
                    DecimalCase{"zero", "0", 0},
                    DecimalCase{"leading_zeros", "007", 7},
                    DecimalCase{"minus", "-5", -5},
                    DecimalCase{"plus", "+5", 5},
                    DecimalCase{"int32_max", "2147483647", INT_MAX},
                    DecimalCase{"int32_min", "-2147483648", INT_MIN},
                    DecimalCase{"above_int32", "2147483648", std::nullopt},
                    DecimalCase{"below_int32", "-2147483649", std::nullopt},
                    DecimalCase{"twenty_digits", "99999999999999999999", std::nullopt},
                    DecimalCase{"empty", "", std::nullopt},
                    DecimalCase{"sign_alone", "-", std::nullopt},
                    DecimalCase{"two_signs", "+-5", std::nullopt},
                    DecimalCase{"letter_inside", "50a0", std::nullopt},
                    DecimalCase{"leading_space", " 5", std::nullopt},
                    DecimalCase{"trailing_space", "5 ", std::nullopt}),
    caseName<DecimalCase>);

struct ReadCase {
    const char* name;
    std::string bytes;
    Settings expected;
};

class ParseSettings : public testing::TestWithParam<ReadCase> {};

TEST_P(ParseSettings, ReadsTheEightSettings)
{
    EXPECT_EQ(parseSettings(GetParam().bytes), GetParam().expected);
}

const Settings kAllChanged{true, true, 6000, 8080, 30, "a.csv", "b.htm", "Title"};

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseSettings,
    testing::Values(
        ReadCase{"no_file_gives_defaults", "", Settings{}},
        ReadCase{"all_eight_crlf",
                 "[SYSTEM]\r\nAUTO=1\r\nWINDOW=1\r\nPORT=6000\r\nHTTPPORT=8080\r\nLTIME=30\r\n"
                 "[DATA]\r\nCSV=a.csv\r\nHTML=b.htm\r\nMESS1=Title\r\n",
                 kAllChanged},
        ReadCase{"all_eight_lf",
                 "[SYSTEM]\nAUTO=1\nWINDOW=1\nPORT=6000\nHTTPPORT=8080\nLTIME=30\n"
                 "[DATA]\nCSV=a.csv\nHTML=b.htm\nMESS1=Title",
                 kAllChanged},
        ReadCase{"lone_cr_lines", "[SYSTEM]\rPORT=6000\rLTIME=30", Settings{.udpPort = 6000, .saveInterval = 30}},
        ReadCase{"window_alone", "[SYSTEM]\r\nWINDOW=1\r\n", Settings{.startHidden = true}},
        ReadCase{"port_text_gives_default", "[SYSTEM]\r\nPORT=abc\r\n", Settings{}},
        ReadCase{"port_letter_inside_gives_default", "[SYSTEM]\r\nPORT=50a0\r\n", Settings{}},
        ReadCase{"interval_below_spin_range_kept", "[SYSTEM]\r\nLTIME=5\r\n", Settings{.saveInterval = 5}},
        ReadCase{"htmlport_is_not_read", "[SYSTEM]\r\nHTMLPORT=8080\r\n", Settings{}},
        ReadCase{"keys_in_the_wrong_section_ignored",
                 "[DATA]\r\nPORT=6000\r\n[SYSTEM]\r\nMESS1=x\r\n", Settings{}},
        ReadCase{"names_ignore_case", "[system]\r\nport=6000\r\n[Data]\r\nMess1=x\r\n",
                 Settings{.udpPort = 6000, .heading = "x"}},
        ReadCase{"blanks_around_value_dropped", "[SYSTEM]\r\nPORT = 6000 \r\n[DATA]\r\nMESS1 =\t Z L \r\n",
                 Settings{.udpPort = 6000, .heading = "Z L"}},
        ReadCase{"first_of_repeated_keys", "[SYSTEM]\r\nPORT=6000\r\nPORT=7000\r\n", Settings{.udpPort = 6000}},
        ReadCase{"comment_lines_ignored", "; PORT=7000\r\n[SYSTEM]\r\n# LTIME=99\r\nPORT=6000\r\n",
                 Settings{.udpPort = 6000}},
        ReadCase{"empty_text_is_not_the_default", "[DATA]\r\nCSV=\r\n", Settings{.csvPath = ""}},
        ReadCase{"texts_are_raw_bytes",
                 std::string("[DATA]\r\nHTML=C:\\web\\list.htm\r\nMESS1=") + kSjisHeading + " \"a=b\" ;c\r\n",
                 Settings{.htmlPath = "C:\\web\\list.htm", .heading = std::string(kSjisHeading) + " \"a=b\" ;c"}},
        ReadCase{"utf8_signature_skipped", std::string(kUtf8Signature) + "[SYSTEM]\r\nPORT=6000\r\n",
                 Settings{.udpPort = 6000}},
        ReadCase{"notify_non_zero", "[SYSTEM]\r\nNOTIFY=2\r\n", Settings{.notifyNewDevices = true}},
        ReadCase{"notify_unreadable_is_off", "[SYSTEM]\r\nNOTIFY=on\r\n", Settings{}},
        ReadCase{"max_devices_lowest", "[SYSTEM]\r\nMAXDEV=1\r\n", Settings{.maxDevices = 1}},
        ReadCase{"max_devices_highest", "[SYSTEM]\r\nMAXDEV=1000000\r\n", Settings{.maxDevices = 1'000'000}},
        ReadCase{"max_devices_zero_gives_default", "[SYSTEM]\r\nMAXDEV=0\r\n", Settings{}},
        ReadCase{"max_devices_above_range_gives_default", "[SYSTEM]\r\nMAXDEV=1000001\r\n", Settings{}},
        ReadCase{"max_devices_unreadable_gives_default", "[SYSTEM]\r\nMAXDEV=many\r\n", Settings{}},
        ReadCase{"web_as_written", "[SYSTEM]\r\nWEB=[::1]:5080\r\n", Settings{.web = "[::1]:5080"}}),
    caseName<ReadCase>);

struct LaterKeyCase {
    const char* name;
    std::string existing;
    Settings settings;
    std::string written; // in the new file
    std::string absent;  // not in the new file
};

class WriteLaterKeys : public testing::TestWithParam<LaterKeyCase> {};

TEST_P(WriteLaterKeys, OnlyWhereTheyMatter)
{
    const std::string bytes = writeSettings(GetParam().existing, GetParam().settings);
    EXPECT_NE(bytes.find(GetParam().written), std::string::npos) << bytes;
    EXPECT_EQ(bytes.find(GetParam().absent), std::string::npos) << bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteLaterKeys,
    testing::Values(
        LaterKeyCase{"notify_on_after_the_system_keys", "", Settings{.notifyNewDevices = true},
                     "LTIME=10\r\nNOTIFY=1\r\n\r\n[DATA]", "MAXDEV"},
        LaterKeyCase{"notify_off_not_added", "[SYSTEM]\r\nPORT=1\r\n", Settings{}, "LTIME=10\r\n\r\n", "NOTIFY"},
        LaterKeyCase{"notify_off_kept_when_there", "[SYSTEM]\r\nNOTIFY=1\r\n", Settings{}, "NOTIFY=0\r\n", "NOTIFY=1"},
        LaterKeyCase{"max_devices_not_added", "[SYSTEM]\r\nPORT=1\r\n", Settings{.maxDevices = 2000}, "PORT=5000",
                     "MAXDEV"},
        LaterKeyCase{"max_devices_written_when_there", "[system]\r\nmaxdev=oops\r\n", Settings{.maxDevices = 2000},
                     "MAXDEV=2000\r\n", "oops"},
        LaterKeyCase{"web_not_added", "[SYSTEM]\r\nPORT=1\r\n", Settings{.web = "5080"}, "PORT=5000", "WEB"},
        LaterKeyCase{"web_kept_when_there", "[SYSTEM]\r\nWEB=5080\r\n", Settings{.web = "[::1]:80"},
                     "WEB=[::1]:80\r\n", "5080"}),
    caseName<LaterKeyCase>);

struct WebAddressCase {
    const char* name;
    std::string_view value;
    WebAddress::Kind kind;
    std::string host;
    int port;
};

class ParseWebAddress : public testing::TestWithParam<WebAddressCase> {};

TEST_P(ParseWebAddress, OffListenOrBadWithAReason)
{
    const WebAddress address = parseWebAddress(GetParam().value);
    EXPECT_EQ(address.kind, GetParam().kind);
    EXPECT_EQ(address.host, GetParam().host);
    EXPECT_EQ(address.port, GetParam().port);
    EXPECT_EQ(address.problem.empty(), GetParam().kind != WebAddress::Kind::bad);
}

using Kind = WebAddress::Kind;
INSTANTIATE_TEST_SUITE_P(
    Cases, ParseWebAddress,
    testing::Values(WebAddressCase{"empty_is_off", "", Kind::off, "", 0},
                    WebAddressCase{"zero_is_off", "0", Kind::off, "", 0},
                    WebAddressCase{"port_alone_every_address", "5080", Kind::listen, "", 5080},
                    WebAddressCase{"ipv4_and_port", "127.0.0.1:5080", Kind::listen, "127.0.0.1", 5080},
                    WebAddressCase{"ipv6_in_brackets", "[::1]:65535", Kind::listen, "::1", 65535},
                    WebAddressCase{"lowest_port", "1", Kind::listen, "", 1},
                    WebAddressCase{"port_above_range", "65536", Kind::bad, "", 0},
                    WebAddressCase{"host_with_port_zero", "127.0.0.1:0", Kind::bad, "", 0},
                    WebAddressCase{"signed_port", "+80", Kind::bad, "", 0},
                    WebAddressCase{"not_a_number", "web", Kind::bad, "", 0},
                    WebAddressCase{"host_without_port", "127.0.0.1:", Kind::bad, "", 0},
                    WebAddressCase{"colon_without_host", ":5080", Kind::bad, "", 0},
                    WebAddressCase{"empty_brackets", "[]:5080", Kind::bad, "", 0},
                    WebAddressCase{"ipv6_without_brackets", "::1:5080", Kind::bad, "", 0},
                    WebAddressCase{"bracket_not_closed", "[::1:5080", Kind::bad, "", 0},
                    WebAddressCase{"bracket_without_port", "[::1]5080", Kind::bad, "", 0}),
    caseName<WebAddressCase>);

struct BooleanCase {
    const char* name;
    const char* value;
    bool expected;
};

class ReadBoolean : public testing::TestWithParam<BooleanCase> {};

TEST_P(ReadBoolean, AnyNonZeroIntegerIsTrue)
{
    const auto settings = parseSettings(std::string("[SYSTEM]\r\nAUTO=") + GetParam().value + "\r\nWINDOW="
                                        + GetParam().value + "\r\n");
    EXPECT_EQ(settings.autoStart, GetParam().expected);
    EXPECT_EQ(settings.startHidden, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadBoolean,
                         testing::Values(BooleanCase{"zero", "0", false},
                                         BooleanCase{"one", "1", true},
                                         BooleanCase{"two", "2", true},
                                         BooleanCase{"minus_one", "-1", true},
                                         BooleanCase{"text_gives_default", "yes", false},
                                         BooleanCase{"empty_gives_default", "", false}),
                         caseName<BooleanCase>);

struct FreshFileCase {
    const char* name;
    Settings settings;
    std::string bytes;
};

class WriteFreshFile : public testing::TestWithParam<FreshFileCase> {};

TEST_P(WriteFreshFile, HasExactlyTheseBytes)
{
    EXPECT_EQ(writeSettings("", GetParam().settings), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteFreshFile,
    testing::Values(
        FreshFileCase{"defaults", Settings{},
                      "[SYSTEM]\r\nAUTO=0\r\nWINDOW=0\r\nPORT=5000\r\nHTTPPORT=80\r\nHTMLPORT=80\r\nLTIME=10\r\n"
                      "\r\n[DATA]\r\nCSV=zqnlist.csv\r\nHTML=zqnlist.htm\r\nMESS1=ZQN LIST\r\n"},
        FreshFileCase{"changed", Settings{true, false, -1, 8080, 5, "", "C:\\web\\list.htm", kSjisHeading},
                      std::string("[SYSTEM]\r\nAUTO=1\r\nWINDOW=0\r\nPORT=-1\r\nHTTPPORT=8080\r\nHTMLPORT=8080\r\n"
                                  "LTIME=5\r\n\r\n[DATA]\r\nCSV=\r\nHTML=C:\\web\\list.htm\r\nMESS1=")
                          + kSjisHeading + "\r\n"},
        // A line break would start a line of its own; only the first line could be read back.
        FreshFileCase{"text_cut_at_line_break", Settings{.csvPath = "a\rb", .htmlPath = "c\nd", .heading = "e\r\nf"},
                      "[SYSTEM]\r\nAUTO=0\r\nWINDOW=0\r\nPORT=5000\r\nHTTPPORT=80\r\nHTMLPORT=80\r\nLTIME=10\r\n"
                      "\r\n[DATA]\r\nCSV=a\r\nHTML=c\r\nMESS1=e\r\n"}),
    caseName<FreshFileCase>);

// A file someone else has added to: sections and keys of their own, comments, repeated and
// lower-case keys, LF line ends.
const std::string kForeignFile = "; monitor settings\n"
                                 "[OTHER]\n"
                                 "KEY=value\n"
                                 "[SYSTEM]\n"
                                 "; the UDP port\n"
                                 "port=6000\n"
                                 "EXTRA=keep me\n"
                                 "PORT=7000\n"
                                 "HTTPPORT=81\n"
                                 "[DATA]\n"
                                 "MESS1=old \x83\x5C\n"
                                 "# end of file\n";

TEST(WriteExistingFile, KeepsForeignEntriesAndCommentsInTheirOrder)
{
    const Settings settings{true, false, 5001, 8080, 30, "a.csv", "b.htm", "new"};
    const std::string expected = "; monitor settings\r\n"
                                 "\r\n"
                                 "[OTHER]\r\n"
                                 "KEY=value\r\n"
                                 "\r\n"
                                 "[SYSTEM]\r\n"
                                 "\r\n"
                                 "; the UDP port\r\n"
                                 "PORT=5001\r\n"
                                 "EXTRA=keep me\r\n"
                                 "HTTPPORT=8080\r\n"
                                 "AUTO=1\r\n"
                                 "WINDOW=0\r\n"
                                 "HTMLPORT=8080\r\n"
                                 "LTIME=30\r\n"
                                 "\r\n"
                                 "[DATA]\r\n"
                                 "MESS1=new\r\n"
                                 "CSV=a.csv\r\n"
                                 "HTML=b.htm\r\n"
                                 "\r\n"
                                 "# end of file\r\n";
    const std::string written = writeSettings(kForeignFile, settings);
    EXPECT_EQ(written, expected);
    EXPECT_EQ(writeSettings(written, settings), written) << "a second save changes nothing";
}

struct RoundTripCase {
    const char* name;
    Settings written;
    Settings readBack;
};

class RoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, ReadsBackWhatWasWritten)
{
    for (const std::string& existing : {std::string(), kForeignFile}) {
        SCOPED_TRACE(existing.empty() ? "new file" : "existing file");
        EXPECT_EQ(parseSettings(writeSettings(existing, GetParam().written)), GetParam().readBack);
    }
}

const Settings kHttpPort8080{.httpPort = 8080};
const Settings kSjis{.heading = kSjisHeading};
const Settings kWindowsPaths{.csvPath = "C:\\web\\list.csv", .htmlPath = "\\\\server\\share\\list.htm"};
const Settings kFormatCharacters{.heading = "[x] a=b ;c #d \"q\" <<<END"};
const Settings kEmptyTexts{.csvPath = "", .htmlPath = "", .heading = ""};
const Settings kExtremes{true, true, INT_MIN, INT_MAX, 0, "a", "b", "c"};

INSTANTIATE_TEST_SUITE_P(
    Cases, RoundTrip,
    testing::Values(RoundTripCase{"defaults", Settings{}, Settings{}},
                    RoundTripCase{"panel_http_port_survives_restart", kHttpPort8080, kHttpPort8080},
                    RoundTripCase{"shift_jis_with_backslash_trail_byte", kSjis, kSjis},
                    RoundTripCase{"windows_paths", kWindowsPaths, kWindowsPaths},
                    RoundTripCase{"characters_the_format_uses", kFormatCharacters, kFormatCharacters},
                    RoundTripCase{"empty_texts", kEmptyTexts, kEmptyTexts},
                    RoundTripCase{"extreme_values", kExtremes, kExtremes},
                    RoundTripCase{"outer_blanks_dropped", Settings{.heading = "  Z L\t"}, Settings{.heading = "Z L"}}),
    caseName<RoundTripCase>);

struct LineEndCase {
    const char* name;
    std::string existing;
    std::vector<std::string> keptLines;
};

class WriteLineEnds : public testing::TestWithParam<LineEndCase> {};

TEST_P(WriteLineEnds, EveryLineEndsInCrLfAndNothingIsLost)
{
    const std::string written = writeSettings(GetParam().existing, Settings{});
    for (std::size_t i = 0; i < written.size(); ++i) {
        if (written[i] == '\r') {
            ASSERT_TRUE(i + 1 < written.size() && written[i + 1] == '\n') << "lone CR at " << i;
        }
        if (written[i] == '\n') {
            ASSERT_TRUE(i > 0 && written[i - 1] == '\r') << "lone LF at " << i;
        }
    }
    EXPECT_TRUE(written.ends_with("\r\n"));
    EXPECT_EQ(written.find('\0'), std::string::npos);
    const auto lines = text::splitLines(written);
    for (const auto& line : GetParam().keptLines)
        EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line;
    EXPECT_EQ(parseSettings(written), Settings{});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteLineEnds,
    testing::Values(
        LineEndCase{"crlf", "; head\r\n[SYSTEM]\r\n; port \x83\x5C\r\nPORT=1\r\n; tail\r\n",
                    {"; head", "; port \x83\x5C", "; tail"}},
        LineEndCase{"lf", "; head\n[SYSTEM]\n; port\nPORT=1\n; tail\n", {"; head", "; port", "; tail"}},
        LineEndCase{"lone_cr", "; head\r[SYSTEM]\r; port\rPORT=1\r; tail", {"; head", "; port", "; tail"}},
        LineEndCase{"mixed", "; head\r\n[SYSTEM]\n; port\rPORT=1\r\n\n; tail", {"; head", "; port", "; tail"}},
        LineEndCase{"only_comments", "; first\r\n\r\n; second\r\n", {"; first", "; second"}},
        LineEndCase{"comment_after_empty_section", "[OTHER]\r\n  # after\r\n", {"[OTHER]", "# after"}},
        LineEndCase{"nul_ends_the_file", "[OTHER]\r\n; kept\0; gone\r\nX=1\r\n"s, {"[OTHER]", "; kept"}}),
    caseName<LineEndCase>);

TEST(WriteUtf8Signature, KeptWhereItWasAndNeverAdded)
{
    const std::string withSignature = std::string(kUtf8Signature) + "[SYSTEM]\r\nPORT=1\r\n";
    const std::string written = writeSettings(withSignature, Settings{});
    EXPECT_TRUE(written.starts_with(kUtf8Signature));
    EXPECT_EQ(written.find(kUtf8Signature, 1), std::string::npos);
    EXPECT_EQ(written.substr(kUtf8Signature.size()), writeSettings("[SYSTEM]\r\nPORT=1\r\n", Settings{}));
}

} // namespace
} // namespace zqn::settings

namespace zqn::settings {
namespace {

struct StableCase {
    const char* name;
    std::string file;
    int port;
};

class SaveIsStable : public testing::TestWithParam<StableCase> {};

// A hand-edited file must settle after one save: no line may be added at every exit.
TEST_P(SaveIsStable, SecondSaveChangesNothing)
{
    const Settings read = parseSettings(GetParam().file);
    EXPECT_EQ(read.udpPort, GetParam().port);
    const std::string once = writeSettings(GetParam().file, read);
    EXPECT_EQ(writeSettings(once, read), once);
    EXPECT_EQ(parseSettings(once), read);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SaveIsStable,
    testing::Values(StableCase{"unclosed_section_line", "[SYSTEM\r\nPORT=6000\r\n", 6000},
                    StableCase{"unclosed_section_before_key_only", "[;\n1=", 5000},
                    StableCase{"blank_line_before_first_comment", "\n; note\n[SYSTEM]\nPORT=1\n", 1},
                    StableCase{"comment_then_key_without_section", "\n;\nE=", 5000},
                    StableCase{"unclosed_empty_section", "{\n[\n; note]\r\n80\r\n[SYSTEM]\r\nPORT=3\r\n", 3},
                    StableCase{"lone_cr_ends_an_unclosed_section", "[SYSTEM\rPORT=4\r\n", 4},
                    StableCase{"entry_without_name", "={\n\n; note\n[SYSTEM]\nPORT=6\n", 6},
                    StableCase{"empty_section", "[]\r\nX=1\r\n[SYSTEM]\r\nPORT=2\r\n", 2},
                    StableCase{"unreadable_line_before_first_comment", "{\n\n; by hand\r\n[SYSTEM]\r\nPORT=7\r\n", 7}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace zqn::settings
