#include "Host/Core/ElementwiseDataComponentList.h"

#include <gtest/gtest.h>

#include "Host/Core/ElementwiseDataComponentData.h"
#include "Host/Core/Properties.h"
#include "Host/Core/TimestampDataComponent.h"

using namespace Corvexis;

namespace {

std::uint64_t deviceTime(const DataComponentList& list)
{
    const auto* t = list.get<TimestampDataComponent>();
    return t ? t->timestampDevice() : 0;
}

struct Frames : ElementwiseDataComponentData
{
};

}  // namespace

TEST(ElementwiseDataComponentListTest, ElementsStayAlignedThroughInsertAndErase)
{
    ElementwiseDataComponentList list;
    for (std::uint64_t t : {10u, 30u})
        list.append().emplace<TimestampDataComponent>(t, t);
    list.insert(1).emplace<TimestampDataComponent>(20u, 20u);
    list.insert(99).emplace<TimestampDataComponent>(40u, 40u);  // past the end appends
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(deviceTime(list[0]), 10u);
    EXPECT_EQ(deviceTime(list[1]), 20u);
    EXPECT_EQ(deviceTime(list[2]), 30u);
    EXPECT_EQ(deviceTime(list[3]), 40u);

    EXPECT_TRUE(list.erase(0));
    EXPECT_FALSE(list.erase(3));
    EXPECT_EQ(deviceTime(list[0]), 20u);
    EXPECT_EQ(list.at(3), nullptr);

    list.resize(5);
    EXPECT_EQ(list.size(), 5u);
    EXPECT_TRUE(list[4].empty());
}

TEST(ElementwiseDataComponentListTest, CopiesAreDeepAndConfigurationRoundTrips)
{
    Frames frames;
    frames.elementwiseComponents().append().emplace<TimestampDataComponent>(1u, 2u);
    frames.elementwiseComponents().append();  // an element without components keeps its place
    frames.elementwiseComponents().append().emplace<TimestampDataComponent>(5u, 6u);

    Frames copy = frames;
    copy.elementwiseComponents()[0].get<TimestampDataComponent>()->setTimestampDevice(100);
    EXPECT_EQ(deviceTime(frames.elementwiseComponents()[0]), 1u);

    Properties p;
    frames.elementwiseComponents().configuration(&p);
    ElementwiseDataComponentList back(7);
    back.configure(&p);
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(deviceTime(back[0]), 1u);
    EXPECT_TRUE(back[1].empty());
    EXPECT_EQ(back[2].get<TimestampDataComponent>()->timestampArrival(), 6u);
}
