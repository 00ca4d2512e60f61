#include "Stream/StreamDataAnnotationFactory.h"

#include <gtest/gtest.h>

#include "Stream/Framework/ImageOutStream.h"
#include "Stream/Framework/PolyDataOutStream.h"
#include "Stream/Framework/TestConnections.h"
#include "Stream/Framework/TestStreams.h"
#include "Stream/Framework/TrackingOutStream.h"
#include "Stream/IGTL/Connection.h"
#include "Stream/IGTL/IgtlImageOutStream.h"
#include "Stream/IGTL/IgtlImageStream.h"
#include "Stream/IGTL/IgtlTrackingOutStream.h"
#include "Stream/IGTL/IgtlTrackingStream.h"

namespace Corvexis {
namespace {

class KindStream : public Test::ScriptedStream
{
public:
    KindStream(Kind kind, Modality modality)
        : ScriptedStream("kind", ThreadingMode::NoWorkerThread), kind_(kind), modality_(modality)
    {
    }
    Kind kind() const override { return kind_; }
    Modality modality() const override { return modality_; }

private:
    Kind kind_;
    Modality modality_;
};

class NotAStream : public Data
{
public:
    Kind kind() const override { return Kind::ImageStream; }
};

TEST(StreamDataAnnotationFactoryTest, ItemsThatAreNotStreamsAreLeftAlone)
{
    StreamDataAnnotationFactory factory;
    EXPECT_FALSE(factory.annotate(NotAStream{}));
}

TEST(StreamDataAnnotationFactoryTest, DescriptionAndIconByKind)
{
    StreamDataAnnotationFactory factory;
    struct Case
    {
        Data::Kind kind;
        const char* description;
        const char* icon;
    };
    const Case cases[] = {
        {Data::Kind::ImageStream, "Image Stream", "IconImageStream.png"},
        {Data::Kind::VolumeStream, "Image Stream", "IconVolumeStream.png"},
        {Data::Kind::TrackingStream, "Tracking Stream", "IconTrackingStream.png"},
        {Data::Kind::PolyDataStream, "PolyData Stream", "IconPolyDataStream.png"},
    };
    for (const auto& c : cases) {
        KindStream stream(c.kind, Data::Modality::None);
        auto annotation = factory.annotate(stream);
        ASSERT_TRUE(annotation);
        EXPECT_EQ(annotation->description, c.description);
        EXPECT_EQ(annotation->icon, c.icon);
        ASSERT_EQ(annotation->attributes.size(), 1u);
        EXPECT_EQ(annotation->attributes[0].icon, "AttributeStreamClosed.png");
        EXPECT_EQ(annotation->attributes[0].toolTip, "Stream Closed");
    }
}

TEST(StreamDataAnnotationFactoryTest, OutStreamsAreToldApartFromTheStreamsOfTheirKind)
{
    StreamDataAnnotationFactory factory;
    Corvexis::Test::RecordingConnection connection({Data::Kind::ImageStream, Data::Kind::TrackingStream});
    ImageOutStream image(connection, "image out");
    TrackingOutStream tracking(connection, "tracking out");
    PolyDataOutStream polyData(connection, "poly-data out");
    EXPECT_EQ(factory.annotate(image)->description, "Image OutStream");
    EXPECT_EQ(factory.annotate(image)->icon, "IconImageStream.png");
    EXPECT_EQ(factory.annotate(tracking)->description, "Tracking OutStream");
    EXPECT_EQ(factory.annotate(tracking)->icon, "IconTrackingStream.png");
    // No out-stream name of its own for poly data.
    EXPECT_EQ(factory.annotate(polyData)->description, "PolyData Stream");
}

// OpenIGTLink input streams name themselves; their icons stay those of their kind, and the
// OpenIGTLink out-streams are out-streams like any other.
TEST(StreamDataAnnotationFactoryTest, IgtlInputStreamsHaveTheirOwnDescription)
{
    StreamDataAnnotationFactory factory;
    IGTL::Connection connection("link", "127.0.0.1", 18944, false, false, false);  // never opened
    IGTL::IgtlImageStream image(&connection, "Image");
    IGTL::IgtlTrackingStream tracking(&connection, "Tracker", "TRANSFORM");
    IGTL::IgtlImageOutStream imageOut(connection, "Image");
    IGTL::IgtlTrackingOutStream trackingOut(connection, "Tracker", "TDATA");
    auto annotation = factory.annotate(image);
    ASSERT_TRUE(annotation);
    EXPECT_EQ(annotation->description, "IGTLink Image Stream");
    EXPECT_EQ(annotation->icon, "IconImageStream.png");
    EXPECT_EQ(annotation->attributes.at(0).icon, "AttributeStreamClosed.png");
    annotation = factory.annotate(tracking);
    ASSERT_TRUE(annotation);
    EXPECT_EQ(annotation->description, "IGTLink Tracking Stream");
    EXPECT_EQ(annotation->icon, "IconTrackingStream.png");
    EXPECT_EQ(factory.annotate(imageOut)->description, "Image OutStream");
    EXPECT_EQ(factory.annotate(trackingOut)->description, "Tracking OutStream");
}

TEST(StreamDataAnnotationFactoryTest, StateIconFollowsTheStream)
{
    StreamDataAnnotationFactory factory;
    KindStream stream(Data::Kind::TrackingStream, Data::Modality::None);
    auto stateIcon = [&] { return factory.annotate(stream)->attributes.at(0).icon; };
    ASSERT_TRUE(stream.open());
    EXPECT_EQ(stateIcon(), "AttributeStreamOpen.png");
    ASSERT_TRUE(stream.start());
    EXPECT_EQ(stateIcon(), "AttributeStreamRunning.png");
    stream.pauseResult = true;
    ASSERT_TRUE(stream.pause());
    EXPECT_EQ(stateIcon(), "AttributeStreamPaused.png");

    for (auto state : {Stream::State::Opening, Stream::State::Starting, Stream::State::Pausing,
                       Stream::State::Resuming, Stream::State::Stopping, Stream::State::Closing}) {
        const auto attribute = StreamDataAnnotationFactory::stateAttribute(state);
        EXPECT_EQ(attribute.icon, "AttributeStreamTransition.png") << Stream::stateToString(state);
        EXPECT_EQ(attribute.toolTip, "Stream In Transition");
    }
}

TEST(StreamDataAnnotationFactoryTest, ModalityIconOnlyForImageStreams)
{
    StreamDataAnnotationFactory factory;
    KindStream ultrasound(Data::Kind::ImageStream, Data::Modality::Ultrasound);
    auto annotation = factory.annotate(ultrasound);
    ASSERT_EQ(annotation->attributes.size(), 2u);
    EXPECT_EQ(annotation->attributes[1].icon, "AttributeModalityUS.png");
    EXPECT_EQ(annotation->attributes[1].toolTip, "Ultrasound");

    KindStream tracking(Data::Kind::TrackingStream, Data::Modality::CT);
    EXPECT_EQ(factory.annotate(tracking)->attributes.size(), 1u);
    KindStream video(Data::Kind::ImageStream, Data::Modality::Video);
    EXPECT_EQ(factory.annotate(video)->attributes.size(), 1u);

    const std::pair<Data::Modality, const char*> icons[] = {
        {Data::Modality::Xray, "AttributeModalityXR.png"},
        {Data::Modality::CT, "AttributeModalityCT.png"},
        {Data::Modality::MR, "AttributeModalityMR.png"},
        {Data::Modality::NM, "AttributeModalityNM.png"},
        {Data::Modality::Label, "AttributeModalityLAB.png"},
        {Data::Modality::DistanceMap, "AttributeModalityDIS.png"},
    };
    for (const auto& [modality, icon] : icons)
        EXPECT_EQ(StreamDataAnnotationFactory::modalityAttribute(modality)->icon, icon);
    EXPECT_EQ(StreamDataAnnotationFactory::modalityAttribute(Data::Modality::Xray)->toolTip, "X-Ray");
    EXPECT_EQ(StreamDataAnnotationFactory::modalityAttribute(Data::Modality::DistanceMap)->toolTip,
              "Distance Map");
}

}  // namespace
}  // namespace Corvexis
