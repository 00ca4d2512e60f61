#include "Host/Lib/Selection.h"

#include <gtest/gtest.h>

namespace Corvexis {
namespace {

TEST(Selection, FirstLastSkipSelectsEveryStepIncludingLast)
{
    const auto s = Selection::fromFirstLastSkip(3, 9, 2);
    EXPECT_EQ(s.indices(), (std::vector<int>{3, 6, 9}));
    EXPECT_EQ(s.first(), 3);
    EXPECT_EQ(s.last(), 9);
    EXPECT_EQ(s.skip(), 2);
    EXPECT_EQ(s.toString(), "3-9 skip 2");
    // The last index is only included when the step lands on it.
    EXPECT_EQ(Selection::fromFirstLastSkip(0, 10, 3).indices(), (std::vector<int>{0, 4, 8}));
    EXPECT_EQ(Selection::fromFirstLastSkip(5, 5).indices(), (std::vector<int>{5}));
    EXPECT_EQ(Selection::fromFirstLastSkip(0, 4, 0).count(), 5);
    EXPECT_EQ(Selection::fromFirstLastSkip(0, 4, -3).count(), 5);
}

TEST(Selection, InvalidRangesAreEmpty)
{
    EXPECT_TRUE(Selection::fromFirstLastSkip(5, 4).isEmpty());
    EXPECT_TRUE(Selection::fromFirstLastSkip(-1, 4).isEmpty());
    EXPECT_TRUE(Selection().isEmpty());
    EXPECT_EQ(Selection().first(), -1);
    EXPECT_EQ(Selection().last(), -1);
    EXPECT_EQ(Selection().skip(), 0);
    EXPECT_EQ(Selection().nextSelected(0), -1);
    EXPECT_EQ(Selection().toString(), "none");
    // A range ending at the largest index does not overflow.
    const auto top = Selection::fromFirstLastSkip(2147483640, 2147483647, 3);
    EXPECT_EQ(top.indices(), (std::vector<int>{2147483640, 2147483644}));
}

TEST(Selection, ExplicitIndicesAreSortedUniqueAndNonNegative)
{
    const Selection s({7, 3, 4, 3, -1});
    EXPECT_EQ(s.indices(), (std::vector<int>{3, 4, 7}));
    EXPECT_TRUE(s.isSelected(4));
    EXPECT_FALSE(s.isSelected(5));
    EXPECT_EQ(s.skip(), 0);  // uneven gaps
    EXPECT_EQ(s.toString(), "3, 4, 7");
    EXPECT_EQ(Selection({2, 4, 6}).skip(), 1);
    EXPECT_EQ(Selection({2, 4, 6}), Selection::fromFirstLastSkip(2, 6, 1));
    EXPECT_NE(Selection({2, 4}), Selection({2, 5}));
}

// What a player stepping through a selection uses: the next selected frame, and wrapping at the end.
TEST(Selection, NextSelectedAndClamping)
{
    const Selection s({3, 4, 7});
    EXPECT_EQ(s.nextSelected(0), 3);
    EXPECT_EQ(s.nextSelected(4), 4);
    EXPECT_EQ(s.nextSelected(5), 7);
    EXPECT_EQ(s.nextSelected(8), -1);
    EXPECT_EQ(s.clampedTo(7).indices(), (std::vector<int>{3, 4}));
    EXPECT_TRUE(s.clampedTo(0).isEmpty());
    EXPECT_TRUE(s.clampedTo(-5).isEmpty());
    EXPECT_EQ(s.clampedTo(100), s);
}

}  // namespace
}  // namespace Corvexis
