#include "Host/Lib/PluginLoader.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "Host/Core/Log.h"
#include "Host/Lib/FactoryRegistry.h"
#include "Host/Lib/PluginAutoRegistrationGuard.h"
#include "Host/Lib/PluginBase.h"

namespace Corvexis {
namespace {

// The build puts this test in <build>/bin, the streaming plug-in in <build>/lib and the test plug-ins
// in <build>/testplugins/{good,broken}.
std::filesystem::path buildDir()
{
    return std::filesystem::canonical("/proc/self/exe").parent_path().parent_path();
}
const std::string kStreamDir = (buildDir() / "lib").string();
const std::string kGoodDir = (buildDir() / "testplugins" / "good").string();
const std::string kBrokenDir = (buildDir() / "testplugins" / "broken").string();

bool hasAlgorithm(const std::string& id)
{
    return FactoryRegistry::get().algorithmDescriptor(id).has_value();
}

bool contains(const std::vector<std::string>& lines, const std::string& fragment)
{
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(fragment) != std::string::npos; });
}

class PluginLoaderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists(kGoodDir) || !std::filesystem::exists(kStreamDir + "/libCorvexisStream.so"))
            GTEST_SKIP() << "plug-ins not built next to this test";
    }
};

TEST_F(PluginLoaderTest, LoadsTheStreamingPluginAsTheApplicationDoes)
{
    {
        PluginLoader loader;
        EXPECT_EQ(loader.loadFromDirectories({kStreamDir}), 1);
        // The host libraries in the same directory are not plug-ins and are skipped quietly.
        EXPECT_TRUE(loader.errors().empty()) << loader.errors().front();
        const auto plugins = loader.plugins();
        ASSERT_EQ(plugins.size(), 1u);
        EXPECT_EQ(plugins[0].id, "Corvexis.Stream");
        EXPECT_EQ(plugins[0].version, "UNKNOWN");
        EXPECT_EQ(plugins[0].plugin->description(),
                  "Plugin for real-time streaming of image, tracking, or custom data and network communication");
        EXPECT_TRUE(PluginAutoRegistrationGuard::isRegistered("Corvexis.Stream"));
        EXPECT_EQ(FactoryRegistry::get().controllerMenuEntries().size(), 4u);
    }
    // Destroying the plug-in unregistered its factories.
    EXPECT_TRUE(FactoryRegistry::get().controllerMenuEntries().empty());
}

TEST_F(PluginLoaderTest, WrongDescriptorIsRefusedThrowingInitIsSkippedAndOthersLoad)
{
    Log::ScopedCapture capture;
    PluginLoader loader;
    EXPECT_EQ(loader.loadFromDirectories({kBrokenDir, kGoodDir}), 1);
    ASSERT_EQ(loader.plugins().size(), 1u);
    EXPECT_EQ(loader.plugins()[0].id, "Corvexis.TestStreams");
    EXPECT_EQ(loader.plugins()[0].version, "1.0");
    EXPECT_TRUE(hasAlgorithm("Test.CreateTicks"));

    const auto& errors = loader.errors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_TRUE(contains(errors, "Refusing plug-in " + kBrokenDir +
                                     "/libWrongVersionPlugin.so: descriptor field 'hostversion' is '4.4.0', "
                                     "the host expects '4.5.0'"));
    EXPECT_TRUE(contains(errors, "Skipping plug-in " + kBrokenDir +
                                     "/libThrowingInitPlugin.so ('Corvexis.ThrowingInit'): its initialisation threw: "
                                     "init failed on purpose"));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Error, "PluginLoader", "libWrongVersionPlugin.so"));
    // What the throwing plug-in registered before it threw is gone with it.
    EXPECT_FALSE(hasAlgorithm("Throwing.Never"));
    EXPECT_FALSE(PluginAutoRegistrationGuard::isRegistered("Corvexis.WrongVersion"));

    loader.unloadAll();
    EXPECT_FALSE(hasAlgorithm("Test.CreateTicks"));
    EXPECT_TRUE(loader.plugins().empty());
}

TEST_F(PluginLoaderTest, ASecondCopyOfALoadedPluginIsRefused)
{
    Log::ScopedCapture capture;
    PluginLoader loader;
    EXPECT_TRUE(loader.loadLibrary(kGoodDir + "/libTestStreamsPlugin.so"));
    EXPECT_FALSE(loader.loadLibrary(kGoodDir + "/libTestStreamsPlugin.so"));
    ASSERT_EQ(loader.errors().size(), 1u);
    EXPECT_NE(loader.errors()[0].find("the plug-in 'Corvexis.TestStreams' is already loaded from"), std::string::npos);
    EXPECT_EQ(loader.plugins().size(), 1u);
}

TEST_F(PluginLoaderTest, MissingDirectoriesAndUnloadableFilesAreReported)
{
    Log::ScopedCapture capture;
    const auto dir = std::filesystem::temp_directory_path() / ("plugin-loader-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto fake = dir / "libNotReally.so";
    {
        std::FILE* f = std::fopen(fake.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("not an ELF file", f);
        std::fclose(f);
    }
    PluginLoader loader;
    EXPECT_EQ(loader.loadFromDirectories({(dir / "absent").string(), dir.string()}), 0);
    std::filesystem::remove_all(dir);
    ASSERT_EQ(loader.errors().size(), 2u);
    EXPECT_EQ(loader.errors()[0], "Plug-in directory '" + (dir / "absent").string() + "' does not exist");
    EXPECT_NE(loader.errors()[1].find("Cannot load plug-in " + fake.string() + ": "), std::string::npos);
}

}  // namespace
}  // namespace Corvexis
