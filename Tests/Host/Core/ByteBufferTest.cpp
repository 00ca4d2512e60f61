#include "Host/Core/ByteBuffer.h"

#include <cstring>
#include <numeric>
#include <vector>

#include <gtest/gtest.h>

namespace Corvexis {
namespace {

std::vector<std::uint8_t> ramp(std::size_t n)
{
    std::vector<std::uint8_t> v(n);
    std::iota(v.begin(), v.end(), std::uint8_t{0});
    return v;
}

TEST(ByteBufferTest, AppendsAcrossGrowthKeepEveryByte)
{
    const auto bytes = ramp(10000);
    ByteBuffer b;
    // Uneven pieces force several reallocations.
    for (std::size_t at = 0, piece = 1; at < bytes.size(); at += piece, piece = piece * 3 % 997 + 1)
        b.append(bytes.data() + at, std::min(piece, bytes.size() - at));
    ASSERT_EQ(b.size(), bytes.size());
    EXPECT_EQ(std::memcmp(b.data(), bytes.data(), bytes.size()), 0);
    EXPECT_GE(b.capacity(), b.size());
}

TEST(ByteBufferTest, CopyFromReplacesAndCopiesAndMovesAreIndependent)
{
    const auto bytes = ramp(300);
    ByteBuffer a;
    a.copyFrom(bytes.data(), 200);
    a.copyFrom(bytes.data() + 100, 50);
    ASSERT_EQ(a.size(), 50u);
    EXPECT_EQ(a[0], 100);

    ByteBuffer copy = a;
    copy[0] = 7;
    EXPECT_EQ(a[0], 100);
    EXPECT_FALSE(copy == a);

    ByteBuffer moved = std::move(copy);
    EXPECT_EQ(moved.size(), 50u);
    EXPECT_EQ(copy.size(), 0u);  // NOLINT(bugprone-use-after-move): a moved-from buffer is empty
    EXPECT_TRUE(copy.empty());

    ByteBuffer empty;
    empty.copyFrom(nullptr, 0);
    EXPECT_TRUE(empty.empty());
    EXPECT_TRUE(empty == ByteBuffer{});
}

TEST(ByteBufferTest, ResizeKeepsPrefixAndSubviewsClip)
{
    const auto bytes = ramp(64);
    ByteBuffer b;
    b.copyFrom(bytes.data(), bytes.size());
    b.resize(16);
    b.resize(40);
    EXPECT_EQ(std::memcmp(b.data(), bytes.data(), 16), 0);

    const ByteBufferView v = b.view();
    EXPECT_EQ(v.subview(10, 4).size(), 4u);
    EXPECT_EQ(v.subview(10, 4)[0], 10);
    EXPECT_EQ(v.subview(38).size(), 2u);
    EXPECT_TRUE(v.subview(40).empty());
    EXPECT_TRUE(v.subview(1000, 3).empty());
}

}  // namespace
}  // namespace Corvexis
