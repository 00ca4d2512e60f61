#include "Host/Lib/Files/DicomFile.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "FilesTestData.h"

namespace Corvexis {
namespace {

// Frame times that a 16-character decimal holds exactly.
std::unique_ptr<SharedImageSet> dicomSet(int channels, Data::Modality modality)
{
    auto set = FilesTest::imageSet(ImageDescriptor::kUByte, channels, 5);
    set->setModality(modality);
    for (int i = 0; i < set->size(); ++i)
        set->setTimestamp(i, 1'700'000'000'000.0 + i * 33.25);
    return set;
}

class DicomFileTest : public ::testing::TestWithParam<std::tuple<int, Data::Modality>>
{
};

TEST_P(DicomFileTest, WrittenFilesPassDcmdumpAndDciodvfyAndReadBackEqual)
{
    if (!FilesTest::hasProgram("dcmdump") || !FilesTest::hasProgram("dciodvfy"))
        GTEST_SKIP() << "dcmdump (dcmtk) or dciodvfy (dicom3tools) is not installed";
    const auto [channels, modality] = GetParam();
    FilesTest::TemporaryDirectory dir;
    const std::string path = dir.file("set.dcm");
    const auto set = dicomSet(channels, modality);
    std::string error;
    ASSERT_TRUE(DicomFile::save(*set, path, "Doe^Jane", &error)) << error;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    // dcmdump parses every element; +E reports parse errors on stderr, -q keeps it quiet otherwise.
    const FilesTest::CommandResult dump = FilesTest::runCommand("dcmdump +E +L " + path);
    ASSERT_EQ(dump.status, 0) << dump.output;
    EXPECT_NE(dump.output.find("[Doe^Jane]"), std::string::npos) << dump.output;
    EXPECT_NE(dump.output.find(modality == Data::Modality::Ultrasound ? "[US]" : "[OT]"), std::string::npos);
    EXPECT_NE(dump.output.find("(0028,0008) IS [5]"), std::string::npos);
    EXPECT_NE(dump.output.find("(0028,0030) DS [0.5\\0.25]"), std::string::npos);
    EXPECT_NE(dump.output.find("(0018,1065) DS [0\\33.25\\33.25\\33.25\\33.25]"), std::string::npos)
        << dump.output;

    const FilesTest::CommandResult verify = FilesTest::runCommand("dciodvfy " + path);
    EXPECT_EQ(verify.output.find("Error"), std::string::npos) << verify.output;

    auto back = DicomFile::load(path, &error);
    ASSERT_NE(back, nullptr) << error;
    ASSERT_EQ(back->size(), set->size());
    EXPECT_EQ(back->modality(), modality);
    EXPECT_EQ(back->properties().param("patientName", ""), "Doe^Jane");
    for (int i = 0; i < set->size(); ++i) {
        EXPECT_EQ(back->timestamp(i), set->timestamp(i)) << i;
        ASSERT_EQ(back->get(i)->mem()->byteSize(), set->get(i)->mem()->byteSize());
        EXPECT_EQ(std::memcmp(back->get(i)->mem()->data(), set->get(i)->mem()->data(),
                              set->get(i)->mem()->byteSize()),
                  0);
        EXPECT_EQ(back->get(i)->spacing(), Eigen::Vector3d(0.25, 0.5, 1.0));
    }
}

INSTANTIATE_TEST_SUITE_P(GreyAndRgb, DicomFileTest,
                         ::testing::Values(std::make_tuple(1, Data::Modality::Ultrasound),
                                           std::make_tuple(3, Data::Modality::Ultrasound),
                                           std::make_tuple(1, Data::Modality::None),
                                           std::make_tuple(3, Data::Modality::None)));

TEST(DicomFile, RefusesWhatItCannotWriteAndFilesItCannotRead)
{
    FilesTest::TemporaryDirectory dir;
    std::string error;
    EXPECT_FALSE(DicomFile::save(SharedImageSet(), dir.file("a.dcm"), "x", &error));
    EXPECT_FALSE(
        DicomFile::save(*FilesTest::imageSet(ImageDescriptor::kFloat, 1, 2), dir.file("b.dcm"), "x", &error));
    EXPECT_NE(error.find("8-bit"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    {
        std::ofstream(dir.file("c.dcm")) << "not dicom";
    }
    EXPECT_EQ(DicomFile::load(dir.file("c.dcm"), &error), nullptr);
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace Corvexis
