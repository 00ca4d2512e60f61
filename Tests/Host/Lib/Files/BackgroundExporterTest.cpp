#include "Host/Lib/Files/BackgroundExporter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "FilesTestData.h"
#include "Host/Core/Log.h"
#include "Host/Lib/Files/CorvexisFile.h"
#include "Host/Lib/Files/DicomFile.h"

namespace Corvexis {
namespace {

void touch(const std::string& path)
{
    std::ofstream(path) << "x";
}

TEST(BackgroundExporter, PatientFilenamesAreUniqueAndCreateTheDirectory)
{
    FilesTest::TemporaryDirectory dir;
    const std::string save = dir.file("new/sub");
    const std::string first = BackgroundExporter::preparePatientFilenames(save, "Doe/Jane", "sweep");
    EXPECT_EQ(first, save + "/Doe_Jane_sweep_1");
    EXPECT_TRUE(std::filesystem::is_directory(save));
    // Nothing written yet: asking again gives the same name.
    EXPECT_EQ(BackgroundExporter::preparePatientFilenames(save, "Doe/Jane", "sweep"), first);

    touch(first + "_1.bin");  // a live file of slot 1 takes the name
    EXPECT_EQ(BackgroundExporter::preparePatientFilenames(save, "Doe/Jane", "sweep"),
              save + "/Doe_Jane_sweep_2");
    touch(save + "/Doe_Jane_sweep_2.cvx");
    touch(save + "/Doe_Jane_sweep_30.cvx");  // a longer number does not block 3
    EXPECT_EQ(BackgroundExporter::preparePatientFilenames(save, "Doe/Jane", "sweep"),
              save + "/Doe_Jane_sweep_3");
    EXPECT_EQ(BackgroundExporter::preparePatientFilenames(save, "", ""), save + "/Patient_1");
}

TEST(BackgroundExporter, AsynchronousSavesTrackTheirDataAndNeverOverwrite)
{
    Log::ScopedCapture quiet;
    FilesTest::TemporaryDirectory dir;
    OwningDataList items;
    items.add(FilesTest::imageSet(ImageDescriptor::kUByte, 1, 3));
    items.add(FilesTest::trackingSequence(3));
    BackgroundExporter exporter;
    const std::string base = BackgroundExporter::preparePatientFilenames(dir.path(), "P", "");

    std::shared_future<bool> done = exporter.saveAsync(items.dataList(), base);
    // Either still busy or already done; after the future the items are free.
    ASSERT_TRUE(done.get());
    exporter.waitForAll();
    EXPECT_FALSE(exporter.isDataBeingSaved(items[0]));
    ASSERT_EQ(exporter.lastSavedFiles(), std::vector<std::string>{base + ".cvx"});
    CorvexisFile file;
    auto back = file.load(base + ".cvx");
    ASSERT_TRUE(back.has_value());
    ASSERT_EQ(back->size(), 2u);
    EXPECT_TRUE(FilesTest::sameItem(*items[0], *(*back)[0]));

    // The same base again would overwrite: refused, and the first file is intact.
    EXPECT_FALSE(exporter.save(items.dataList(), base));
    EXPECT_NE(exporter.lastError().find(base + ".cvx"), std::string::npos) << exporter.lastError();
    EXPECT_TRUE(file.load(base + ".cvx").has_value());
    // No temporary files are left behind by either save.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(BackgroundExporter, ManyQueuedSavesFinishInOrderAndMarkTheirItemsBusyUntilDone)
{
    FilesTest::TemporaryDirectory dir;
    OwningDataList items;
    for (int i = 0; i < 6; ++i)
        items.add(FilesTest::imageSet(ImageDescriptor::kUShort, 1, 4));
    BackgroundExporter exporter;
    std::vector<std::shared_future<bool>> futures;
    for (std::size_t i = 0; i < items.size(); ++i) {
        futures.push_back(exporter.saveAsync(DataList{items[i]}, dir.file("s" + std::to_string(i))));
        EXPECT_TRUE(exporter.isDataBeingSaved(items[i]) ||
                    futures.back().wait_for(std::chrono::seconds(0)) == std::future_status::ready);
    }
    for (auto& f : futures)
        EXPECT_TRUE(f.get());
    // A ready future may precede the release of its items by a moment; waitForAll() settles both.
    exporter.waitForAll();
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_FALSE(exporter.isDataBeingSaved(items[i]));
        EXPECT_TRUE(std::filesystem::exists(dir.file("s" + std::to_string(i) + ".cvx")));
    }
}

TEST(BackgroundExporter, DicomSavesImageSetsAsDicomAndTheRestNatively)
{
    FilesTest::TemporaryDirectory dir;
    OwningDataList items;
    items.add(FilesTest::imageSet(ImageDescriptor::kUByte, 3, 2));
    items.add(FilesTest::trackingSequence(2));
    BackgroundExporter exporter;
    exporter.setFileType(BackgroundExporter::FileType::Dicom);
    const std::string base = dir.file("rec");
    ASSERT_TRUE(exporter.save(items.dataList(), base, "Doe^John")) << exporter.lastError();
    EXPECT_EQ(exporter.lastSavedFiles(), (std::vector<std::string>{base + ".dcm", base + ".cvx"}));
    std::string error;
    auto set = DicomFile::load(base + ".dcm", &error);
    ASSERT_NE(set, nullptr) << error;
    EXPECT_EQ(set->size(), 2);
    EXPECT_EQ(set->properties().param("patientName", ""), "Doe^John");
}

}  // namespace
}  // namespace Corvexis
