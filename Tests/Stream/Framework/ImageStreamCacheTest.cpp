#include "Stream/Framework/ImageStreamCache.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>

#include <memory>
#include <thread>
#include <vector>

#include "Host/Core/Log.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/RequireOpenGL.h"
#include "Host/Lib/SharedImageSet.h"
#include "Stream/Framework/ImageStream.h"
#include "Stream/Framework/TestImageStreams.h"
#include "Stream/Framework/TestStreams.h"

using namespace Corvexis;
namespace T = Corvexis::Test;
using Kind = Data::Kind;

namespace {

constexpr std::string_view kCategory = "ImageStreamCache";
constexpr std::string_view kDetached = "Detaching ImageStreamCache from ImageStream";
constexpr std::string_view kDeleted =
    "Detaching ImageStreamCache from ImageStream because stream was deleted";

void ensureApplication()
{
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "ImageStreamCacheTest";
        static char* argv[] = {name, nullptr};
        // Kept for the rest of the process: the cache and other tests may use it.
        new QCoreApplication(argc, argv);
    }
    ImageStreamCache::ref();
}

// The cache lives on the thread owning the application; the tests run on it and turn its loop.
class ImageStreamCacheTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { ensureApplication(); }

    void SetUp() override
    {
        updates_ = QObject::connect(&ImageStreamCache::ref(), &ImageStreamCache::updateRequested,
                                    [this] { ++updateCount; });
    }
    void TearDown() override
    {
        QObject::disconnect(updates_);
        turn();
    }

    // One turn of the event loop: every queued frame notification is handled.
    static void turn() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

    int updateCount = 0;

private:
    QMetaObject::Connection updates_;
};

const ImageDescriptor kFrame(ImageDescriptor::kUByte, 8, 4);

}  // namespace

TEST_F(ImageStreamCacheTest, OnlyTheNewestFrameSurvivesBetweenTwoTurns)
{
    T::ManualImageStream stream("probe");
    auto handle = ImageStreamCache::ref().image(&stream);
    SharedImageSet* set = handle.image();
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(set->size(), 1);
    const auto shown = set->get(0);

    std::vector<int> seen;
    const auto watch = QObject::connect(&ImageStreamCache::ref(), &ImageStreamCache::updateRequested,
                                        [&] { seen.push_back(T::firstByte(*set->get(0))); });
    stream.emitFrame(kFrame, 1, 0, Data::Modality::Ultrasound);
    stream.emitFrame(kFrame, 2, 0, Data::Modality::Ultrasound);
    stream.emitFrame(kFrame, 3, 0, Data::Modality::Ultrasound);
    // Nothing is shown before the loop turns.
    EXPECT_EQ(T::firstByte(*set->get(0)), 0);
    turn();
    EXPECT_EQ(seen, std::vector<int>{3});
    EXPECT_EQ(updateCount, 1);

    // The same image object shows the new pixels, so views need not re-bind.
    ASSERT_EQ(set->size(), 1);
    EXPECT_EQ(set->get(0), shown);
    EXPECT_EQ(set->get(0)->descriptor(), kFrame);
    EXPECT_EQ(set->modality(), Data::Modality::Ultrasound);

    stream.emitFrame(kFrame, 4);
    turn();
    EXPECT_EQ(seen, (std::vector<int>{3, 4}));
    QObject::disconnect(watch);
}

