#include "Host/Core/GlobalSettings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "Host/Core/Configurable.h"
#include "Host/Core/Parameter.h"

using namespace Corvexis;

namespace {

class Component : public Configurable
{
public:
    Parameter<int> timeout{"streamInactivityTimeout", 2000, this};
    Parameter<std::string> path{"defaultStreamRecorderPath", "C:/Temp", this};
};

// Leaves the shared instance as it found it.
class GlobalSettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        saved_ = GlobalSettings::get().copy();
        savedPath_ = GlobalSettings::get().filePath();
    }
    void TearDown() override
    {
        auto lock = GlobalSettings::get().lock();
        GlobalSettings::get().properties() = saved_;
        GlobalSettings::get().setFilePath(savedPath_);
    }

private:
    Properties saved_;
    std::string savedPath_;
};

}  // namespace

TEST_F(GlobalSettingsTest, ConfigurationIsStoredAsASectionAndRestored)
{
    auto& settings = GlobalSettings::get();
    EXPECT_EQ(&settings, &GlobalSettings::get());
    settings.removeSection("TestComponent");

    Component a;
    Component b;
    EXPECT_FALSE(settings.restoreConfiguration("TestComponent", b));
    a.timeout = 10;
    settings.storeConfiguration("TestComponent", a);
    a.timeout = 20;
    settings.storeConfiguration("TestComponent", a);  // replaces, does not append
    EXPECT_EQ(settings.copy().subPropertiesList("TestComponent").size(), 1u);
    EXPECT_TRUE(settings.restoreConfiguration("TestComponent", b));
    EXPECT_EQ(b.timeout.value(), 20);

    // A restoring receiver may read the settings again from its signal without deadlock.
    bool sawSection = false;
    auto connection = b.signalParametersChanged.connect(
        [&] { sawSection = GlobalSettings::get().section("TestComponent") != nullptr; });
    a.timeout = 30;
    settings.storeConfiguration("TestComponent", a);
    settings.restoreConfiguration("TestComponent", b);
    EXPECT_TRUE(sawSection);
    settings.removeSection("TestComponent");
    EXPECT_EQ(settings.section("TestComponent"), nullptr);
}

TEST_F(GlobalSettingsTest, FileLoadAndSaveKeepTheTreeOnFailure)
{
    auto& settings = GlobalSettings::get();
    std::string error;
    settings.setFilePath("");
    EXPECT_FALSE(settings.save(&error));
    EXPECT_FALSE(settings.load(&error));

    const auto dir =
        std::filesystem::temp_directory_path() / ("GlobalSettingsTest-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "settings.txt").string();
    settings.setFilePath(path);

    Component a;
    a.path = "/data/\xc3\xa9t\xc3\xa9";
    settings.storeConfiguration("TestComponent", a);
    ASSERT_TRUE(settings.save(&error)) << error;
    const Properties written = settings.copy();

    settings.removeSection("TestComponent");
    ASSERT_TRUE(settings.load(&error)) << error;
    EXPECT_EQ(settings.copy(), written);

    std::ofstream(path) << "GlobalSettings {\n  broken\n";
    EXPECT_FALSE(settings.load(&error));
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    EXPECT_EQ(settings.copy(), written);
    std::filesystem::remove_all(dir);
}
