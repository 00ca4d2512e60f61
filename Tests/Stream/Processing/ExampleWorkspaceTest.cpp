// examples/smooth-simulated.workspace, run step by step as a host would: every step's algorithm exists,
// accepts its configuration, and the chain delivers smoothed frames with the spacing attached.
#include <gtest/gtest.h>

#include <string>

#include "Host/Core/PropertiesIO.h"
#include "Host/Lib/FactoryRegistry.h"
#include "Host/Lib/HostAlgorithmFactory.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/Framework/ImageStream.h"
#include "Stream/Processing/TestProcessors.h"
#include "Stream/StreamAlgorithmFactory.h"
#include "Support/TestUtil.h"

namespace Corvexis {
namespace {

using Test::RecordCollector;
using Test::waitUntil;

TEST(ExampleWorkspaceTest, SmoothSimulatedRunsAsWritten)
{
    std::string error;
    auto workspace = PropertiesIO::loadFromFile(
        std::string(CORVEXIS_SOURCE_DIR) + "/examples/smooth-simulated.workspace", &error);
    ASSERT_TRUE(workspace) << error;
    const auto steps = workspace->subPropertiesList("Step");
    ASSERT_EQ(steps.size(), 3u);

    StreamAlgorithmFactory streamAlgorithms;
    FactoryRegistry::get().registerAlgorithmFactory(&streamAlgorithms);
    HostAlgorithmFactory::Registration hostAlgorithms;

    std::vector<std::unique_ptr<Algorithm>> algorithms;
    std::vector<std::unique_ptr<Data>> outputs;
    Stream* previous = nullptr;
    for (const Properties* step : steps) {
        const std::string id = step->param("algorithm", "");
        SCOPED_TRACE(id);
        auto descriptor = FactoryRegistry::get().algorithmDescriptor(id);
        ASSERT_TRUE(descriptor);
        DataList inputs;
        if (previous != nullptr)
            inputs.add(previous);
        auto algorithm = descriptor->create(inputs);
        ASSERT_TRUE(algorithm);
        algorithm->configure(step->subProperties("Configuration"));
        algorithm->compute();
        ASSERT_EQ(algorithm->status(), Algorithm::Status::Success);
        OwningDataList out = algorithm->takeOutput();
        ASSERT_EQ(out.size(), 1u);
        previous = dynamic_cast<Stream*>(out[0]);
        ASSERT_NE(previous, nullptr);
        for (auto& item : out.takeAll())
            outputs.push_back(std::move(item));
        algorithms.push_back(std::move(algorithm));
    }

    // The adapted stream is the last output; starting it runs the chain from the simulated source.
    Stream* spaced = previous;
    RecordCollector records(*spaced);
    ASSERT_TRUE(spaced->open());
    ASSERT_TRUE(spaced->start());
    ASSERT_TRUE(waitUntil([&] { return records.count() >= 3; }));
    ASSERT_TRUE(spaced->stop());
    const auto image = records.records().back()->images().front();
    EXPECT_EQ(image->width(), 640);
    EXPECT_EQ(image->height(), 480);
    EXPECT_EQ(image->pixelType(), ImageDescriptor::kUByte);
    EXPECT_EQ(image->spacing(), Eigen::Vector3d(0.2, 0.2, 1.0));
    EXPECT_TRUE(image->isMetric());

    // Streams go before the algorithms that feed them, then the plug-in's table.
    for (auto it = outputs.rbegin(); it != outputs.rend(); ++it)
        it->reset();
    algorithms.clear();
    FactoryRegistry::get().unregisterAlgorithmFactory(&streamAlgorithms);
}

}  // namespace
}  // namespace Corvexis
