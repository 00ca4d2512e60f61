#include "Stream/Framework/CreateStreamIoAlgorithm.h"

#include <atomic>
#include <stdexcept>

#include <gtest/gtest.h>

#include "Host/Core/Log.h"
#include "Host/Core/Parameter.h"
#include "Stream/Framework/TestStreams.h"

namespace Corvexis {
namespace {

std::atomic<int> gLiveStreams{0};
std::atomic<bool> gFailOpen{false};
std::atomic<bool> gFailStart{false};
std::atomic<bool> gThrowOnConstruction{false};

class DefaultStream : public Test::ScriptedStream
{
public:
    DefaultStream() : ScriptedStream("Default Stream", ThreadingMode::NoWorkerThread)
    {
        if (gThrowOnConstruction)
            throw std::runtime_error("no device");
        openResult = !gFailOpen;
        startResult = !gFailStart;
        ++gLiveStreams;
    }
    ~DefaultStream() override { --gLiveStreams; }

    Parameter<int> frameRate{"frameRate", 30, this};
};

using OpenAndStart = CreateStreamIoAlgorithm<DefaultStream, true, true>;
using OpenOnly = CreateStreamIoAlgorithm<DefaultStream, true, false>;

class CreateStreamIoAlgorithmTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        gFailOpen = gFailStart = gThrowOnConstruction = false;
    }
    void TearDown() override { EXPECT_EQ(gLiveStreams, 0); }
};

TEST_F(CreateStreamIoAlgorithmTest, CreatedOnlyForAnEmptyInputList)
{
    std::unique_ptr<Algorithm> algorithm;
    DefaultStream other;
    EXPECT_FALSE(OpenAndStart::createCompatible(DataList{&other}, &algorithm));
    EXPECT_FALSE(algorithm);
    EXPECT_TRUE(OpenAndStart::createCompatible(DataList{}, nullptr));
    EXPECT_TRUE(OpenAndStart::createCompatible(DataList{}, &algorithm));
    EXPECT_TRUE(dynamic_cast<OpenAndStart*>(algorithm.get()));
}

TEST_F(CreateStreamIoAlgorithmTest, WithoutConfigurationTheStreamRuns)
{
    OpenAndStart algorithm;
    EXPECT_EQ(algorithm.stream(), nullptr);
    algorithm.compute();
    EXPECT_EQ(algorithm.status(), Algorithm::Status::Success);
    ASSERT_NE(algorithm.stream(), nullptr);
    EXPECT_EQ(algorithm.stream()->currentState(), Stream::State::Running);
}

TEST_F(CreateStreamIoAlgorithmTest, OpenOnlyDefaultLeavesTheStreamOpen)
{
    OpenOnly algorithm;
    algorithm.compute();
    EXPECT_EQ(algorithm.status(), Algorithm::Status::Success);
    EXPECT_EQ(algorithm.stream()->currentState(), Stream::State::Open);
}

TEST_F(CreateStreamIoAlgorithmTest, FlagKeysAndTheirFallbacks)
{
    struct Case
    {
        std::vector<std::pair<std::string, bool>> keys;
        Stream::State expected;
    };
    const std::vector<Case> cases{
        {{{"autoOpen", false}}, Stream::State::Closed},
        {{{"connect", false}}, Stream::State::Closed},
        {{{"open", true}, {"autoOpen", false}}, Stream::State::Running},  // "open" wins
        {{{"autoOpen", true}, {"connect", false}}, Stream::State::Running},
        {{{"start", false}}, Stream::State::Open},
        {{{"autoStart", false}}, Stream::State::Open},
        {{{"start", true}, {"autoStart", false}}, Stream::State::Running},
        {{{"open", false}, {"start", true}}, Stream::State::Closed},  // nothing is started unopened
    };
    for (const auto& c : cases) {
        OpenAndStart algorithm;
        Properties p;
        for (const auto& [key, value] : c.keys)
            p.setParam(key, value);
        algorithm.configure(&p);
        algorithm.compute();
        EXPECT_EQ(algorithm.status(), Algorithm::Status::Success);
        ASSERT_NE(algorithm.stream(), nullptr);
        EXPECT_EQ(algorithm.stream()->currentState(), c.expected);
    }
}

TEST_F(CreateStreamIoAlgorithmTest, AbsentKeysKeepTheFlagsAndMalformedOnesToo)
{
    OpenOnly algorithm;
    Properties first;
    first.setParam("start", true);
    algorithm.configure(&first);
    Properties second;
    second.setParam("frameRate", 10);
    second.setParamText("open", "maybe");
    algorithm.configure(&second);
    EXPECT_TRUE(algorithm.opensStream());
    EXPECT_TRUE(algorithm.startsStream());
}

TEST_F(CreateStreamIoAlgorithmTest, FailingOpenOrStartReportsStatusOne)
{
    {
        gFailOpen = true;
        OpenAndStart algorithm;
        algorithm.compute();
        EXPECT_EQ(static_cast<int>(algorithm.status()), 1);
        EXPECT_EQ(algorithm.stream()->currentState(), Stream::State::Closed);
    }
    {
        gFailOpen = false;
        gFailStart = true;
        OpenAndStart algorithm;
        algorithm.compute();
        EXPECT_EQ(algorithm.status(), Algorithm::Status::Error);
        EXPECT_EQ(algorithm.stream()->currentState(), Stream::State::Open);
    }
}

