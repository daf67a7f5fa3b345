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

TEST(PlaneSize, RgbaPlanesOfSixteenBytesABlockStopEarlier)
{
    std::int32_t outlen = -1;
    ASSERT_TRUE((planeLength<16, std::int32_t>(1073741823, outlen)));  // 134217727 blocks and 7 bytes
    EXPECT_EQ(outlen, 2147483632);
    EXPECT_FALSE((planeLength<16, std::int32_t>(1073741824, outlen)));
    std::int64_t outlen64 = -1;
    ASSERT_TRUE((planeLength<16, std::int64_t>(4611686018427387903LL, outlen64)));
    EXPECT_EQ(outlen64, 9223372036854775792LL);
    EXPECT_FALSE((planeLength<16, std::int64_t>(4611686018427387904LL, outlen64)));
    std::ptrdiff_t small = -1;
    ASSERT_TRUE(planeLength<16>(std::ptrdiff_t(20), small));
    EXPECT_EQ(small, 32);
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

TEST(PlaneSize, SixteenByteBlocksCountTheirOwnWholeBlocks)
{
    // BC2 and BC3 (16 plane bytes a 16-byte block), BC5 (8), BC4 (4 an 8-byte block).
    std::int32_t outlen = -1;
    ASSERT_TRUE(planeLength<std::int32_t>(2147483647, 16, 16, outlen));
    EXPECT_EQ(outlen, 2147483632);
    ASSERT_TRUE(planeLength<std::int32_t>(47, 16, 8, outlen));
    EXPECT_EQ(outlen, 16);
    ASSERT_TRUE(planeLength<std::int32_t>(15, 16, 16, outlen));
    EXPECT_EQ(outlen, 0);
    ASSERT_TRUE(planeLength<std::int32_t>(2147483647, 8, 4, outlen));
    EXPECT_EQ(outlen, 1073741820);
}

} // namespace
