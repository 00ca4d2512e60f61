#include "Host/Lib/FactoryRegistry.h"

#include <gtest/gtest.h>

#include "Host/Lib/AlgorithmControllerFactory.h"
#include "Host/Lib/CorvexisLibPlugin.h"
#include "Host/Lib/DefaultAlgorithmController.h"

namespace Corvexis {
namespace {

class CountingAlgorithm : public Algorithm
{
public:
    CountingAlgorithm()
    {
        registerAction("bump", "Bump", [this] { return ++bumps < 3; });
    }
    void compute() override
    {
        ++computes;
        setStatus(computes == 1 ? Status::Success : Status::Error);
    }
    int computes = 0;
    int bumps = 0;
};

class SpecialAlgorithm : public CountingAlgorithm
{
};

class SpecialController : public AlgorithmController
{
public:
    using AlgorithmController::AlgorithmController;
    std::string controllerName() const override { return "SpecialController"; }
};

class SpecialControllerFactory : public AlgorithmControllerFactory
{
public:
    SpecialControllerFactory()
    {
        registerMenuEntry("Z;Last");
        registerMenuEntry("A;First");
        registerMenuEntry("A;First");
    }
    std::unique_ptr<AlgorithmController> create(Algorithm* algorithm) const override
    {
        if (dynamic_cast<SpecialAlgorithm*>(algorithm) == nullptr)
            return nullptr;
        return std::make_unique<SpecialController>(algorithm);
    }
};

class ItemAnnotations : public DataAnnotationFactory
{
public:
    std::optional<DataAnnotation> annotate(const Data& data) const override
    {
        if (data.kind() != Data::Kind::Mesh)
            return std::nullopt;
        return DataAnnotation{"A mesh", "IconMesh.png", {}};
    }
};

class Mesh : public Data
{
public:
    Kind kind() const override { return Kind::Mesh; }
};

class TestPlugin : public CorvexisLibPlugin
{
public:
    std::string author() const override { return "Tests"; }
    std::string description() const override { return "Registry tests"; }
    Status init() override
    {
        auto algorithms = std::make_unique<AlgorithmFactory>("Reg");
        algorithms->registerAlgorithm("Zeta", "Z", [](const DataList&) { return std::make_unique<CountingAlgorithm>(); });
        algorithms->registerAlgorithm("Alpha", "A",
                                      [](const DataList&) { return std::make_unique<SpecialAlgorithm>(); });
        registerFactories(std::make_unique<ItemAnnotations>(), std::make_unique<SpecialControllerFactory>(),
                          std::move(algorithms));
        return Status::Success;
    }
};

TEST(FactoryRegistryTest, PluginFactoriesAreVisibleWhileThePluginLives)
{
    auto& registry = FactoryRegistry::get();
    Mesh mesh;
    {
        TestPlugin plugin;
        ASSERT_EQ(plugin.init(), PluginBase::Status::Success);
        const auto all = registry.algorithmDescriptors();
        ASSERT_EQ(all.size(), 2u);
        EXPECT_EQ(all[0].id, "Reg.Alpha");  // sorted by identifier
        EXPECT_EQ(all[1].id, "Reg.Zeta");
        EXPECT_EQ(all[1].factoryName, "Reg");
        auto descriptor = registry.algorithmDescriptor("Reg.Zeta");
        ASSERT_TRUE(descriptor);
        EXPECT_EQ(descriptor->menuPath, "Z");
        EXPECT_TRUE(descriptor->create(DataList{}));
        EXPECT_EQ(registry.controllerMenuEntries(), (std::vector<std::string>{"A;First", "Z;Last"}));
        ASSERT_TRUE(registry.annotate(mesh));
        EXPECT_EQ(registry.annotate(mesh)->icon, "IconMesh.png");

        // Initialising again replaces the factories instead of registering them twice.
        ASSERT_EQ(plugin.init(), PluginBase::Status::Success);
        EXPECT_EQ(registry.algorithmDescriptors().size(), 2u);
    }
    EXPECT_TRUE(registry.algorithmDescriptors().empty());
    EXPECT_FALSE(registry.algorithmDescriptor("Reg.Zeta"));
    EXPECT_TRUE(registry.controllerMenuEntries().empty());
    EXPECT_FALSE(registry.annotate(mesh));
}

TEST(FactoryRegistryTest, ControllersComeFromTheFactoryOrTheDefault)
{
    TestPlugin plugin;
    plugin.init();
    auto& registry = FactoryRegistry::get();
    EXPECT_FALSE(registry.createController(nullptr));

    auto special = registry.algorithmDescriptor("Reg.Alpha")->create(DataList{});
    auto controller = registry.createController(special.get());
    ASSERT_TRUE(controller);
    EXPECT_EQ(controller->controllerName(), "SpecialController");
    EXPECT_EQ(controller->algorithm(), special.get());

    auto plain = registry.algorithmDescriptor("Reg.Zeta")->create(DataList{});
    auto fallback = registry.createController(plain.get());
    ASSERT_TRUE(fallback);
    EXPECT_EQ(fallback->controllerName(), "DefaultAlgorithmController");
}

TEST(FactoryRegistryTest, DefaultControllerOffersComputeAndTheAlgorithmsActions)
{
    CountingAlgorithm algorithm;
    DefaultAlgorithmController controller(&algorithm);
    const auto actions = controller.actions();
    ASSERT_EQ(actions.size(), 2u);
    EXPECT_EQ(actions[0].id, "compute");
    EXPECT_EQ(actions[1].id, "bump");
    EXPECT_EQ(actions[1].label, "Bump");

    EXPECT_TRUE(controller.runAction("compute"));
    EXPECT_FALSE(controller.runAction("compute"));  // the second compute reports an error
    EXPECT_EQ(algorithm.computes, 2);
    EXPECT_TRUE(controller.runAction("bump"));
    EXPECT_TRUE(controller.runAction("bump"));
    EXPECT_FALSE(controller.runAction("bump"));
    EXPECT_EQ(algorithm.bumps, 3);
    EXPECT_FALSE(controller.runAction("unknown"));
}

}  // namespace
}  // namespace Corvexis
