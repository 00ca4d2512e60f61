#include "Host/Core/Flags.h"

#include <gtest/gtest.h>

namespace Corvexis {
namespace {

enum class Bit : unsigned
{
    None = 0,
    A = 1,
    B = 2,
    C = 4,
};

TEST(Flags, CombineTestAndClear)
{
    Flags<Bit> f;
    EXPECT_TRUE(f.empty());
    EXPECT_FALSE(static_cast<bool>(f));
    f |= Bit::A;
    f |= Flags<Bit>(Bit::C);
    EXPECT_TRUE(f.testFlag(Bit::A));
    EXPECT_FALSE(f.testFlag(Bit::B));
    EXPECT_TRUE(f.testFlag(Bit::C));
    EXPECT_FALSE(f.testFlag(Bit::None));  // the empty value is never "set"
    EXPECT_EQ(f.bits(), 5u);
    EXPECT_EQ(f & Flags<Bit>(Bit::C), Flags<Bit>(Bit::C));
    f.setFlag(Bit::A, false);
    EXPECT_EQ(f, Flags<Bit>(Bit::C));
    EXPECT_EQ(Flags<Bit>::fromBits(3), Flags<Bit>(Bit::A) | Flags<Bit>(Bit::B));
}

}  // namespace
}  // namespace Corvexis
