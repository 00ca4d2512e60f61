#include "Host/Core/Log.h"

#include <gtest/gtest.h>

#include <thread>

#include "Host/Core/ThreadName.h"

using namespace Corvexis;

TEST(LogTest, CaptureSeesLevelCategoryTextAndThreadName)
{
    Log::ScopedCapture capture;
    std::thread([] {
        Threading::setCurrentThreadName("LogWriter");
        Log::log(Log::Level::Warning, "Stream", "Something happened");
    }).join();
    const auto records = capture.sink().records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, Log::Level::Warning);
    EXPECT_EQ(records[0].category, "Stream");
    EXPECT_EQ(records[0].text, "Something happened");
    EXPECT_EQ(records[0].threadName, "LogWriter");
    EXPECT_TRUE(capture->contains(Log::Level::Warning, "Stream", "Something happened"));
    EXPECT_FALSE(capture->contains(Log::Level::Error, "Stream", "Something happened"));
}

TEST(LogTest, LevelFiltersAndIsRestoredAfterCapture)
{
    const Log::Level before = Log::level();
    {
        Log::ScopedCapture capture;
        Log::setLevel(Log::Level::Warning);
        EXPECT_FALSE(Log::isAccepted(Log::Level::Info, "X"));
        EXPECT_TRUE(Log::isAccepted(4, "X"));
        Log::log(1, "X", "dropped");
        Log::log(3, "X", "kept");
        Log::log(99, "X", "clamped to error");
        EXPECT_EQ(capture->count(Log::Level::Debug, "X", "dropped"), 0u);
        EXPECT_EQ(capture->count(Log::Level::Warning, "X", "kept"), 1u);
        EXPECT_EQ(capture->count(Log::Level::Error, "X", "clamped to error"), 1u);
    }
    EXPECT_EQ(Log::level(), before);
}

TEST(LogTest, UnnamedThreadsGetAnIdentifier)
{
    std::string name;
    std::thread([&] { name = Threading::currentThreadName(); }).join();
    EXPECT_EQ(name.rfind("tid ", 0), 0u);
    EXPECT_EQ(Threading::currentThreadName(), "main");
}
