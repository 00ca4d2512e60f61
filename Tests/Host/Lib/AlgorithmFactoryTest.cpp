#include "Host/Lib/AlgorithmFactory.h"

#include <gtest/gtest.h>

#include "Host/Core/Log.h"

namespace Corvexis {
namespace {

class NoInputAlgorithm : public Algorithm
{
public:
    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
    {
        if (!inputs.empty())
            return false;
        if (algorithm != nullptr)
            *algorithm = std::make_unique<NoInputAlgorithm>();
        return true;
    }
    void compute() override { setStatus(Status::Success); }
};

class Item : public Data
{
public:
    Kind kind() const override { return Kind::Image; }
};

TEST(AlgorithmFactoryTest, EntriesCarryFullIdentifierMenuPathAndFlagsInOrder)
{
    AlgorithmFactory factory("Stream");
    EXPECT_TRUE(factory.registerAlgorithm<NoInputAlgorithm>("B", "Streaming; Fake PolyData Stream"));
    EXPECT_TRUE(factory.registerAlgorithm<NoInputAlgorithm>("A", "Record Stream", 4));
    const auto entries = factory.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].id, "Stream.B");
    EXPECT_EQ(entries[0].menuPath, "Streaming; Fake PolyData Stream");  // blank kept
    EXPECT_EQ(entries[0].flags, 0);
    EXPECT_EQ(entries[1].id, "Stream.A");
    EXPECT_EQ(entries[1].flags, 4);
    EXPECT_FALSE(factory.entry("B"));  // only the full identifier names an entry
    ASSERT_TRUE(factory.entry("Stream.A"));
}

TEST(AlgorithmFactoryTest, DuplicatesAndEmptyRegistrationsAreRefused)
{
    Log::ScopedCapture capture;
    AlgorithmFactory factory("F");
    EXPECT_TRUE(factory.registerAlgorithm<NoInputAlgorithm>("X", "One"));
    EXPECT_FALSE(factory.registerAlgorithm<NoInputAlgorithm>("X", "Two"));
    EXPECT_FALSE(factory.registerAlgorithm("", "Empty", [](const DataList&) { return nullptr; }));
    EXPECT_FALSE(factory.registerAlgorithm("Y", "No creator", nullptr));
    EXPECT_EQ(factory.entries().size(), 1u);
    EXPECT_EQ(factory.entry("F.X")->menuPath, "One");
    EXPECT_TRUE(capture->contains(Log::Level::Warning, "AlgorithmFactory", "Algorithm 'F.X' is already registered"));
}

TEST(AlgorithmFactoryTest, CreateHonoursTheInputsTheAlgorithmAccepts)
{
    AlgorithmFactory factory("F");
    factory.registerAlgorithm<NoInputAlgorithm>("X", "X");
    auto algorithm = factory.create("F.X", DataList{});
    ASSERT_TRUE(algorithm);
    EXPECT_EQ(algorithm->status(), Algorithm::Status::Unknown);
    algorithm->compute();
    EXPECT_EQ(algorithm->status(), Algorithm::Status::Success);

    Item item;
    EXPECT_FALSE(factory.create("F.X", DataList{&item}));
    EXPECT_FALSE(factory.create("F.Unknown", DataList{}));
}

}  // namespace
}  // namespace Corvexis
