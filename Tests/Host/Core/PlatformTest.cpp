#include "Host/Core/Platform.h"

#include <gtest/gtest.h>

using namespace Corvexis;

TEST(PlatformTest, ParsesTotalAndAvailableInBytes)
{
    const char* text =
        "MemTotal:       16318164 kB\n"
        "MemFree:         1048576 kB\n"
        "MemAvailable:    8159082 kB\n"
        "Buffers:          204800 kB\n"
        "Cached:          4096000 kB\n"
        "HugePages_Total:       0\n";
    const auto info = Platform::parseMemoryInfo(text);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->totalBytes, 16318164ull * 1024);
    EXPECT_EQ(info->availableBytes, 8159082ull * 1024);
}

TEST(PlatformTest, EstimatesAvailableWithoutMemAvailableLine)
{
    const char* text =
        "MemTotal:  1000 kB\r\n"
        "MemFree:    100 kB\r\n"
        "Buffers:     20 kB\r\n"
        "Cached:       3 kB\r\n"
        "SwapCached:   9 kB\r\n";  // must not be taken for "Cached"
    const auto info = Platform::parseMemoryInfo(text);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->totalBytes, 1000u * 1024);
    EXPECT_EQ(info->availableBytes, 123u * 1024);
}

TEST(PlatformTest, RejectsMissingOrMalformedFigures)
{
    EXPECT_FALSE(Platform::parseMemoryInfo(""));
    EXPECT_FALSE(Platform::parseMemoryInfo("MemAvailable: 5 kB\n"));
    EXPECT_FALSE(Platform::parseMemoryInfo("MemTotal: 10 kB\nMemFree: 1 kB\n"));  // no estimate possible
    EXPECT_FALSE(Platform::parseMemoryInfo("MemTotal: lots kB\nMemAvailable: 5 kB\n"));
    EXPECT_FALSE(Platform::parseMemoryInfo("MemTotal: 10 MB\nMemAvailable: 5 kB\n"));
    EXPECT_FALSE(Platform::parseMemoryInfo("MemTotal: 10 kB\nMemAvailable: -5 kB\n"));
    EXPECT_FALSE(Platform::parseMemoryInfo("MemTotal: 18446744073709551615 kB\nMemAvailable: 5 kB\n"));
    EXPECT_FALSE(Platform::parseMemoryInfo("MemTotal:"));
    // The last line may lack its newline.
    EXPECT_TRUE(Platform::parseMemoryInfo("MemAvailable: 5 kB\nMemTotal: 10 kB"));
}

TEST(PlatformTest, MemoryInfoOfThisMachineIsPlausible)
{
    const auto info = Platform::memoryInfo();
    ASSERT_TRUE(info);
    EXPECT_GT(info->totalBytes, 64ull << 20);
    EXPECT_GT(info->availableBytes, 0u);
    EXPECT_LE(info->availableBytes, info->totalBytes);
}
