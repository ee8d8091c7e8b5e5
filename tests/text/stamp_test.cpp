#include "text/stamp.h"

#include <gtest/gtest.h>

namespace zqn::text {
namespace {

TEST(Stamp, ZeroPaddedWithFixedSeparators)
{
    const LocalDateTime t{2024, 5, 1, 9, 5, 3};
    EXPECT_EQ(dateText(t), "2024/05/01");
    EXPECT_EQ(timeText(t), "09:05:03");
    EXPECT_EQ(stampText(t), "2024/05/01 09:05:03");
    EXPECT_EQ(stampText({1999, 12, 31, 23, 59, 59}), "1999/12/31 23:59:59");
}

} // namespace
} // namespace zqn::text
