#include "Host/Lib/Files/LoadFileAlgorithm.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "FilesTestData.h"
#include "Host/Core/DataList.h"
#include "Host/Core/Log.h"
#include "Host/Lib/Files/CorvexisFile.h"
#include "Host/Lib/Files/CorvexisImage.h"

using namespace Corvexis;

namespace {

class LoadFileAlgorithmTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path() / ("corvexis-load-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    std::filesystem::path dir_;
};

}  // namespace

TEST_F(LoadFileAlgorithmTest, HandsOverEveryItemOfADataFileInOrder)
{
    auto set = FilesTest::imageSet(ImageDescriptor::kUByte, 1, 3);
    auto sequence = FilesTest::trackingSequence(4);
    DataList items;
    items.add(set.get());
    items.add(sequence.get());
    ASSERT_TRUE(CorvexisFile().save(items, path("two.cvx")));

    std::unique_ptr<Algorithm> algorithm;
    ASSERT_TRUE(LoadFileAlgorithm::createCompatible(DataList{}, &algorithm));
    EXPECT_FALSE(LoadFileAlgorithm::createCompatible(DataList{set.get()}, nullptr));
    auto& load = static_cast<LoadFileAlgorithm&>(*algorithm);
    load.filename.setValue(path("two.cvx"));
    load.compute();
    ASSERT_EQ(load.status(), Algorithm::Status::Success);
    OwningDataList output = load.takeOutput();
    ASSERT_EQ(output.size(), 2u);
    EXPECT_TRUE(FilesTest::sameSet(*set, dynamic_cast<SharedImageSet&>(*output[0])));
    EXPECT_TRUE(sequence->hasSameContent(dynamic_cast<TrackingSequence&>(*output[1])));
    EXPECT_EQ(load.takeOutput().size(), 0u) << "handed over once";
}

TEST_F(LoadFileAlgorithmTest, ALiveImageFileGivesItsSet)
{
    auto set = FilesTest::imageSet(ImageDescriptor::kUByte, 1, 5);
    CorvexisImage live;
    ASSERT_TRUE(live.open(path("live.bin"), *set, true));
    for (int i = 0; i < set->size(); ++i)
        ASSERT_TRUE(live.append(*set->get(i), set->timestamp(i)));
    ASSERT_TRUE(live.close());
    LoadFileAlgorithm load;
    load.filename.setValue(path("live.bin"));
    load.compute();
    ASSERT_EQ(load.status(), Algorithm::Status::Success);
    OwningDataList output = load.takeOutput();
    ASSERT_EQ(output.size(), 1u);
    auto& loaded = dynamic_cast<SharedImageSet&>(*output[0]);
    ASSERT_EQ(loaded.size(), 5);
    EXPECT_EQ(loaded.timestamp(4), set->timestamp(4));
}

TEST_F(LoadFileAlgorithmTest, UnreadableFilesFailWithTheReason)
{
    Log::ScopedCapture capture;
    LoadFileAlgorithm load;
    load.compute();
    EXPECT_EQ(load.status(), Algorithm::Status::InvalidInput);
    EXPECT_EQ(capture->count(Log::Level::Error, "LoadFileAlgorithm", "No file name given"), 1u);

    std::ofstream(path("junk.cvx")) << "junk";
    load.filename.setValue(path("junk.cvx"));
    load.compute();
    EXPECT_EQ(load.status(), Algorithm::Status::Error);
    EXPECT_TRUE(capture->containsFragment(Log::Level::Error, "LoadFileAlgorithm", "is not a data file"));
    load.filename.setValue(path("missing.cvx"));
    load.compute();
    EXPECT_EQ(load.status(), Algorithm::Status::Error);
    EXPECT_TRUE(capture->containsFragment(Log::Level::Error, "LoadFileAlgorithm", "cannot open"));
    EXPECT_EQ(load.takeOutput().size(), 0u);
}
