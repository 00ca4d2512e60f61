#include "Host/Lib/Files/CorvexisFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "FilesTestData.h"
#include "Host/Core/Log.h"
#include "Host/Lib/Files/Crc32c.h"

namespace Corvexis {
namespace {

using FilesTest::sameItem;

ByteBuffer saved(const DataList& items)
{
    ByteBuffer bytes;
    CorvexisFile file;
    EXPECT_TRUE(file.save(items, bytes)) << file.lastError();
    return bytes;
}

void expectSameItems(const OwningDataList& expected, const OwningDataList& got)
{
    ASSERT_EQ(expected.size(), got.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(sameItem(*expected[i], *got[i])) << "item " << i;
}

TEST(CorvexisFile, EveryItemKindRoundTripsBitExactThroughMemoryAndFile)
{
    Log::ScopedCapture quiet;
    const OwningDataList items = FilesTest::everyKind();
    CorvexisFile file;

    ByteBuffer bytes;
    ASSERT_TRUE(file.save(items.dataList(), bytes)) << file.lastError();
    std::optional<OwningDataList> fromMemory = file.load(bytes);
    ASSERT_TRUE(fromMemory.has_value()) << file.lastError();
    EXPECT_TRUE(file.isComplete());
    EXPECT_TRUE(file.damagedItems().empty());
    expectSameItems(items, *fromMemory);

    FilesTest::TemporaryDirectory dir;
    const std::string path = dir.file("all.cvx");
    ASSERT_TRUE(file.save(items.dataList(), path)) << file.lastError();
    // Only the final file remains: the temporary one was renamed.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    std::ifstream in(path, std::ios::binary);
    const std::string onDisk((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(ByteBufferView(onDisk.data(), onDisk.size()), bytes.view()) << "file and memory bytes differ";
    std::optional<OwningDataList> fromFile = file.load(path);
    ASSERT_TRUE(fromFile.has_value()) << file.lastError();
    expectSameItems(items, *fromFile);

    // Limited loads stop early and say nothing is damaged.
    std::optional<OwningDataList> two = file.load(path, 2);
    ASSERT_TRUE(two.has_value());
    EXPECT_EQ(two->size(), 2u);

    // An empty list is a valid file.
    ByteBuffer none = saved(DataList());
    auto loaded = file.load(none);
    ASSERT_TRUE(loaded.has_value());
    EXPECT_TRUE(loaded->empty());
    EXPECT_TRUE(file.isComplete());
}

TEST(CorvexisFile, RefusesItemsItCannotStoreAndLeavesTheTargetUntouched)
{
    FilesTest::TemporaryDirectory dir;
    const std::string path = dir.file("keep.cvx");
    {
        std::ofstream(path) << "old contents";
    }
    struct Stream : Data
    {
        Kind kind() const override { return Kind::ImageStream; }
    } stream;
    CorvexisFile file;
    EXPECT_FALSE(file.save(DataList{&stream}, path));
    EXPECT_NE(file.lastError().find("cannot be stored"), std::string::npos);
    std::ifstream in(path);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "old contents");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    EXPECT_FALSE(file.save(DataList(), dir.file("missing/dir/x.cvx")));
    EXPECT_FALSE(file.load(dir.file("absent.cvx")).has_value());
    EXPECT_NE(file.lastError().find("absent.cvx"), std::string::npos);
}

// A small file with three items: every prefix and every single-byte change must give either an error or
// items that equal the originals, never a crash or a wrong value.
TEST(CorvexisFile, EveryPrefixAndEverySingleByteFlipGivesAnErrorOrIntactItems)
{
    Log::ScopedCapture quiet;
    OwningDataList items;
    items.add(FilesTest::imageSet(ImageDescriptor::kUByte, 1, 2));
    items.add(FilesTest::trackingSequence(2));
    items.add(FilesTest::pointCloud());
    const ByteBuffer bytes = saved(items.dataList());
    ASSERT_LT(bytes.size(), 8000u);

    auto check = [&](const ByteBuffer& damaged, const std::string& what) {
        CorvexisFile file;
        std::optional<OwningDataList> got = file.load(damaged);
        if (!got)
            return;
        // Each loaded item must equal the original of the same name, and a lost item is reported.
        for (std::size_t i = 0; i < got->size(); ++i) {
            bool matched = false;
            for (std::size_t j = 0; j < items.size(); ++j)
                if (items[j]->name() == (*got)[i]->name())
                    matched = sameItem(*items[j], *(*got)[i]);
            ASSERT_TRUE(matched) << what << ": item " << i << " came back changed";
        }
        if (got->size() < items.size()) {
            ASSERT_TRUE(!file.damagedItems().empty() || !file.isComplete()) << what << ": silent loss";
        }
    };

    for (std::size_t n = 0; n < bytes.size(); ++n) {
        ByteBuffer prefix;
        prefix.copyFrom(bytes.data(), n);
        check(prefix, "prefix " + std::to_string(n));
        CorvexisFile file;
        auto got = file.load(prefix);
        if (got) {
            EXPECT_FALSE(file.isComplete()) << "prefix " << n << " claims to be complete";
        }
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        ByteBuffer flipped = bytes;
        flipped[i] ^= static_cast<std::uint8_t>(1u << (i % 8));
        check(flipped, "flip at " + std::to_string(i));
    }
}

TEST(CorvexisFile, ADamagedItemIsReportedByIndexAndKindAndTheOthersLoad)
{
    Log::ScopedCapture capture;
    OwningDataList items;
    items.add(FilesTest::trackingSequence(3));
    items.add(FilesTest::imageSet(ImageDescriptor::kShort, 1, 2));
    items.add(FilesTest::mesh());
    ByteBuffer bytes = saved(items.dataList());
    // Damage a pixel byte in the middle of the image set (item 1).
    ByteBuffer alone = saved(DataList{items[0]});
    const std::size_t inSet = alone.size() - 16 - 4 - 8 + 400;  // past the first item, inside the second
    bytes[inSet] ^= 0x10;

    CorvexisFile file;
    std::optional<OwningDataList> got = file.load(bytes);
    ASSERT_TRUE(got.has_value());
    ASSERT_EQ(got->size(), 2u);
    EXPECT_TRUE(sameItem(*items[0], *(*got)[0]));
    EXPECT_TRUE(sameItem(*items[2], *(*got)[1]));
    ASSERT_EQ(file.damagedItems().size(), 1u);
    EXPECT_EQ(file.damagedItems()[0].index, 1u);
    EXPECT_EQ(file.damagedItems()[0].kind, "image set");
    EXPECT_EQ(file.damagedItems()[0].reason, "checksum mismatch");
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "CorvexisFile", "Item 1 (image set)"));
}

// Patches a chunk's length (and its checksum, so that only the length check can stop it).
void setChunkLength(ByteBuffer& bytes, std::size_t chunkOffset, std::uint64_t length)
{
    std::memcpy(bytes.data() + chunkOffset + 8, &length, 8);
}

TEST(CorvexisFile, HugeLengthsAreRefusedBeforeAllocationAndNewerMajorVersionsAreRefused)
{
    Log::ScopedCapture quiet;
    OwningDataList items;
    items.add(FilesTest::imageSet(ImageDescriptor::kUByte, 1, 1));
    const ByteBuffer bytes = saved(items.dataList());

    ByteBuffer huge = bytes;
    setChunkLength(huge, 16, std::uint64_t{1} << 62);
    CorvexisFile file;
    auto got = file.load(huge);
    ASSERT_TRUE(got.has_value());
    EXPECT_TRUE(got->empty());
    ASSERT_EQ(file.damagedItems().size(), 1u);
    EXPECT_NE(file.damagedItems()[0].reason.find("past the end"), std::string::npos);

    // An inner count of 2^30 frames with a valid checksum: refused by the bound on remaining bytes.
    // The frame count sits right after the set properties; find it by its value 1 after the header.
    ByteBuffer inner = bytes;
    const std::size_t payload = 16 + 16;
    std::size_t countAt = 0;
    for (std::size_t i = payload; i + 4 < inner.size(); ++i) {
        std::uint32_t v = 0;
        std::memcpy(&v, inner.data() + i, 4);
        std::int32_t next = 0;
        std::memcpy(&next, inner.data() + i + 4, 4);
        if (v == 1 && next == ImageDescriptor::kUByte) {
            countAt = i;
            break;
        }
    }
    ASSERT_NE(countAt, 0u);
    const std::uint32_t manyFrames = 1u << 30;
    std::memcpy(inner.data() + countAt, &manyFrames, 4);
    std::uint64_t length = 0;
    std::memcpy(&length, inner.data() + 16 + 8, 8);
    const std::uint32_t crc = Files::crc32cUpdate(0, inner.data() + 16, 16 + length);
    std::memcpy(inner.data() + 16 + 16 + length, &crc, 4);
    got = file.load(inner);
    ASSERT_TRUE(got.has_value());
    EXPECT_TRUE(got->empty());
    ASSERT_EQ(file.damagedItems().size(), 1u);
    EXPECT_NE(file.damagedItems()[0].reason.find("frame count"), std::string::npos);

    ByteBuffer newer = bytes;
    const std::uint32_t major = CorvexisFile::kFormatMajor + 1;
    std::memcpy(newer.data() + 8, &major, 4);
    EXPECT_FALSE(file.load(newer).has_value());
    EXPECT_NE(file.lastError().find("newer"), std::string::npos);

    ByteBuffer notOurs;
    notOurs.copyFrom("GIF89a..........", 16);
    EXPECT_FALSE(file.load(notOurs).has_value());
    EXPECT_NE(file.lastError().find("signature"), std::string::npos);
}

TEST(CorvexisFile, Crc32cMatchesTheStandardCheckValue)
{
    EXPECT_EQ(Files::crc32cUpdate(0, "123456789", 9), 0xE3069283u);
    // Split updates give the same value as one.
    EXPECT_EQ(Files::crc32cUpdate(Files::crc32cUpdate(0, "12345", 5), "6789", 4), 0xE3069283u);

    // Large blocks take the interleaved path; a bit-by-bit reference decides for every length around
    // its thresholds and for odd alignments.
    auto reference = [](std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
        crc = ~crc;
        for (std::size_t i = 0; i < n; ++i) {
            crc ^= p[i];
            for (int k = 0; k < 8; ++k)
                crc = (crc & 1u) ? (crc >> 1) ^ 0x82F63B78u : crc >> 1;
        }
        return ~crc;
    };
    std::vector<std::uint8_t> data(70000);
    std::mt19937 rng(3);
    for (auto& b : data)
        b = static_cast<std::uint8_t>(rng());
    for (std::size_t n : {std::size_t{0}, std::size_t{7}, std::size_t{12287}, std::size_t{12288},
                          std::size_t{12289}, std::size_t{12295}, std::size_t{40000}, std::size_t{69990}})
        for (std::size_t offset : {std::size_t{0}, std::size_t{3}})
            EXPECT_EQ(Files::crc32cUpdate(0x1234u, data.data() + offset, n),
                      reference(0x1234u, data.data() + offset, n))
                << n << " bytes at offset " << offset;
}

}  // namespace
}  // namespace Corvexis
