#include "storage/cp932_codec.h"

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

} // namespace
} // namespace zqn::storage