TEST_F(ImageStreamCacheTest, AttachingNamesTheSetAndGivesPlaceholders)
{
    T::ManualImageStream stream("volume probe");
    {
        Log::ScopedCapture capture;
        auto handle = ImageStreamCache::ref().image(&stream);
        EXPECT_EQ(capture->count(Log::Level::Debug, kCategory, "Attaching ImageStreamCache to ImageStream"),
                  1u);
        const SharedImageSet* set = handle.image();
        EXPECT_EQ(set->name(), "volume probe");
        EXPECT_TRUE(set->properties().param<bool>("topDown", false));
        ASSERT_EQ(set->size(), 1);
        EXPECT_EQ(set->get(0)->descriptor(), ImageDescriptor(ImageDescriptor::kUByte, 16, 16, 1, 1));
        EXPECT_EQ(T::firstByte(*set->get(0)), 0);
        EXPECT_EQ(ImageStreamCache::ref().stream(set), &stream);

        // A second request shares the set and does not attach again.
        auto second = ImageStreamCache::ref().image(&stream);
        EXPECT_EQ(second.image(), set);
        EXPECT_EQ(capture->count(Log::Level::Debug, kCategory, "Attaching ImageStreamCache to ImageStream"),
                  1u);

        // Show a 2-D frame, remembered for the next attachment.
        stream.emitFrame(kFrame, 9);
        turn();
    }
    {
        auto handle = ImageStreamCache::ref().image(&stream);
        ASSERT_EQ(handle.image()->size(), 1);
        EXPECT_EQ(handle.image()->get(0)->descriptor(), kFrame);
        EXPECT_EQ(T::firstByte(*handle.image()->get(0)), 0);
    }
    // A volume stream remembering a 2-D frame gets its extent with a depth of 16.
    stream.setKind(Kind::VolumeStream);
    {
        auto handle = ImageStreamCache::ref().image(&stream);
        EXPECT_EQ(handle.image()->get(0)->descriptor(), ImageDescriptor(ImageDescriptor::kUByte, 8, 4, 16));
        stream.emitFrame(ImageDescriptor(ImageDescriptor::kUByte, 5, 6, 7), 1);
        turn();
        EXPECT_EQ(stream.kind(), Kind::VolumeStream);
    }
    {
        auto handle = ImageStreamCache::ref().image(&stream);
        EXPECT_EQ(handle.image()->get(0)->descriptor(), ImageDescriptor(ImageDescriptor::kUByte, 5, 6, 7));
    }

    T::ManualImageStream fresh("fresh volume");
    fresh.setKind(Kind::VolumeStream);
    {
        auto handle = ImageStreamCache::ref().image(&fresh);
        EXPECT_EQ(handle.image()->get(0)->descriptor(), ImageDescriptor(ImageDescriptor::kUByte, 16, 16, 16));
    }

    T::ManualImageStream encoded("encoded");
    encoded.setKind(Kind::EncodedImageStream);
    auto handle = ImageStreamCache::ref().image(&encoded);
    EXPECT_EQ(handle.image()->size(), 0);
}

TEST_F(ImageStreamCacheTest, LastHandleDetaches)
{
    T::ManualImageStream stream;
    const auto connectionsBefore = stream.signalStreamData.connectionCount();
    Log::ScopedCapture capture;
    auto handle = std::make_unique<StreamSharedImageSet>(ImageStreamCache::ref().image(&stream));
    const SharedImageSet* set = handle->image();
    EXPECT_EQ(stream.signalStreamData.connectionCount(), connectionsBefore + 1);

    StreamSharedImageSet copy = *handle;
    StreamSharedImageSet assigned;
    assigned = copy;
    assigned = copy;  // self-set assignment neither detaches nor counts twice
    StreamSharedImageSet moved = std::move(copy);
    EXPECT_EQ(copy.image(), nullptr);
    EXPECT_EQ(moved.image(), set);

    handle.reset();
    moved.reset();
    EXPECT_EQ(ImageStreamCache::ref().stream(set), &stream);
    EXPECT_EQ(capture->count(Log::Level::Debug, kCategory, kDetached), 0u);

    // A frame while attached, then the last handle goes before the loop turns.
    stream.emitFrame(kFrame, 5);
    assigned.reset();
    EXPECT_EQ(capture->count(Log::Level::Debug, kCategory, kDetached), 1u);
    EXPECT_EQ(ImageStreamCache::ref().stream(set), nullptr);
    EXPECT_EQ(stream.signalStreamData.connectionCount(), connectionsBefore);
    turn();
    EXPECT_EQ(updateCount, 0);
}

TEST_F(ImageStreamCacheTest, DeletedStreamDetachesAndHandlesStayUsable)
{
    auto stream = std::make_unique<T::ManualImageStream>("short-lived");
    Log::ScopedCapture capture;
    auto handle = ImageStreamCache::ref().image(stream.get());
    auto copy = handle;
    SharedImageSet* set = handle.image();

    stream->emitFrame(kFrame, 7);  // pending, not yet shown
    stream.reset();
    EXPECT_EQ(capture->count(Log::Level::Debug, kCategory, kDeleted), 1u);
    EXPECT_EQ(ImageStreamCache::ref().stream(set), nullptr);

    // The queued notification of the deleted stream is dropped.
    turn();
    EXPECT_EQ(updateCount, 0);

    // The set lives on with its handles; releasing them does not detach again.
    EXPECT_EQ(set->size(), 1);
    EXPECT_EQ(T::firstByte(*set->get(0)), 0);
    copy.reset();
    handle.reset();
    EXPECT_EQ(capture->count(Log::Level::Debug, kCategory, kDetached), 0u);
}

