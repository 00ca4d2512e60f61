// End-to-end tests of the file commands of the built host application: a data file written here is
// described and exported by the binary, and unreadable input ends in one error line.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "Apps/corvexis/AppRunner.h"
#include "Host/Core/MemImage.h"
#include "Host/Core/OwningDataList.h"
#include "Host/Lib/Files/CorvexisFile.h"
#include "Host/Lib/SharedImageSet.h"

namespace Corvexis {
namespace {

using AppTest::runApp;
using AppRun = AppTest::Result;

class FileCommandsAppTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path() /
               ("corvexis-file-commands-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Three 6 x 4 grey frames 50 ms apart, pixel i of frame f holding f * 24 + i.
    std::string writeRecording()
    {
        SharedImageSet set("recording");
        const ImageDescriptor d(ImageDescriptor::kUByte, 6, 4, 1, 1);
        for (int f = 0; f < 3; ++f) {
            auto mem = MemImage::create(d, false);
            auto* p = static_cast<std::uint8_t*>(mem->data());
            for (int i = 0; i < 24; ++i)
                p[i] = static_cast<std::uint8_t>(f * 24 + i);
            set.add(std::make_shared<SharedImage>(std::move(mem)), 2000.0 + f * 50.0);
        }
        DataList items;
        items.add(&set);
        const std::string path = (dir_ / "rec.cvx").string();
        EXPECT_TRUE(CorvexisFile().save(items, path));
        return path;
    }

    std::filesystem::path dir_;
};

TEST_F(FileCommandsAppTest, InfoDescribesARecordingAndExportWritesAMetaImage)
{
    const std::string path = writeRecording();
    const AppRun info = runApp("info " + path);
    ASSERT_EQ(info.code, 0) << info.output;
    EXPECT_NE(info.output.find("\"recording\""), std::string::npos) << info.output;
    EXPECT_NE(info.output.find("frames 3, 6 x 4 x 1, 1 channel, UByte"), std::string::npos) << info.output;

    const std::string mha = (dir_ / "rec.mha").string();
    const AppRun exported = runApp("export " + path + " --to " + mha);
    ASSERT_EQ(exported.code, 0) << exported.output;
    std::ifstream in(mha, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string bytes = text.str();
    EXPECT_NE(bytes.find("DimSize = 6 4 3"), std::string::npos) << bytes.substr(0, 400);
    EXPECT_NE(bytes.find("ElementType = MET_UCHAR"), std::string::npos);
    // The pixels follow the header: the last byte is frame 2's last pixel.
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(static_cast<unsigned char>(bytes.back()), 2 * 24 + 23);
}

TEST_F(FileCommandsAppTest, UnreadableInputEndsInOneErrorLine)
{
    {
        std::ofstream(dir_ / "junk.cvx") << "not a recording";
    }
    const AppRun junk = runApp("info " + (dir_ / "junk.cvx").string());
    EXPECT_EQ(junk.code, 1);
    EXPECT_EQ(junk.output.rfind("corvexis: ", 0), 0u) << junk.output;
    EXPECT_EQ(std::count(junk.output.begin(), junk.output.end(), '\n'), 1) << junk.output;

    const AppRun noTarget = runApp("export " + (dir_ / "junk.cvx").string());
    EXPECT_NE(noTarget.code, 0);
    EXPECT_NE(noTarget.output.find("--to"), std::string::npos) << noTarget.output;

    const AppRun missing = runApp("export " + (dir_ / "missing.cvx").string() + " --to " +
                               (dir_ / "x.mha").string());
    EXPECT_NE(missing.code, 0);
    EXPECT_EQ(missing.output.rfind("corvexis: ", 0), 0u) << missing.output;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "x.mha"));
}

}  // namespace
}  // namespace Corvexis
