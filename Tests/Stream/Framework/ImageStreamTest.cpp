#include "Stream/Framework/ImageStream.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "Stream/Framework/TestImageStreams.h"
#include "Stream/Framework/TestStreams.h"

using namespace Corvexis;
namespace T = Corvexis::Test;
using Kind = Data::Kind;
using Modality = Data::Modality;

namespace {

const ImageDescriptor kImage(ImageDescriptor::kUByte, 8, 4);
const ImageDescriptor kVolume(ImageDescriptor::kUByte, 8, 4, 3);

// Records every kind announced by the stream.
struct KindRecorder
{
    explicit KindRecorder(ImageStream& stream)
        : connection(stream.signalKindChanged.connect([this](Kind kind) { kinds.push_back(kind); }))
    {
    }
    ~KindRecorder() { connection.disconnect(); }
    std::vector<Kind> kinds;
    SignalConnection connection;
};

}  // namespace

TEST(ImageStream, StartsAsTwoDimensionalStreamWithoutDescriptor)
{
    T::ManualImageStream stream;
    EXPECT_EQ(stream.kind(), Kind::ImageStream);
    EXPECT_EQ(stream.modality(), Modality::None);
    EXPECT_FALSE(stream.descriptor().has_value());
    EXPECT_TRUE(stream.topDown());
    EXPECT_EQ(stream.size(), 1);
    EXPECT_EQ(stream.describe(), stream.Stream::describe());
}

TEST(ImageStream, KindSwitchesOnceFromImageToVolumeAndBack)
{
    T::ManualImageStream stream;
    KindRecorder recorder(stream);

    stream.emitFrame(kImage);
    stream.emitFrame(kImage);
    EXPECT_TRUE(recorder.kinds.empty());

    stream.emitFrame(kVolume);
    ASSERT_EQ(recorder.kinds, std::vector<Kind>{Kind::VolumeStream});
    EXPECT_EQ(stream.kind(), Kind::VolumeStream);
    stream.emitFrame(kVolume);
    stream.emitFrame(kVolume);
    EXPECT_EQ(recorder.kinds.size(), 1u);

    stream.emitFrame(kImage);
    EXPECT_EQ(recorder.kinds, (std::vector<Kind>{Kind::VolumeStream, Kind::ImageStream}));
    EXPECT_EQ(stream.kind(), Kind::ImageStream);
}

TEST(ImageStream, OtherKindsAreLeftAloneByFrames)
{
    T::ManualImageStream stream;
    stream.setKind(Kind::EncodedImageStream);
    KindRecorder recorder(stream);
    stream.emitFrame(kVolume);
    stream.emitFrame(kImage);
    EXPECT_EQ(stream.kind(), Kind::EncodedImageStream);
    EXPECT_TRUE(recorder.kinds.empty());
    ASSERT_TRUE(stream.descriptor().has_value());
    EXPECT_EQ(*stream.descriptor(), kImage);
}

TEST(ImageStream, SetKindEmitsOnlyOnChange)
{
    T::ManualImageStream stream;
    KindRecorder recorder(stream);
    stream.setKind(Kind::ImageStream);
    stream.setKind(Kind::VolumeStream);
    stream.setKind(Kind::VolumeStream);
    EXPECT_EQ(recorder.kinds, std::vector<Kind>{Kind::VolumeStream});
}

TEST(ImageStream, FocusPicksTheDescribedImageAndOutOfRangeFocusIgnoresRecords)
{
    T::ManualImageStream stream;
    const auto image = T::ManualImageStream::makeImage(kImage);
    const auto volume = T::ManualImageStream::makeImage(kVolume);

    stream.setFocus(1);
    stream.emitImages({image, volume});
    ASSERT_TRUE(stream.descriptor().has_value());
    EXPECT_EQ(*stream.descriptor(), kVolume);
    EXPECT_EQ(stream.kind(), Kind::VolumeStream);

    // A focus beyond the record's images: the record is not described.
    stream.setFocus(2);
    stream.emitImages({image, volume});
    stream.setFocus(-1);
    stream.emitImages({image});
    EXPECT_EQ(*stream.descriptor(), kVolume);
    EXPECT_EQ(stream.kind(), Kind::VolumeStream);

    // An empty record neither.
    stream.setFocus(0);
    stream.emitImages({});
    EXPECT_EQ(*stream.descriptor(), kVolume);
}

TEST(ImageStream, ModalityFollowsFramesUnlessTheyCarryNone)
{
    T::ManualImageStream stream;
    stream.emitFrame(kImage, 0, 0, Modality::Ultrasound);
    EXPECT_EQ(stream.modality(), Modality::Ultrasound);
    stream.emitFrame(kImage, 0, 0, Modality::None);
    EXPECT_EQ(stream.modality(), Modality::Ultrasound);
    stream.emitFrame(kImage, 0, 0, Modality::CT);
    EXPECT_EQ(stream.modality(), Modality::CT);
    stream.setModality(Modality::MR);
    EXPECT_EQ(stream.modality(), Modality::MR);
}

TEST(ImageStream, RecordsOfOtherTypesAreIgnored)
{
    T::ManualImageStream stream;
    stream.signalStreamData.emitSignal(std::make_shared<T::PlainRecord>(&stream));
    EXPECT_FALSE(stream.descriptor().has_value());
    EXPECT_EQ(stream.kind(), Kind::ImageStream);
}

TEST(ImageStream, DescribeSummarisesImagesAndVolumes)
{
    T::ManualImageStream stream;
    ImageDescriptor us(ImageDescriptor::kUByte, 640, 480);
    us.spacing = Eigen::Vector3d(0.1, 0.25, 1.0);
    stream.emitFrame(us, 0, 0, Modality::Ultrasound);
    EXPECT_EQ(stream.describe(),
              "Ultrasound image with resolution 640 x 480, spacing 0.1 x 0.25 mm, 1 channel, "
              "8 bit unsigned integer | " +
                  stream.Stream::describe());

    T::ManualImageStream plain;
    ImageDescriptor volume(ImageDescriptor::kFloat, 4, 5, 6, 3);
    volume.spacing = Eigen::Vector3d(1.0, 1.0, 2.5);
    plain.emitFrame(volume);
    EXPECT_EQ(plain.describe(),
              "Volume with resolution 4 x 5 x 6, spacing 1 x 1 x 2.5 mm, 3 channels, 32 bit float | " +
                  plain.Stream::describe());

    T::ManualImageStream shorts;
    shorts.emitFrame(ImageDescriptor(ImageDescriptor::kShort, 2, 2));
    EXPECT_NE(shorts.describe().find("Image with resolution 2 x 2"), std::string::npos);
    EXPECT_NE(shorts.describe().find("16 bit signed integer"), std::string::npos);
}
