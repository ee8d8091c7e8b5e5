#include "discovery/maker_table.h"

#include <gtest/gtest.h>

namespace zqn::discovery {
namespace {

// Rows as the registry's files write them: a quoted name with a comma, an address with a line
// break inside quotes, and blocks of 28 and 36 bits carved out of a 24-bit one.
constexpr std::string_view kOui = "Registry,Assignment,Organization Name,Organization Address\r\n"
                                  "MA-L,0A1B2C,\"Maker, Inc.\",\"1 Road\nTown\"\r\n"
                                  "MA-L,70B3D5,IEEE Registration Authority,445 Hoes Lane\r\n"
                                  "MA-L,001122,\"Quote \"\"Q\"\" Ltd\",x\r\n"
                                  "MA-L,zzzzzz,Broken,x\r\n";
constexpr std::string_view kMam = "Registry,Assignment,Organization Name,Organization Address\n"
                                  "MA-M,70B3D5A,Middle Block Co,x\n";
constexpr std::string_view kOui36 = "Registry,Assignment,Organization Name,Organization Address\n"
                                    "MA-S,70B3D5F2F,Small Block Co,\"Polbina st., 3/1\"\n";

struct MakerCase {
    const char* name;
    const char* mac;
    const char* maker;
};

class MakerOf : public testing::TestWithParam<MakerCase> {
protected:
    static const MakerTable& table()
    {
        static const MakerTable built = [] {
            MakerTable t;
            t.addCsv(kOui);
            t.addCsv(kMam);
            t.addCsv(kOui36);
            t.seal();
            return t;
        }();
        return built;
    }
};

TEST_P(MakerOf, TakesTheLongestAssignedPrefix)
{
    EXPECT_EQ(table().makerOf(GetParam().mac), GetParam().maker);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MakerOf,
    testing::Values(MakerCase{"block_of_24_bits", "0A:1B:2C:3D:4E:5F", "Maker, Inc."},
                    MakerCase{"lower_case_mac", "0a:1b:2c:00:00:01", "Maker, Inc."},
                    MakerCase{"doubled_quotes", "00:11:22:33:44:55", "Quote \"Q\" Ltd"},
                    MakerCase{"block_of_28_bits", "70:B3:D5:A0:00:01", "Middle Block Co"},
                    MakerCase{"block_of_36_bits", "70:B3:D5:F2:F0:01", "Small Block Co"},
                    MakerCase{"outside_the_small_blocks", "70:B3:D5:F3:00:01", "IEEE Registration Authority"},
                    MakerCase{"unknown_prefix", "02:C3:D7:00:00:01", ""},
                    MakerCase{"no_mac", "0A:1B:2C", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MakerTable, HoldsEachAssignmentOnceAndEachNameOnce)
{
    MakerTable t;
    t.addCsv("MA-L,0A0000,Same Name,x\nMA-L,0B0000,Same Name,x\nMA-L,0A0000,Again,x\n");
    t.seal();
    EXPECT_EQ(t.size(), 2u);
    EXPECT_EQ(t.makerOf("0A:00:00:00:00:00"), "Same Name");
    EXPECT_LT(t.bytes(), 2 * 16 + 2 * std::string_view("Same Name").size());
}

} // namespace
} // namespace zqn::discovery
