#include "Host/Lib/ImageProcessing/ImageAlgorithm.h"

#include <gtest/gtest.h>

#include "Host/Core/DataComponent.h"
#include "Host/Lib/FactoryRegistry.h"
#include "Host/Lib/HostAlgorithmFactory.h"
#include "Host/Lib/ImageProcessing/ImageTestUtil.h"
#include "Host/Lib/ImageProcessing/RgbToGreyAlgorithm.h"
#include "Host/Lib/ImageProcessing/ThresholdAlgorithm.h"
#include "Host/Lib/SharedImageSet.h"

namespace Corvexis {
namespace {

TEST(ImageAlgorithmTest, ComputeProcessesEveryFrameAndKeepsTimestampsAndMetadata)
{
    SharedImageSet set("frames");
    auto a = ImageTest::randomImage<std::uint16_t>(4, 3, 1, 1, 1);
    auto b = ImageTest::randomImage<std::uint16_t>(4, 3, 1, 1, 2);
    a->setModality(Data::Modality::Ultrasound);
    Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
    m(0, 3) = 12.5;
    a->setMatrix(m);
    a->setSpacing(Eigen::Vector3d(0.3, 0.4, 1.0), true);
    set.add(std::move(a), 100.0);
    set.add(std::move(b), 133.0);

    ThresholdAlgorithm threshold(&set);
    threshold.threshold = 30000.0;
    threshold.compute();
    ASSERT_EQ(threshold.status(), Algorithm::Status::Success);
    OwningDataList out = threshold.takeOutput();
    ASSERT_EQ(out.size(), 1u);
    auto* result = dynamic_cast<SharedImageSet*>(out[0]);
    ASSERT_NE(result, nullptr);
    ASSERT_EQ(result->size(), 2);
    EXPECT_EQ(result->timestamp(0), 100.0);
    EXPECT_EQ(result->timestamp(1), 133.0);
    EXPECT_EQ(result->get(0)->matrix(), m);
    EXPECT_EQ(result->get(0)->spacing(), Eigen::Vector3d(0.3, 0.4, 1.0));
    EXPECT_TRUE(result->get(0)->isMetric());
    EXPECT_TRUE(threshold.takeOutput().empty());
}

TEST(ImageAlgorithmTest, ComputeFailsWithoutInputOrWithARefusedFrame)
{
    ThresholdAlgorithm none(nullptr);
    none.compute();
    EXPECT_EQ(none.status(), Algorithm::Status::InvalidInput);

    SharedImageSet set;
    set.add(ImageTest::randomImage<float>(3, 3, 1, 2));
    RgbToGreyAlgorithm grey(&set);
    grey.compute();
    EXPECT_EQ(grey.status(), Algorithm::Status::InvalidInput);
    EXPECT_TRUE(grey.takeOutput().empty());
}

TEST(ImageAlgorithmTest, CreatorsTakeOneAcceptableImageSet)
{
    SharedImageSet rgb;
    rgb.add(ImageTest::randomImage<std::uint8_t>(3, 3, 1, 3));
    SharedImageSet mono;
    mono.add(ImageTest::randomImage<std::uint8_t>(3, 3, 1, 1));
    std::unique_ptr<Algorithm> made;
    EXPECT_TRUE(RgbToGreyAlgorithm::createCompatible(DataList{&rgb}, &made));
    EXPECT_NE(dynamic_cast<RgbToGreyAlgorithm*>(made.get()), nullptr);
    EXPECT_FALSE(RgbToGreyAlgorithm::createCompatible(DataList{&mono}, nullptr));
    EXPECT_FALSE(RgbToGreyAlgorithm::createCompatible(DataList{&rgb, &rgb}, nullptr));
    // Without input it is an algorithm for frames only.
    ASSERT_TRUE(RgbToGreyAlgorithm::createCompatible(DataList{}, &made));
    made->compute();
    EXPECT_EQ(made->status(), Algorithm::Status::InvalidInput);
    EXPECT_TRUE(dynamic_cast<SequentialImageProcessor*>(made.get())->processImage(*rgb.get(0), {}));
}

TEST(ImageAlgorithmTest, HostTableIsRegisteredWhileARegistrationLives)
{
    auto& registry = FactoryRegistry::get();
    const std::string ids[] = {"Host.GaussianSmoothing", "Host.Threshold",  "Host.WindowLevel",
                               "Host.RgbToGrey",         "Host.FlipRotate", "Host.Crop",
                               "Host.Downsample"};
    EXPECT_FALSE(registry.algorithmDescriptor("Host.Threshold"));
    {
        HostAlgorithmFactory::Registration first;
        {
            HostAlgorithmFactory::Registration second;
        }
        // Counted: the inner one going does not take the table away.
        SharedImageSet set;
        set.add(ImageTest::randomImage<std::int16_t>(3, 3, 1, 3));
        for (const std::string& id : ids) {
            auto descriptor = registry.algorithmDescriptor(id);
            ASSERT_TRUE(descriptor) << id;
            auto algorithm = descriptor->create(DataList{&set});
            ASSERT_TRUE(algorithm) << id;
            EXPECT_NE(dynamic_cast<SequentialImageProcessor*>(algorithm.get()), nullptr) << id;
            EXPECT_EQ(descriptor->menuPath.rfind("Image Processing;", 0), 0u) << descriptor->menuPath;
        }
        SharedImageSet mono;
        mono.add(ImageTest::randomImage<std::int16_t>(3, 3, 1, 1));
        EXPECT_FALSE(registry.algorithmDescriptor("Host.RgbToGrey")->create(DataList{&mono}));
    }
    EXPECT_FALSE(registry.algorithmDescriptor("Host.Threshold"));
}

}  // namespace
}  // namespace Corvexis
