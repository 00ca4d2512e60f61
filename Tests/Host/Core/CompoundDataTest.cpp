#include "Host/Core/CompoundData.h"

#include <gtest/gtest.h>

#include "Host/Core/Selectable.h"

using namespace Corvexis;

namespace {

class Item : public Data
{
public:
    using Data::Data;
    Kind kind() const override { return Kind::ImageStream; }
};

// A compound item as a stream group is one: a Data and a CompoundData at once.
class Group : public Item, public CompoundData
{
public:
    using Item::Item;
    Kind kind() const override { return Kind::TrackingStream; }
};

class Frames : public Selectable
{
public:
    int size() const override { return 3; }
};

}  // namespace

TEST(CompoundDataTest, ContentsAreUniqueAndInInsertionOrder)
{
    Group group("group");
    Item a("a"), b("b");
    EXPECT_TRUE(group.addContent(&a));
    EXPECT_TRUE(group.addContent(&b));
    EXPECT_FALSE(group.addContent(&a));
    EXPECT_FALSE(group.addContent(nullptr));
    EXPECT_EQ(group.containedData().items(), (std::vector<Data*>{&a, &b}));
    EXPECT_TRUE(group.removeContent(&a));
    EXPECT_FALSE(group.removeContent(&a));
    EXPECT_EQ(group.contentCount(), 1u);

    Data* asData = &group;
    auto* compound = dynamic_cast<CompoundData*>(asData);
    ASSERT_NE(compound, nullptr);
    EXPECT_TRUE(compound->containsContent(&b));

    Group moved(std::move(group));
    EXPECT_EQ(moved.contentCount(), 1u);
}

TEST(CompoundDataTest, SelectableNormalisesSelectionAndChecksFocus)
{
    Frames frames;
    EXPECT_EQ(frames.focus(), 0);
    EXPECT_TRUE(frames.hasValidFocus());
    frames.setFocus(3);
    EXPECT_FALSE(frames.hasValidFocus());
    frames.setFocus(-1);
    EXPECT_FALSE(frames.hasValidFocus());
    frames.setFocus(2);
    EXPECT_TRUE(frames.hasValidFocus());

    frames.setSelection({2, -4, 0, 2, 1});
    EXPECT_EQ(frames.selection(), (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(frames.isSelected(1));
    EXPECT_FALSE(frames.isSelected(-4));

    Frames copy = frames;
    EXPECT_EQ(copy.focus(), 2);
    EXPECT_EQ(copy.selection().size(), 3u);
}
