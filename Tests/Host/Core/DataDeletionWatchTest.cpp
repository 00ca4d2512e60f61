#include "Host/Core/DataDeletionWatch.h"

#include <memory>

#include <gtest/gtest.h>

#include "Host/Core/PointCloud.h"

using namespace Corvexis;

TEST(DataDeletionWatch, CallsOnceWhenTheItemGoesAndNeverAfterTheWatchWent)
{
    int calls = 0;
    auto cloud = std::make_unique<PointCloud>();
    DataDeletionWatch watch(*cloud, [&] { ++calls; });
    EXPECT_FALSE(watch.dataDeleted());

    // A copy of the item carries no live watch.
    {
        PointCloud copy(*cloud);
    }
    EXPECT_EQ(calls, 0);

    cloud.reset();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(watch.dataDeleted());

    auto second = std::make_unique<PointCloud>();
    {
        DataDeletionWatch gone(*second, [&] { ++calls; });
    }
    second.reset();
    EXPECT_EQ(calls, 1);
}
