#include "storage/cp932_codec.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <gtest/gtest.h>

namespace zqn::storage {
namespace {

struct ExactCase {
    const char* name;
    QString text;
    std::optional<std::string> bytes;
};

class ToCp932Exactly : public testing::TestWithParam<ExactCase> {};

TEST_P(ToCp932Exactly, GivesTheBytesOrNothing)
{
    EXPECT_EQ(toCp932Exactly(GetParam().text), GetParam().bytes);
    if (GetParam().bytes) {
        EXPECT_EQ(fromCp932(*GetParam().bytes), GetParam().text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToCp932Exactly,
    testing::Values(ExactCase{"empty", QString(), std::string()},
                    ExactCase{"trail_byte_5c", QStringLiteral("表\\a"), std::string("\x95\x5C\x5C" "a")},
                    ExactCase{"fullwidth_tilde", QStringLiteral("～"), std::string("\x81\x60")},
                    ExactCase{"half_width_katakana", QStringLiteral("ｱ"), std::string("\xB1")},
                    // What a Japanese input method types on Linux; code page 932 has only U+FF5E.
                    ExactCase{"wave_dash", QStringLiteral("a〜"), std::nullopt},
                    ExactCase{"accented_latin", QStringLiteral("café"), std::nullopt},
                    ExactCase{"emoji", QStringLiteral("😀"), std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// Each byte below 0x80, alone and between two-byte characters, both ways, as the code page's own
// converter has it.
TEST(Cp932Codec, SingleBytesAsTheConverterHasThem)
{
    for (int byte = 0; byte < 0x80; ++byte) {
        for (const std::string& bytes : {std::string(1, char(byte)), "\x95\x5C" + std::string(1, char(byte)) + "\x81\x60"}) {
            const QString text = QStringDecoder("windows-31j")(QByteArray::fromStdString(bytes));
            EXPECT_EQ(fromCp932(bytes), text) << byte;
            EXPECT_EQ(toCp932(text), bytes) << byte;
            EXPECT_EQ(QByteArray::fromStdString(toCp932(text)), QByteArray(QStringEncoder("windows-31j")(text))) << byte;
        }
    }
}

} // namespace
} // namespace zqn::storage
