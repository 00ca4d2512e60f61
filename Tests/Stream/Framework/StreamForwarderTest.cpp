#include "Stream/Framework/StreamForwarder.h"

#include <memory>

#include <gtest/gtest.h>

#include "Host/Core/Log.h"
#include "Stream/Framework/ImageOutStream.h"
#include "Stream/Framework/TrackingOutStream.h"
#include "TestConnections.h"
#include "TestStreams.h"

using namespace Corvexis;
namespace T = Corvexis::Test;

namespace {

constexpr const char* kCategory = "Stream Forwarder";

class StreamForwarderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        source = std::make_unique<T::ScriptedStream>("source", Stream::ThreadingMode::NoWorkerThread);
        output = std::make_unique<ImageOutStream>(connection, "out");
        ASSERT_TRUE(output->start());
    }

    T::RecordingConnection connection{{Data::Kind::ImageStream}};
    std::unique_ptr<T::ScriptedStream> source;
    std::unique_ptr<ImageOutStream> output;
};

}  // namespace

TEST_F(StreamForwarderTest, AttachesForwardsAndDetachesWithItsMessages)
{
    Log::ScopedCapture capture;
    StreamForwarder forwarder(*source, *output);
    source->emitRecordAt(1);
    EXPECT_TRUE(connection.sent().empty());  // not attached yet

    forwarder.compute();
    EXPECT_TRUE(forwarder.isAttached());
    EXPECT_TRUE(
        capture->contains(Log::Level::Info, kCategory, "StreamForwarder: source and out are attached."));
    source->emitRecordAt(2);
    source->emitRecordAt(3);
    EXPECT_EQ(connection.sent(), (std::vector<std::uint64_t>{2, 3}));

    // Only while the out-stream runs.
    ASSERT_TRUE(output->stop());
    source->emitRecordAt(4);
    ASSERT_TRUE(output->start());

    forwarder.compute();
    EXPECT_FALSE(forwarder.isAttached());
    EXPECT_TRUE(
        capture->contains(Log::Level::Info, kCategory, "StreamForwarder: source and out are NOT attached."));
    source->emitRecordAt(5);
    EXPECT_EQ(connection.sent(), (std::vector<std::uint64_t>{2, 3}));
    EXPECT_EQ(forwarder.status(), Algorithm::Status::Success);

    forwarder.detach();
    EXPECT_TRUE(capture->containsFragment(Log::Level::Error, kCategory, "not connected yet"));
}

TEST_F(StreamForwarderTest, DeletedStreamsAreForgottenAndNamedAsDeleted)
{
    Log::ScopedCapture capture;
    StreamForwarder forwarder(*source, *output);
    forwarder.attach();
    output.reset();
    source->emitRecordAt(1);  // nothing to forward to, and no crash
    forwarder.detach();
    EXPECT_TRUE(capture->contains(Log::Level::Info, kCategory,
                                  "StreamForwarder: source and [DELETED] are NOT attached."));
    forwarder.attach();
    EXPECT_TRUE(capture->contains(Log::Level::Error, kCategory, "Output stream is null"));
    EXPECT_FALSE(forwarder.isAttached());

    source.reset();
    forwarder.attach();
    EXPECT_TRUE(capture->contains(Log::Level::Error, kCategory, "Input stream is null"));
}

TEST_F(StreamForwarderTest, DeletedInputEndsTheLink)
{
    StreamForwarder forwarder(source.get(), output.get());
    forwarder.attach();
    source.reset();
    EXPECT_FALSE(forwarder.isAttached());
}

TEST_F(StreamForwarderTest, CreatedForExactlyAStreamAndAnOutStreamInEitherOrder)
{
    TrackingOutStream otherOut(connection, "other out");
    std::unique_ptr<Algorithm> created;
    EXPECT_TRUE(StreamForwarder::createCompatible(DataList{source.get(), output.get()}, &created));
    EXPECT_NE(dynamic_cast<StreamForwarder*>(created.get()), nullptr);
    EXPECT_TRUE(StreamForwarder::createCompatible(DataList{output.get(), source.get()}, nullptr));
    // Two out-streams: one of them is forwarded into the other.
    EXPECT_TRUE(StreamForwarder::createCompatible(DataList{&otherOut, output.get()}, nullptr));

    EXPECT_FALSE(StreamForwarder::createCompatible(DataList{source.get()}, nullptr));
    EXPECT_FALSE(StreamForwarder::createCompatible(DataList{source.get(), source.get()}, nullptr));
    EXPECT_FALSE(StreamForwarder::createCompatible(DataList{output.get(), output.get()}, nullptr));
    EXPECT_FALSE(StreamForwarder::createCompatible(DataList{source.get(), output.get(), &otherOut}, nullptr));
    EXPECT_EQ(StreamForwarder::name(), "Stream Forwarder");
}