TEST_F(CreateStreamIoAlgorithmTest, ConstructionFailureIsLoggedAndReported)
{
    Log::ScopedCapture capture;
    gThrowOnConstruction = true;
    OpenAndStart algorithm;
    algorithm.compute();
    EXPECT_EQ(algorithm.status(), Algorithm::Status::Error);
    EXPECT_EQ(algorithm.stream(), nullptr);
    EXPECT_TRUE(
        capture->contains(Log::Level::Error, "CreateStreamIoAlgorithm", "Could not instantiate a new Stream: no device"));
    EXPECT_TRUE(algorithm.takeOutput().empty());
}

TEST_F(CreateStreamIoAlgorithmTest, ComputingTwiceBeforeTakingReplacesTheStream)
{
    OpenAndStart algorithm;
    algorithm.compute();
    EXPECT_EQ(gLiveStreams, 1);
    algorithm.compute();
    EXPECT_EQ(gLiveStreams, 1);  // the first was released
    ASSERT_NE(algorithm.stream(), nullptr);
    EXPECT_EQ(algorithm.stream()->currentState(), Stream::State::Running);
}

TEST_F(CreateStreamIoAlgorithmTest, OutputIsTakenOnceAndItsDestructionResetsTheAlgorithm)
{
    OpenAndStart algorithm;
    algorithm.compute();
    Stream* created = algorithm.stream();
    OwningDataList output = algorithm.takeOutput();
    ASSERT_EQ(output.size(), 1u);
    EXPECT_EQ(output[0], created);
    EXPECT_TRUE(algorithm.isOutputTaken());
    EXPECT_TRUE(algorithm.takeOutput().empty());
    EXPECT_EQ(algorithm.stream(), created);  // still known, now owned by the host

    // A new computation after the hand-over leaves the host's stream alone.
    algorithm.compute();
    EXPECT_EQ(gLiveStreams, 2);
    EXPECT_FALSE(algorithm.isOutputTaken());
    Stream* second = algorithm.stream();
    EXPECT_NE(second, created);
    // The first stream going does not reset the algorithm's current one.
    output.clear();
    EXPECT_EQ(algorithm.stream(), second);

    OwningDataList secondOutput = algorithm.takeOutput();
    ASSERT_EQ(secondOutput.size(), 1u);
    secondOutput.clear();
    EXPECT_EQ(algorithm.stream(), nullptr);
}

TEST_F(CreateStreamIoAlgorithmTest, StreamOutlivingTheAlgorithmIsSafe)
{
    OwningDataList output;
    {
        OpenAndStart algorithm;
        algorithm.compute();
        output = algorithm.takeOutput();
    }
    ASSERT_EQ(output.size(), 1u);
    output.clear();
}

TEST_F(CreateStreamIoAlgorithmTest, ConfigurationRoundTripsThroughTheStreamOrTheStoredCopy)
{
    OpenOnly algorithm;
    // Before any configuration, a fresh stream's defaults: settings given on top change only their keys.
    Properties none;
    algorithm.configuration(&none);
    EXPECT_EQ(none.param("frameRate", 0), 30);
    EXPECT_EQ(none.subProperties("Extra"), nullptr);

    Properties given;
    given.setParam("frameRate", 12);
    given.addSubProperties("Extra")->setParam("x", 1);
    algorithm.configure(&given);
    Properties stored;
    algorithm.configuration(&stored);
    EXPECT_EQ(stored.param("frameRate", 0), 12);
    ASSERT_NE(stored.subProperties("Extra"), nullptr);

    algorithm.compute();
    auto* stream = dynamic_cast<DefaultStream*>(algorithm.stream());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->frameRate.value(), 12);  // the stored configuration reached the new stream

    Properties update;
    update.setParam("frameRate", 25);
    algorithm.configure(&update);
    EXPECT_EQ(stream->frameRate.value(), 25);  // an existing stream is configured at once
    Properties fromStream;
    algorithm.configuration(&fromStream);
    EXPECT_EQ(fromStream.param("frameRate", 0), 25);
    EXPECT_EQ(fromStream.subProperties("Extra"), nullptr);
}

TEST_F(CreateStreamIoAlgorithmTest, SettingsDescribeTheFlagsAndTheStreamsParameters)
{
    OpenOnly algorithm;
    Properties schema;
    algorithm.describeSettings(&schema);
    EXPECT_EQ(*schema.paramText("open"), "true");
    EXPECT_EQ(*schema.paramText("start"), "false");
    EXPECT_EQ(schema.paramAttribute("start", "type"), "bool");
    EXPECT_EQ(*schema.paramText("frameRate"), "30");
    EXPECT_EQ(schema.paramAttribute("frameRate", "type"), "integer");
}

}  // namespace
}  // namespace Corvexis
