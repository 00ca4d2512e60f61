#include "Host/Lib/DataDisplayHandlerFactory.h"

#include <gtest/gtest.h>

#include "Host/Core/Data.h"
#include "Host/Lib/DataDisplay.h"
#include "Host/Lib/DataDisplayHandler.h"

namespace Corvexis {
namespace {

class Item : public Data
{
public:
    explicit Item(Kind kind) : kind_(kind) {}
    Kind kind() const override { return kind_; }

private:
    Kind kind_;
};

class CountingDisplay : public DataDisplay
{
public:
    explicit CountingDisplay(Data& data) : data_(data) {}
    Data& data() const override { return data_; }
    void startWatching() override {}
    void stopWatching() override {}
    std::string statusLine() const override { return "line"; }
    std::vector<std::string> summary() const override { return {}; }
    bool snapshot(const std::string&, std::vector<std::string>*, std::string*) override { return true; }

private:
    Data& data_;
};

class KindHandler : public DataDisplayHandler
{
public:
    explicit KindHandler(Data::Kind kind) : kind_(kind) {}
    bool canShow(const Data& data) const override { return data.kind() == kind_; }
    std::unique_ptr<DataDisplay> createDisplay(Data& data) const override
    {
        return std::make_unique<CountingDisplay>(data);
    }

private:
    Data::Kind kind_;
};

TEST(DataDisplayHandlerFactoryTest, FirstRegisteredHandlerThatShowsTheItemWins)
{
    auto& registry = DataDisplayHandlerFactory::get();
    KindHandler images(Data::Kind::ImageStream);
    KindHandler alsoImages(Data::Kind::ImageStream);
    KindHandler tracking(Data::Kind::TrackingStream);
    ASSERT_TRUE(registry.registerHandler("test.images", &images));
    ASSERT_TRUE(registry.registerHandler("test.alsoImages", &alsoImages));
    ASSERT_TRUE(registry.registerHandler("test.tracking", &tracking));
    EXPECT_FALSE(registry.registerHandler("test.images", &tracking));  // the name is taken
    EXPECT_FALSE(registry.registerHandler("", &tracking));
    EXPECT_FALSE(registry.registerHandler("test.null", nullptr));
    EXPECT_EQ(registry.handler("test.tracking"), &tracking);

    Item image(Data::Kind::ImageStream);
    Item mesh(Data::Kind::Mesh);
    auto [display, name] = registry.createDisplay(image);
    ASSERT_TRUE(display);
    EXPECT_EQ(name, "test.images");
    EXPECT_EQ(&display->data(), &image);
    EXPECT_TRUE(display->requests().empty());
    EXPECT_FALSE(display->request("start"));
    EXPECT_FALSE(registry.createDisplay(mesh).first);

    registry.unregisterHandler(&images);
    EXPECT_EQ(registry.createDisplay(image).second, "test.alsoImages");
    registry.unregisterHandler(&alsoImages);
    registry.unregisterHandler(&tracking);
    EXPECT_TRUE(registry.names().empty());
}

}  // namespace
}  // namespace Corvexis
