#include "discovery/device_list.h"

#include <gtest/gtest.h>

#include "report/list_page.h"
#include "support/gathered_bytes.h"
#include "support/line_rules.h"

namespace zqn::discovery {
namespace {

const std::string kMac = "0A:1B:2C:3D:4E:5F";

// The CSV file's bytes, as a page write saves them.
std::string csvOf(const DeviceList& list)
{
    test::GatheredBytes csv;
    report::writeCsv(csv, list);
    return csv.bytes;
}

Sighting sighting(std::string mac, std::string ip = "192.168.1.21", std::string date = "2024/05/02",
                  std::string time = "10:00:00")
{
    return {std::move(mac), std::move(ip), std::move(date), std::move(time)};
}

struct UpdateCase {
    const char* name;
    std::string stored;
    std::string updated;
};

class RecordUpdate : public testing::TestWithParam<UpdateCase> {};

TEST_P(RecordUpdate, RenewsTheLineInPlaceKeepingTheTail)
{
    DeviceList list;
    list.load("first line\r\n" + GetParam().stored + "\r\nlast line\r\n");
    const auto result = list.record(sighting(kMac));
    EXPECT_FALSE(result.appended);
    EXPECT_EQ(result.index, 1u);
    ASSERT_EQ(list.count(), 3u);
    EXPECT_EQ(list.line(1), GetParam().updated);
    EXPECT_EQ(list.line(0), "first line");
    EXPECT_EQ(list.line(2), "last line");
}

const std::string kHead = kMac + ",192.168.1.21,2024/05/02,10:00:00";

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordUpdate,
    testing::Values(
        UpdateCase{"keeps_name", kMac + ",192.168.1.20,2024/05/01,09:15:30,Printer 2F", kHead + ",Printer 2F"},
        UpdateCase{"keeps_name_with_commas", kMac + ",192.168.1.20,2024/05/01,09:15:30,a,b,c", kHead + ",a,b,c"},
        UpdateCase{"four_fields_get_no_name", kMac + ",192.168.1.20,2024/05/01,09:15:30", kHead},
        UpdateCase{"mac_alone_keeps_from_byte_15", kMac, kHead + ":5F"},
        UpdateCase{"name_cut_to_254", kMac + ",1.2.3.4,2024/05/01,09:15:30," + std::string(300, 'n'), kHead + "," + std::string(254, 'n')},
        // 254 bytes would end inside the last character: the whole character is left out.
        UpdateCase{"cut_never_splits_a_character", kMac + ",1.2.3.4,2024/05/01,09:15:30," + std::string(253, 'n') + "\x83\x41",
                   kHead + "," + std::string(253, 'n')},
        UpdateCase{"cut_keeps_a_whole_last_character", kMac + ",1.2.3.4,2024/05/01,09:15:30," + std::string(252, 'n') + "\x83\x41zz",
                   kHead + "," + std::string(252, 'n') + "\x83\x41"},
        UpdateCase{"japanese_name_kept_byte_for_byte", kMac + ",1.2.3.4,2024/05/01,09:15:30,\x83\x76\x83\x8A\x83\x93\x83\x5E", kHead + ",\x83\x76\x83\x8A\x83\x93\x83\x5E"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DeviceListRecord, AppendsNonameForANewDevice)
{
    DeviceList list;
    const auto result = list.record(sighting(kMac, "192.168.1.20", "2024/05/01", "09:15:30"));
    EXPECT_TRUE(result.appended);
    EXPECT_EQ(result.index, 0u);
    EXPECT_EQ(csvOf(list), "0A:1B:2C:3D:4E:5F,192.168.1.20,2024/05/01,09:15:30,noname\r\n");
}

TEST(DeviceListRecord, LowerCaseLineIsNotMatched)
{
    DeviceList list;
    list.load("0a:1b:2c:3d:4e:5f,1.1.1.1,2024/01/01,00:00:00,old\r\n");
    EXPECT_TRUE(list.record(sighting(kMac)).appended);
    EXPECT_EQ(list.line(0), "0a:1b:2c:3d:4e:5f,1.1.1.1,2024/01/01,00:00:00,old");
    EXPECT_EQ(list.count(), 2u);
}

TEST(DeviceListRecord, OnlyTheFirstOfTwoEqualKeysIsUpdated)
{
    DeviceList list;
    list.load(kMac + ",1,2024/01/01,00:00:00,one\r\n" + kMac + ",2,2024/01/01,00:00:00,two\r\n");
    list.record(sighting(kMac));
    list.record(sighting(kMac, "9.9.9.9"));
    EXPECT_EQ(list.line(0), kMac + ",9.9.9.9,2024/05/02,10:00:00,one");
    EXPECT_EQ(list.line(1), kMac + ",2,2024/01/01,00:00:00,two");
}

// A MAC text of a short count is shorter than 17 bytes: it matches only a line that is exactly
// that text, and after the update that line no longer matches, so the next sighting appends.
TEST(DeviceListRecord, ShortMacTextMatchesOnlyAnEqualLine)
{
    DeviceList list;
    const std::string shortMac = "0A:1B:2C:3D::";
    list.load(shortMac + "\r\nX\r\n" + shortMac + "\r\n");
    EXPECT_EQ(list.record(sighting(shortMac)).index, 0u);
    EXPECT_EQ(list.line(0), shortMac + ",192.168.1.21,2024/05/02,10:00:00");
    // The old key now first occurs at line 2.
    EXPECT_EQ(list.record(sighting(shortMac)).index, 2u);
    for (std::size_t expected : {3u, 4u}) {
        const auto result = list.record(sighting(shortMac));
        EXPECT_TRUE(result.appended);
        EXPECT_EQ(result.index, expected);
    }
}

TEST(DeviceListRecord, IndexAgreesWithAScanAfterManyRecords)
{
    DeviceList list;
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 300; ++i) {
            char mac[18];
            std::snprintf(mac, sizeof mac, "00:00:00:00:%02X:%02X", i / 256, i % 256);
            list.record(sighting(mac, std::to_string(round)));
        }
    }
    ASSERT_EQ(list.count(), 300u);
    for (std::size_t i = 0; i < list.count(); ++i)
        EXPECT_EQ(list.line(i).substr(18, 2), "2,") << i;
}

struct SaveCase {
    const char* name;
    std::string file;
    std::vector<std::string> recorded;
    std::string saved;
};

class LoadAndSave : public testing::TestWithParam<SaveCase> {};

TEST_P(LoadAndSave, KeepsTheFileFormByteForByte)
{
    DeviceList list;
    list.load(GetParam().file);
    for (const auto& mac : GetParam().recorded)
        list.record(sighting(mac));
    EXPECT_EQ(csvOf(list), GetParam().saved);
}

const std::string kNewLine = "0A:1B:2C:3D:4E:5F,192.168.1.21,2024/05/02,10:00:00,noname";

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadAndSave,
    testing::Values(SaveCase{"empty", "", {}, ""},
                    SaveCase{"terminated_unchanged", "A\r\nB\r\n", {}, "A\r\nB\r\n"},
                    SaveCase{"lf_file_saved_with_crlf", "A\nB\n", {}, "A\r\nB\r\n"},
                    SaveCase{"unterminated_unchanged", "A\r\nB", {}, "A\r\nB"},
                    SaveCase{"unterminated_append", "A\r\nB", {kMac}, "A\r\nB\r\n" + kNewLine},
                    SaveCase{"terminated_append", "A\r\nB\r\n", {kMac}, "A\r\nB\r\n" + kNewLine + "\r\n"},
                    SaveCase{"blank_line_kept", "A\r\nB\r\nC\r\n\r\n", {}, "A\r\nB\r\nC\r\n\r\n"},
                    SaveCase{"empty_list_append", "", {kMac}, kNewLine + "\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DeviceListLoad, ReplacesTheListAndItsIndex)
{
    DeviceList list;
    list.record(sighting(kMac));
    list.load("A\r\nB");
    EXPECT_EQ(list.lines(), (text::Lines{"A", "B"}));
    EXPECT_TRUE(list.record(sighting(kMac)).appended);
    list.clear();
    EXPECT_EQ(list.count(), 0u);
    EXPECT_EQ(csvOf(list), "");
}

} // namespace
} // namespace zqn::discovery

namespace zqn::discovery {
namespace {

// The plain top-down scan that the index stands in for, renewing lines as the rule reads.
void recordByScan(text::Lines& lines, const Sighting& s)
{
    for (auto& line : lines) {
        if (line.substr(0, 17) == s.mac) {
            line = rules::renewed(line, s.mac, s.ip, s.date, s.time);
            return;
        }
    }
    lines.push_back(s.mac + "," + s.ip + "," + s.date + "," + s.time + ",noname");
}

TEST(DeviceListRecord, AgreesWithAPlainScanOnARandomMix)
{
    const std::vector<std::string> macs{"0A:1B:2C:3D:4E:5F", "0A:1B:2C:3D:4E:60", "0A:1B:2C:3D::", "0A:1B::::",
                                        "::::::", "FF:FF:FF:00:12:34"};
    std::uint32_t seed = 12345;
    // The high bits: the low ones of this generator repeat after a few steps.
    const auto next = [&] { return (seed = seed * 1664525u + 1013904223u) >> 16; };
    for (int trial = 0; trial < 50; ++trial) {
        text::Lines expected;
        for (int i = 0; i < 6; ++i) {
            const std::string& mac = macs[next() % macs.size()];
            // Names around the 255-byte limit, some with a two-byte character that a cut may split.
            std::string name = std::string(255 + next() % 4, 'n');
            if (next() % 2 == 0)
                name.replace(246 + next() % 8, 2, "\x83\x41");
            // Appended, not "x" + std::to_string(i): at -O3 GCC 12 takes the insert that makes for
            // an overlapping copy and stops a build with warnings as errors (-Wrestrict).
            switch (next() % 4) {
            case 0: expected.push_back(mac); break;
            case 1: expected.push_back(mac + ",1.1.1.1,2024/01/01,00:00:00,name" + std::to_string(i)); break;
            case 2: expected.push_back(mac + ",1.1.1.1,2024/01/01,00:00:00," + name); break;
            default: expected.push_back(std::string("x").append(std::to_string(i))); break;
            }
        }
        DeviceList list;
        list.load(text::joinLines(expected));
        for (int i = 0; i < 40; ++i) {
            const Sighting s{macs[next() % macs.size()], std::to_string(i), "2024/05/02", "10:00:00"};
            recordByScan(expected, s);
            list.record(s);
        }
        ASSERT_EQ(list.lines(), expected) << "trial " << trial;
    }
}

} // namespace
} // namespace zqn::discovery

namespace zqn::discovery {
namespace {

struct IpCase {
    const char* name;
    std::string stored;
    bool ipChanged;
    std::string previousIp;
};

class RecordIpChange : public testing::TestWithParam<IpCase> {};

TEST_P(RecordIpChange, ToldOnlyWhenTheLineHeldAnotherAddress)
{
    DeviceList list;
    list.load(GetParam().stored);
    const auto result = list.record(sighting(kMac, "192.168.1.21"));
    EXPECT_EQ(result.ipChanged, GetParam().ipChanged);
    EXPECT_EQ(result.previousIp, GetParam().previousIp);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordIpChange,
    testing::Values(IpCase{"same_address", kMac + ",192.168.1.21,2024/05/01,09:15:30,noname", false, ""},
                    IpCase{"other_address", kMac + ",192.168.1.20,2024/05/01,09:15:30,noname", true, "192.168.1.20"},
                    IpCase{"longer_address_sharing_a_prefix", kMac + ",192.168.1.210,2024/05/01,09:15:30,x", true,
                           "192.168.1.210"},
                    IpCase{"line_without_address", kMac, false, ""},
                    IpCase{"empty_address_field", kMac + ",,2024/05/01,09:15:30,noname", false, ""},
                    IpCase{"new_device", "", false, ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct RenameCase {
    const char* name;
    std::string stored;
    std::string newName;
    DeviceList::RenameResult result;
    std::string renamed; // the line afterwards
};

class Rename : public testing::TestWithParam<RenameCase> {};

const std::string kFields = kMac + ",192.168.1.20,2024/05/01,09:15:30";

TEST_P(Rename, ReplacesOnlyTheNameField)
{
    DeviceList list;
    list.load("first line\r\n" + GetParam().stored + "\r\nlast line");
    EXPECT_EQ(list.canRename(1), GetParam().result != DeviceList::RenameResult::noNameField) << "the menu item would disagree";
    EXPECT_EQ(list.rename(1, GetParam().newName), GetParam().result);
    EXPECT_EQ(list.lines(), (text::Lines{"first line", GetParam().renamed, "last line"}));
    EXPECT_EQ(csvOf(list), "first line\r\n" + GetParam().renamed + "\r\nlast line");
}

using enum DeviceList::RenameResult;

INSTANTIATE_TEST_SUITE_P(
    Cases, Rename,
    testing::Values(
        RenameCase{"name_replaced", kFields + ",noname", "Printer 2F", renamed, kFields + ",Printer 2F"},
        RenameCase{"commas_kept_in_both_names", kFields + ",a,b", "c,d", renamed, kFields + ",c,d"},
        RenameCase{"name_beyond_what_the_page_shows_replaced", kFields + "," + std::string(400, 'n'), "x", renamed,
                   kFields + ",x"},
        RenameCase{"cut_to_254", kFields + ",a", std::string(300, 'n'), renamed, kFields + "," + std::string(254, 'n')},
        RenameCase{"cut_never_splits_a_character", kFields + ",a", std::string(253, 'n') + "\x83\x41", renamed,
                   kFields + "," + std::string(253, 'n')},
        RenameCase{"four_fields_get_a_name", kFields, "\x83\x76\x83\x8A", renamed, kFields + ",\x83\x76\x83\x8A"},
        // The page shows "u,v" as MAC u and time v: the name needs the empty fields between.
        RenameCase{"two_fields_padded_as_the_page_reads_them", "u,v", "n", renamed, "u,,,v,n"},
        RenameCase{"line_without_comma_refused", kMac, "n", noNameField, kMac},
        // The page reads a line's first 4,096 bytes and finds no comma there: no device to name.
        RenameCase{"first_comma_beyond_the_readable_bytes_refused", std::string(5000, 'm') + ",10.0.0.1,d,t,n", "x",
                   noNameField, std::string(5000, 'm') + ",10.0.0.1,d,t,n"},
        // The fields end at byte 4,095: a new name would start past the bytes the page reads.
        RenameCase{"name_past_the_readable_bytes_refused", std::string(4070, 'm') + ",10.0.0.1,2024/05/01,12:00:00",
                   "x", noNameField, std::string(4070, 'm') + ",10.0.0.1,2024/05/01,12:00:00"},
        RenameCase{"fields_filling_the_split_bytes_refused", "u,v," + std::string(253, 't'), "n", noNameField,
                   "u,v," + std::string(253, 't')},
        RenameCase{"carriage_return_refused", kFields + ",old", "a\rb", badCharacter, kFields + ",old"},
        RenameCase{"line_feed_refused", kFields + ",old", "a\nb", badCharacter, kFields + ",old"},
        RenameCase{"nul_refused", kFields + ",old", std::string("a\0b", 3), badCharacter, kFields + ",old"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DeviceListRename, NextSightingKeepsTheNewName)
{
    DeviceList list;
    list.record(sighting(kMac, "192.168.1.20"));
    ASSERT_EQ(list.rename(0, "Printer, 2F"), renamed);
    list.record(sighting(kMac, "192.168.1.22", "2024/05/03", "11:00:00"));
    EXPECT_EQ(list.line(0), kMac + ",192.168.1.22,2024/05/03,11:00:00,Printer, 2F");
    EXPECT_EQ(list.rename(1, "x"), noSuchLine);
}

// A short hand-edited line holds its name within the first 17 bytes, the line's key.
TEST(DeviceListRename, ANewKeyIsFoundByTheNextSighting)
{
    DeviceList list;
    list.load("a,b,c,d,old\r\n");
    ASSERT_EQ(list.rename(0, "0A:1B:2C:3D:4E:5F"), renamed);
    const auto result = list.record(sighting("a,b,c,d,0A:1B:2C:"));
    EXPECT_FALSE(result.appended);
    EXPECT_EQ(result.index, 0u);
}

} // namespace
} // namespace zqn::discovery

namespace zqn::discovery {
namespace {

TEST(DeviceListCapacity, AtTheCapKnownDevicesUpdateAndNewOnesAreRefused)
{
    DeviceList list;
    EXPECT_EQ(list.capacity(), 65'536u);
    list.setCapacity(2);
    list.record(sighting("00:00:00:00:00:01"));
    EXPECT_FALSE(list.full());
    list.record(sighting("00:00:00:00:00:02"));
    ASSERT_TRUE(list.full());
    const std::string before = csvOf(list);

    const auto refused = list.record(sighting(kMac));
    EXPECT_TRUE(refused.refused);
    EXPECT_FALSE(refused.appended);
    EXPECT_EQ(refused.index, 2u);
    EXPECT_EQ(csvOf(list), before);

    const auto updated = list.record(sighting("00:00:00:00:00:02", "10.0.0.9"));
    EXPECT_FALSE(updated.refused);
    EXPECT_EQ(updated.index, 1u);
    EXPECT_EQ(list.line(1), "00:00:00:00:00:02,10.0.0.9,2024/05/02,10:00:00,noname");
}

TEST(DeviceListCapacity, ALoadedFileOverTheCapIsKeptWhole)
{
    DeviceList list;
    list.setCapacity(2);
    list.load("A\r\nB\r\nC\r\n");
    EXPECT_EQ(csvOf(list), "A\r\nB\r\nC\r\n");
    EXPECT_TRUE(list.record(sighting(kMac)).refused);
    list.setCapacity(4);
    EXPECT_TRUE(list.record(sighting(kMac)).appended);
    EXPECT_EQ(list.count(), 4u);
}

} // namespace
} // namespace zqn::discovery
