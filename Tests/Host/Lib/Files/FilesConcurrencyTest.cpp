#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "FilesTestData.h"
#include "Host/Lib/Files/BackgroundExporter.h"
#include "Host/Lib/Files/CorvexisFile.h"
#include "Host/Lib/Files/CorvexisImage.h"

namespace Corvexis {
namespace {

// Saves queued from several threads at once while another thread polls the busy flags: every save
// completes, every file reads back, and no item is reported free while its save could still read it.
TEST(FilesConcurrency, SavesQueuedFromManyThreadsWhileBusyFlagsArePolled)
{
    FilesTest::TemporaryDirectory dir;
    constexpr int kThreads = 4;
    constexpr int kSavesPerThread = 4;
    OwningDataList items;
    for (int i = 0; i < kThreads * kSavesPerThread; ++i)
        items.add(FilesTest::trackingSequence(20 + i));
    BackgroundExporter exporter;
    std::atomic<bool> polling{true};
    std::thread poller([&] {
        while (polling.load())
            for (std::size_t i = 0; i < items.size(); ++i)
                exporter.isDataBeingSaved(items[i]);
    });
    std::vector<std::thread> savers;
    std::vector<std::shared_future<bool>> futures(items.size());
    for (int t = 0; t < kThreads; ++t) {
        savers.emplace_back([&, t] {
            for (int k = 0; k < kSavesPerThread; ++k) {
                const std::size_t i = static_cast<std::size_t>(t * kSavesPerThread + k);
                futures[i] = exporter.saveAsync(DataList{items[i]}, dir.file("t" + std::to_string(i)));
            }
        });
    }
    for (auto& s : savers)
        s.join();
    for (auto& f : futures)
        EXPECT_TRUE(f.get());
    exporter.waitForAll();
    polling = false;
    poller.join();
    CorvexisFile file;
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_FALSE(exporter.isDataBeingSaved(items[i]));
        auto back = file.load(dir.file("t" + std::to_string(i) + ".cvx"));
        ASSERT_TRUE(back.has_value()) << i;
        ASSERT_EQ(back->size(), 1u);
        EXPECT_TRUE(FilesTest::sameItem(*items[i], *(*back)[0])) << i;
    }
}

// A live file closed on its own thread while the same writer already records the next one.
TEST(FilesConcurrency, ALiveFileClosesAsynchronouslyWhileTheNextOneIsWritten)
{
    FilesTest::TemporaryDirectory dir;
    const auto set = FilesTest::imageSet(ImageDescriptor::kUByte, 1, 6);
    CorvexisImage writer;
    std::vector<std::shared_future<bool>> closes;
    for (int file = 0; file < 4; ++file) {
        ASSERT_TRUE(writer.open(dir.file("r" + std::to_string(file) + ".bin"), *set, file % 2 == 1));
        for (int i = 0; i < set->size(); ++i)
            ASSERT_TRUE(writer.append(*set->get(i), set->timestamp(i)));
        closes.push_back(writer.closeAsync());
    }
    for (auto& c : closes)
        EXPECT_TRUE(c.get());
    for (int file = 0; file < 4; ++file) {
        CorvexisImage::ReadInfo info;
        auto loaded = CorvexisImage::load(dir.file("r" + std::to_string(file) + ".bin"), &info);
        ASSERT_NE(loaded, nullptr);
        EXPECT_EQ(loaded->size(), set->size());
        EXPECT_TRUE(info.complete);
    }
}

}  // namespace
}  // namespace Corvexis
