#include "Host/Core/DataList.h"

#include <gtest/gtest.h>

#include "Host/Core/OwningDataList.h"

using namespace Corvexis;

namespace {

class ImageItem : public Data
{
public:
    using Data::Data;
    Kind kind() const override { return Kind::Image; }
};

class StreamItem : public Data
{
public:
    using Data::Data;
    explicit StreamItem(std::string name, bool* destroyed) : Data(std::move(name)), destroyed_(destroyed) {}
    ~StreamItem() override
    {
        if (destroyed_)
            *destroyed_ = true;
    }
    Kind kind() const override { return Kind::TrackingStream; }

private:
    bool* destroyed_ = nullptr;
};

}  // namespace

TEST(DataListTest, BorrowedListFiltersByTypeAndKind)
{
    ImageItem a("a"), b("b");
    StreamItem s("s");
    DataList list{&a, nullptr, &s, &b};
    ASSERT_EQ(list.size(), 3u);  // null is never stored
    EXPECT_EQ(list[1], &s);
    EXPECT_EQ(list[3], nullptr);
    EXPECT_EQ(list.get<ImageItem>(), (std::vector<ImageItem*>{&a, &b}));
    EXPECT_EQ(list.first<StreamItem>(), &s);
    EXPECT_EQ(list.ofKind(Data::Kind::Image).size(), 2u);
    EXPECT_TRUE(list.contains(&b));
    EXPECT_FALSE(list.contains(nullptr));
    EXPECT_TRUE(list.remove(&a));
    EXPECT_FALSE(list.remove(&a));
    EXPECT_EQ(list.first<ImageItem>(), &b);
}

TEST(DataListTest, OwningListHandsItemsOverOrDestroysThem)
{
    bool destroyed = false;
    {
        OwningDataList owning(std::make_unique<ImageItem>("image"));
        owning.add(std::make_unique<StreamItem>("stream", &destroyed));
        EXPECT_EQ(owning.add(nullptr), nullptr);
        ASSERT_EQ(owning.size(), 2u);
        EXPECT_EQ(owning.dataList().first<StreamItem>(), owning[1]);

        OwningDataList other;
        other.add(std::make_unique<ImageItem>("second image"));
        owning.append(std::move(other));
        EXPECT_TRUE(other.empty());
        EXPECT_EQ(owning.size(), 3u);

        std::unique_ptr<ImageItem> image = owning.takeFirst<ImageItem>();
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->name(), "image");
        EXPECT_EQ(owning[0]->name(), "stream");
        EXPECT_EQ(owning.take(5), nullptr);
        EXPECT_FALSE(destroyed);
    }
    EXPECT_TRUE(destroyed);

    destroyed = false;
    std::vector<std::unique_ptr<Data>> kept;
    {
        OwningDataList owning;
        owning.add(std::make_unique<StreamItem>("kept", &destroyed));
        kept = owning.takeAll();
        EXPECT_TRUE(owning.empty());
    }
    EXPECT_FALSE(destroyed);
    ASSERT_EQ(kept.size(), 1u);
}
