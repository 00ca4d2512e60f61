#include "Host/Lib/Files/CorvexisImage.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include <sys/wait.h>
#include <unistd.h>

#include "FilesTestData.h"
#include "Host/Core/TypedImage.h"

namespace Corvexis {
namespace {

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

ByteBufferView view(const std::string& s, std::size_t n)
{
    return ByteBufferView(s.data(), std::min(n, s.size()));
}

// Every frame of `expected` up to `count`, with times and per-frame components, equals `got`'s.
void expectFrames(const SharedImageSet& expected, const SharedImageSet& got, int count)
{
    ASSERT_EQ(got.size(), count);
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(got.get(i)->descriptor(), expected.get(i)->descriptor()) << i;
        EXPECT_EQ(std::memcmp(got.get(i)->mem()->data(), expected.get(i)->mem()->data(),
                              expected.get(i)->mem()->byteSize()),
                  0)
            << "pixels of frame " << i;
        EXPECT_EQ(got.timestamp(i), expected.timestamp(i));
        EXPECT_TRUE(FilesTest::sameComponents(got.elementwiseComponents()[static_cast<std::size_t>(i)],
                                              expected.elementwiseComponents()[static_cast<std::size_t>(i)]));
    }
}

void appendAll(CorvexisImage& file, const SharedImageSet& set)
{
    for (int i = 0; i < set.size(); ++i)
        ASSERT_TRUE(file.append(*set.get(i), set.timestamp(i),
                                &set.elementwiseComponents()[static_cast<std::size_t>(i)]))
            << file.lastError();
}

TEST(CorvexisImage, FramesRoundTripRawAndCompressedAndTheFinalNameAppearsOnlyAtClose)
{
    FilesTest::TemporaryDirectory dir;
    for (bool compression : {false, true}) {
        for (int type : {ImageDescriptor::kUByte, ImageDescriptor::kShort, ImageDescriptor::kFloat}) {
            const auto set = FilesTest::imageSet(type, type == ImageDescriptor::kUByte ? 3 : 1, 4);
            const std::string path =
                dir.file("live-" + std::to_string(type) + (compression ? "z" : "") + ".bin");
            CorvexisImage file;
            ASSERT_TRUE(file.open(path, *set, compression)) << file.lastError();
            EXPECT_FALSE(file.open(path, *set, compression));  // one file at a time
            appendAll(file, *set);
            EXPECT_FALSE(std::filesystem::exists(path));
            EXPECT_TRUE(std::filesystem::exists(path + ".part"));
            ASSERT_TRUE(file.close()) << file.lastError();
            EXPECT_TRUE(std::filesystem::exists(path));
            EXPECT_FALSE(std::filesystem::exists(path + ".part"));

            CorvexisImage::ReadInfo info;
            std::string error;
            auto loaded = CorvexisImage::load(path, &info, &error);
            ASSERT_NE(loaded, nullptr) << error;
            expectFrames(*set, *loaded, set->size());
            EXPECT_EQ(loaded->name(), set->name());
            EXPECT_EQ(loaded->modality(), set->modality());
            EXPECT_TRUE(loaded->properties() == set->properties());
            EXPECT_TRUE(FilesTest::sameComponents(loaded->components(), set->components()));
            EXPECT_TRUE(info.complete);
            EXPECT_FALSE(info.truncated);
            EXPECT_EQ(info.compressed, compression && type == ImageDescriptor::kUByte);
        }
    }
}

// Compressible 8-bit frames get smaller with compression and come back exactly.
TEST(CorvexisImage, CompressionShrinksSmoothFrames)
{
    FilesTest::TemporaryDirectory dir;
    SharedImageSet set("smooth");
    auto image = TypedImage<std::uint8_t>::create(64, 48);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            image->at(x, y) = static_cast<std::uint8_t>(x / 4 + y);
    set.add(std::make_shared<SharedImage>(std::unique_ptr<MemImage>(std::move(image))), 5.0);
    CorvexisImage file;
    ASSERT_TRUE(file.open(dir.file("z.bin"), set, true));
    appendAll(file, set);
    EXPECT_LT(file.bytesWritten(), file.rawPixelBytes());
    ASSERT_TRUE(file.closeAsync().get());
    CorvexisImage::ReadInfo info;
    auto loaded = CorvexisImage::load(dir.file("z.bin"), &info);
    ASSERT_NE(loaded, nullptr);
    expectFrames(set, *loaded, 1);
    EXPECT_LT(info.storedPixelBytes, info.rawPixelBytes);
}

// After a crash the ".part" file holds what was appended. Cut anywhere, it gives back exactly the frames
// whose records lie completely before the cut.
TEST(CorvexisImage, AFileCutAtAnyPointGivesExactlyTheCompleteFramesBeforeTheCut)
{
    FilesTest::TemporaryDirectory dir;
    const auto set = FilesTest::imageSet(ImageDescriptor::kUByte, 1, 12);
    const std::string path = dir.file("crash.bin");
    CorvexisImage file;
    ASSERT_TRUE(file.open(path, *set, true));
    const std::uint64_t headerEnd = file.bytesWritten();
    std::vector<std::uint64_t> frameEnds;
    for (int i = 0; i < set->size(); ++i) {
        ASSERT_TRUE(file.append(*set->get(i), set->timestamp(i),
                                &set->elementwiseComponents()[static_cast<std::size_t>(i)]));
        frameEnds.push_back(file.bytesWritten());
    }
    // Not closed: the bytes are what a killed process leaves.
    const std::string bytes = readAll(path + ".part");
    ASSERT_EQ(bytes.size(), frameEnds.back());

    std::mt19937 rng(7);
    std::vector<std::size_t> cuts{0, 8, 16, headerEnd - 1, headerEnd, bytes.size()};
    for (std::uint64_t end : frameEnds) {
        cuts.push_back(end - 1);
        cuts.push_back(end);
        cuts.push_back(end + 1);
    }
    for (int i = 0; i < 200; ++i)
        cuts.push_back(std::uniform_int_distribution<std::size_t>(0, bytes.size())(rng));
    for (std::size_t cut : cuts) {
        CorvexisImage::ReadInfo info;
        std::string error;
        auto loaded = CorvexisImage::load(view(bytes, cut), &info, &error);
        if (cut < headerEnd) {
            EXPECT_EQ(loaded, nullptr) << "cut " << cut;
            continue;
        }
        ASSERT_NE(loaded, nullptr) << "cut " << cut << ": " << error;
        int complete = 0;
        while (complete < static_cast<int>(frameEnds.size()) &&
               frameEnds[static_cast<std::size_t>(complete)] <= cut)
            ++complete;
        expectFrames(*set, *loaded, complete);
        EXPECT_FALSE(info.complete);
        EXPECT_EQ(info.damagedFrames, 0u) << "cut " << cut;
    }
    file.close();
}

TEST(CorvexisImage, AProcessKilledWhileRecordingLeavesEveryAppendedFrame)
{
    FilesTest::TemporaryDirectory dir;
    const auto set = FilesTest::imageSet(ImageDescriptor::kUByte, 1, 6);
    const std::string path = dir.file("killed.bin");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CorvexisImage file;
        if (!file.open(path, *set, false))
            ::_exit(2);
        for (int i = 0; i < set->size(); ++i)
            file.append(*set->get(i), set->timestamp(i),
                        &set->elementwiseComponents()[static_cast<std::size_t>(i)]);
        ::raise(SIGKILL);
        ::_exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_FALSE(std::filesystem::exists(path));
    CorvexisImage::ReadInfo info;
    auto loaded = CorvexisImage::load(path + ".part", &info);
    ASSERT_NE(loaded, nullptr);
    expectFrames(*set, *loaded, set->size());
    EXPECT_TRUE(info.truncated);
    EXPECT_FALSE(info.complete);
}

TEST(CorvexisImage, ADamagedFrameIsSkippedAndCountedAndOtherFilesAreRefused)
{
    FilesTest::TemporaryDirectory dir;
    const auto set = FilesTest::imageSet(ImageDescriptor::kUByte, 1, 3);
    CorvexisImage file;
    ASSERT_TRUE(file.open(dir.file("d.bin"), *set, false));
    std::vector<std::uint64_t> ends{file.bytesWritten()};
    for (int i = 0; i < 3; ++i) {
        file.append(*set->get(i), set->timestamp(i));
        ends.push_back(file.bytesWritten());
    }
    ASSERT_TRUE(file.close());
    std::string bytes = readAll(dir.file("d.bin"));
    bytes[(ends[1] + ends[2]) / 2] ^= 0x40;  // inside frame 1's record
    CorvexisImage::ReadInfo info;
    auto loaded = CorvexisImage::load(view(bytes, bytes.size()), &info);
    ASSERT_NE(loaded, nullptr);
    ASSERT_EQ(loaded->size(), 2);
    EXPECT_EQ(loaded->timestamp(1), set->timestamp(2));
    EXPECT_EQ(info.damagedFrames, 1u);
    EXPECT_TRUE(info.complete);

    std::string error;
    const std::string notLive =
        "\x89"
        "CVX\r\n\x1a\n"
        "\x01\0\0\0\0\0\0\0";
    EXPECT_EQ(CorvexisImage::load(view(notLive, notLive.size()), nullptr, &error), nullptr);
    EXPECT_NE(error.find("signature"), std::string::npos);
    EXPECT_EQ(CorvexisImage::load(dir.file("absent.bin"), nullptr, &error), nullptr);
    EXPECT_FALSE(file.append(*set->get(0), 1.0));
    EXPECT_EQ(file.lastError(), "no file is open");
}

}  // namespace
}  // namespace Corvexis
