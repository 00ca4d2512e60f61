#include "Host/Core/DataComponentList.h"

#include <gtest/gtest.h>

#include "Host/Core/DataComponent.h"
#include "Host/Core/DataComponentRegistry.h"
#include "Host/Core/Log.h"
#include "Host/Core/Properties.h"
#include "Host/Core/PropertiesIO.h"
#include "Host/Core/TimestampDataComponent.h"
#include "Host/Core/VitalsDataComponent.h"

using namespace Corvexis;

namespace {

class LabelComponent : public DataComponent<LabelComponent>
{
public:
    LabelComponent() = default;
    explicit LabelComponent(std::string label) : text(std::move(label)) {}
    std::string id() const override { return "LabelComponent"; }
    void configure(const Properties* p) override { p->getParam("text", text); }
    void configuration(Properties* p) const override { p->setParam("text", text); }
    std::string text;
};

class SpecialLabel : public LabelComponent
{
public:
    using LabelComponent::LabelComponent;
    // Without its own clone() a copy would slice to LabelComponent; the list must keep the type.
    std::unique_ptr<DataComponentBase> clone() const override
    {
        return std::make_unique<SpecialLabel>(*this);
    }
};

}  // namespace

TEST(DataComponentListTest, CopyClonesEveryComponentWithItsType)
{
    DataComponentList a;
    a.emplace<LabelComponent>("first");
    a.emplace<SpecialLabel>("second");
    a.emplace<TimestampDataComponent>(5u, 6u);

    DataComponentList b(a);
    ASSERT_EQ(b.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_NE(b.all()[i], a.all()[i]);
        EXPECT_EQ(typeid(*b.all()[i]), typeid(*a.all()[i]));
    }
    b.get<LabelComponent>()->text = "changed";
    EXPECT_EQ(a.get<LabelComponent>()->text, "first");

    DataComponentList c;
    c.emplace<LabelComponent>("to be replaced");
    c = a;
    EXPECT_EQ(c.size(), 3u);
    EXPECT_EQ(c.get<LabelComponent>()->text, "first");
    c = c;  // self-assignment keeps the list
    EXPECT_EQ(c.size(), 3u);

    DataComponentList moved(std::move(c));
    EXPECT_EQ(moved.size(), 3u);
}

TEST(DataComponentListTest, LookupByTypeFindsTheFirstAndDerivedTypes)
{
    DataComponentList list;
    EXPECT_EQ(list.get<LabelComponent>(), nullptr);
    EXPECT_EQ(list.add(std::unique_ptr<DataComponentBase>()), nullptr);
    EXPECT_TRUE(list.empty());

    list.emplace<SpecialLabel>("special");
    list.emplace<LabelComponent>("plain");
    EXPECT_EQ(list.get<LabelComponent>()->text, "special");
    EXPECT_EQ(list.getAll<LabelComponent>().size(), 2u);
    EXPECT_EQ(list.getAll<SpecialLabel>().size(), 1u);
    EXPECT_EQ(list.getById("LabelComponent")->id(), "LabelComponent");
    EXPECT_EQ(list.getById("Nothing"), nullptr);

    TimestampDataComponent& created = list.getOrCreate<TimestampDataComponent>();
    EXPECT_EQ(&list.getOrCreate<TimestampDataComponent>(), &created);
    EXPECT_EQ(list.size(), 3u);

    EXPECT_EQ(list.remove<LabelComponent>(), 2u);
    EXPECT_EQ(list.size(), 1u);
    EXPECT_TRUE(list.remove(&created));
    EXPECT_FALSE(list.remove(&created));
    EXPECT_TRUE(list.empty());
}

TEST(DataComponentListTest, ConfigurationRoundTripsRegisteredTypesAndSkipsUnknownOnes)
{
    DataComponentRegistry::get().registerType<LabelComponent>();
    DataComponentList list;
    list.emplace<LabelComponent>("hello \"world\"");
    list.emplace<TimestampDataComponent>(1700000000123u, 1700000000456u);
    VitalsDataComponent& vitals = list.emplace<VitalsDataComponent>();
    vitals.addTimeSeries(VitalsDataComponent::VitalsKind::Ecg,
                         {{VitalsDataComponent::TimePoint(VitalsDataComponent::Ticks(17)), 0.25}});

    Properties p("components");
    list.configuration(&p);
    p.addSubProperties("SomethingNobodyRegistered");
    std::unique_ptr<Properties> loaded = PropertiesIO::loadFromString(PropertiesIO::saveToString(p));
    ASSERT_NE(loaded, nullptr);

    DataComponentList back;
    back.emplace<LabelComponent>("dropped by configure");
    Log::ScopedCapture capture;
    back.configure(loaded.get());
    DataComponentRegistry::get().unregisterType("LabelComponent");

    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back.get<LabelComponent>()->text, "hello \"world\"");
    EXPECT_EQ(*back.get<TimestampDataComponent>(), *list.get<TimestampDataComponent>());
    EXPECT_EQ(*back.get<VitalsDataComponent>(), vitals);
    EXPECT_TRUE(
        capture->containsFragment(Log::Level::Warning, "DataComponentList", "SomethingNobodyRegistered"));
}

TEST(DataComponentListTest, RegistryKnowsTheHostTypesFromTheStart)
{
    auto& registry = DataComponentRegistry::get();
    EXPECT_TRUE(registry.isRegistered("VitalsDataComponent"));
    EXPECT_TRUE(registry.isRegistered("TimestampDataComponent"));
    EXPECT_NE(dynamic_cast<VitalsDataComponent*>(registry.create("VitalsDataComponent").get()), nullptr);
    EXPECT_EQ(registry.create("NoSuchComponent"), nullptr);
}