TEST_F(ImageStreamCacheTest, NonImageRecordsAndNullStreamsAreIgnored)
{
    EXPECT_EQ(ImageStreamCache::ref().image(nullptr).image(), nullptr);
    EXPECT_EQ(ImageStreamCache::ref().stream(nullptr), nullptr);

    T::ManualImageStream stream;
    auto handle = ImageStreamCache::ref().image(&stream);
    stream.signalStreamData.emitSignal(std::make_shared<T::PlainRecord>(&stream));
    turn();
    EXPECT_EQ(updateCount, 0);
}

// A record's images replace the pending ones, also when it holds none: the set is emptied, and a frame
// pending before it is not shown.
TEST_F(ImageStreamCacheTest, ImageRecordWithoutImagesReplacesThePendingFrame)
{
    T::ManualImageStream stream;
    auto handle = ImageStreamCache::ref().image(&stream);
    SharedImageSet* set = handle.image();
    stream.emitFrame(kFrame, 1);
    turn();
    ASSERT_EQ(set->size(), 1);
    const int updatesBefore = updateCount;

    stream.emitFrame(kFrame, 2);
    stream.signalStreamData.emitSignal(std::make_shared<ImageStreamData>(&stream));
    turn();
    EXPECT_EQ(set->size(), 0);
    EXPECT_EQ(updateCount, updatesBefore + 1);

    stream.emitFrame(kFrame, 3);
    turn();
    ASSERT_EQ(set->size(), 1);
    EXPECT_EQ(T::firstByte(*set->get(0)), 3);
}

TEST_F(ImageStreamCacheTest, SetFollowsTheNumberOfImagesPerRecord)
{
    T::ManualImageStream stream;
    auto handle = ImageStreamCache::ref().image(&stream);
    SharedImageSet* set = handle.image();
    stream.emitImages(
        {T::ManualImageStream::makeImage(kFrame, 1), T::ManualImageStream::makeImage(kFrame, 2)});
    turn();
    ASSERT_EQ(set->size(), 2);
    EXPECT_EQ(T::firstByte(*set->get(0)), 1);
    EXPECT_EQ(T::firstByte(*set->get(1)), 2);

    stream.emitFrame(kFrame, 3);
    turn();
    ASSERT_EQ(set->size(), 1);
    EXPECT_EQ(T::firstByte(*set->get(0)), 3);
}

namespace {

class ImageStreamCacheGlTest : public T::OpenGLTest
{
protected:
    void SetUp() override
    {
        T::OpenGLTest::SetUp();
        ensureApplication();
    }
};

}  // namespace

// A frame written on the graphics card by a producer thread's own context is fenced, and the user
// interface thread (with a borrowed context) shows its pixels, not whatever the texture held before.
TEST_F(ImageStreamCacheGlTest, GraphicsCardFramesAreFencedAndShown)
{
    T::ManualImageStream stream("gl producer");
    auto handle = ImageStreamCache::ref().image(&stream);
    SharedImageSet* set = handle.image();

    constexpr int kFrames = 5;
    std::thread producer([&] {
        auto context = GL::ContextManager::get().createContext();
        ASSERT_NE(context, nullptr);
        for (int i = 1; i <= kFrames; ++i) {
            auto image = T::ManualImageStream::makeImage(kFrame, static_cast<std::uint8_t>(40 + i));
            ASSERT_NE(image->gl(), nullptr);
            ASSERT_TRUE(image->makeExclusive(Image::Location::OpenGL));
            stream.emitImages({image});
        }
    });
    producer.join();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    ASSERT_EQ(set->size(), 1);
    EXPECT_EQ(set->get(0)->descriptor(), kFrame);
    EXPECT_EQ(T::firstByte(*set->get(0)), 40 + kFrames);
}
