// SetImageStreamModalityAlgorithm and RemoveImageStreamModalityAlgorithm.
#include <gtest/gtest.h>

#include "Host/Lib/SharedImageSet.h"
#include "Stream/Framework/TestImageStreams.h"
#include "Stream/Processing/RemoveImageStreamModalityAlgorithm.h"
#include "Stream/Processing/SetImageStreamModalityAlgorithm.h"

namespace Corvexis {
namespace {

using Test::ManualImageStream;

TEST(ImageStreamModalityAlgorithmsTest, SetAndRemoveReachEveryGivenStream)
{
    ManualImageStream a("a");
    ManualImageStream b("b");
    std::unique_ptr<Algorithm> set;
    ASSERT_TRUE(SetImageStreamModalityAlgorithm::createCompatible(DataList{&a, &b}, &set));
    Properties config;
    config.setParam("modality", 4);
    set->configure(&config);
    set->compute();
    EXPECT_EQ(set->status(), Algorithm::Status::Success);
    EXPECT_EQ(a.modality(), Data::Modality::Ultrasound);
    EXPECT_EQ(b.modality(), Data::Modality::Ultrasound);

    std::unique_ptr<Algorithm> remove;
    ASSERT_TRUE(RemoveImageStreamModalityAlgorithm::createCompatible(DataList{&b}, &remove));
    remove->compute();
    EXPECT_EQ(remove->status(), Algorithm::Status::Success);
    EXPECT_EQ(a.modality(), Data::Modality::Ultrasound);
    EXPECT_EQ(b.modality(), Data::Modality::None);
}

TEST(ImageStreamModalityAlgorithmsTest, EmptyListsFailAndNullEntriesAreSkipped)
{
    SetImageStreamModalityAlgorithm setNone({});
    setNone.compute();
    EXPECT_EQ(static_cast<int>(setNone.status()), 2);
    RemoveImageStreamModalityAlgorithm removeNone({});
    removeNone.compute();
    EXPECT_EQ(static_cast<int>(removeNone.status()), 2);

    ManualImageStream a;
    SetImageStreamModalityAlgorithm set({nullptr, &a});
    set.modality = 5;
    set.compute();
    EXPECT_EQ(set.status(), Algorithm::Status::Success);
    EXPECT_EQ(a.modality(), Data::Modality::Video);

    SharedImageSet notAStream;
    EXPECT_FALSE(SetImageStreamModalityAlgorithm::createCompatible(DataList{&a, &notAStream}, nullptr));
    EXPECT_FALSE(RemoveImageStreamModalityAlgorithm::createCompatible(DataList{}, nullptr));
}

}  // namespace
}  // namespace Corvexis
