#include "plane-size.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstddef>

namespace {

// The largest inputs whose planes still fit, and the first that do not, for a
// 32-bit and a 64-bit length: 12 * floor(len / 8) must not pass the type's maximum.
TEST(PlaneSize, ThirtyTwoBitLengthsStopAtTheLastRepresentablePlane)
{
    std::int32_t outlen = -1;
    ASSERT_TRUE(rowPlaneLength<std::int32_t>(1431655767, outlen));  // 178956970 blocks and 7 bytes
    EXPECT_EQ(outlen, 2147483640);
    EXPECT_FALSE(rowPlaneLength<std::int32_t>(1431655768, outlen));
    EXPECT_FALSE(rowPlaneLength<std::int32_t>(2147483647, outlen));
}

TEST(PlaneSize, SixtyFourBitLengthsStopAtTheLastRepresentablePlane)
{
    std::int64_t outlen = -1;
    ASSERT_TRUE(rowPlaneLength<std::int64_t>(6148914691236517207LL, outlen));
    EXPECT_EQ(outlen, 9223372036854775800LL);
    EXPECT_FALSE(rowPlaneLength<std::int64_t>(6148914691236517208LL, outlen));
    EXPECT_FALSE(rowPlaneLength<std::int64_t>(INT64_MAX, outlen));
}

TEST(PlaneSize, SmallLengthsCountWholeBlocksOnly)
{
    const std::ptrdiff_t lengths[] = {0, 7, 8, 15, 20, 4096};
    const std::ptrdiff_t planes[] = {0, 0, 12, 12, 24, 6144};
    for (int i = 0; i < 6; ++i) {
        std::ptrdiff_t outlen = -1;
        ASSERT_TRUE(rowPlaneLength(lengths[i], outlen));
        EXPECT_EQ(outlen, planes[i]) << "len " << lengths[i];
    }
}

} // namespace
