#include "Stream/StreamPlugin.h"

#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "Host/Lib/FactoryRegistry.h"
#include "Host/Lib/PluginAutoRegistrationGuard.h"
#include "Stream/Network/NetworkAlgorithmFactory.h"
#include "Stream/StreamAlgorithmFactory.h"

namespace Corvexis {
namespace {

// The complete table: identifier -> menu path, byte for byte.
const std::map<std::string, std::string> kTable{
    {"StreamRecorder", "Record Stream"},
    {"MultipleStreamRecorder", "Streaming;Record Multiple Streams"},
    {"TrackingStreamVisualization", "Visualization;Tracking Stream Visualization"},
    {"PolyDataStreamVisualization", "Visualization;PolyData Stream Visualization"},
    {"StreamForwarder", "Streaming;Forward to OutStream"},
    {"ImageStreamSpacingAttacher", "Streaming;Attach Spacing Information"},
    {"StreamAlgorithmExecutor", "Streaming;Execute Stream Algorithm"},
    {"ImageTemplateMatching", "Streaming;Image Template Matching"},
    {"LiveStreamingAlgorithm", "Streaming;Live Streaming Algorithm"},
    {"CreateStreamIoFakeImage", "IO;Streaming;Fake Image Stream"},
    {"CreateStreamIoFakeTracking", "IO;Streaming;Fake Tracking Stream"},
    {"CreateStreamIoFakePolyData", "IO;Streaming;Fake PolyData Stream"},
    {"CreateFakePolyDataStream", "Streaming; Fake PolyData Stream"},
    {"CreateRemoteVideoStream", "IO;Streaming;Remote Video Stream"},
    {"StreamToVideo", "Streaming;Record Stream to Video"},
    {"RemoveImageStreamModality", "Streaming;Remove Image Stream Modality"},
    {"TrackingStreamProperties", "Streaming;Tracking Stream Properties"},
    {"SetImageStreamModality", "Streaming;Set Image Stream Modality"},
    {"Playback", "Streaming;Playback"},
    {"VideoCameraStreamPropertiesInspector", "Streaming;Camera Settings"},
    {"VideoStreamExtraction", "Streaming;Extract selection to image set"},
    {"VideoStreamIoFile", "IO;Streaming;Video File Stream"},
    {"IgtlCreateDataIo", "IGTLink Data IO"},
    {"IgtlConnectionIo", "IO;Streaming;IGTLink Connection"},
    {"VideoStreamIoDevice", "IO;Streaming;Video Camera Stream"},
};

TEST(StreamPluginTest, ExportedIdentifierMatchesTheClass)
{
    EXPECT_STREQ(corvexisPluginId(), StreamPlugin::id());
    EXPECT_STREQ(StreamPlugin::id(), "Corvexis.Stream");
    EXPECT_TRUE(PluginAutoRegistrationGuard::isRegistered("Corvexis.Stream"));
}

TEST(StreamPluginTest, DescriptorCarriesTheHostTextAndAVersion)
{
    EXPECT_STREQ(corvexisPluginDescriptor.magic, PluginCompatibility::kHostMagic);
    EXPECT_TRUE(PluginCompatibility::check(corvexisPluginDescriptor.magic));
    EXPECT_EQ(corvexisPluginDescriptor.pluginVersion, "UNKNOWN");
}

TEST(StreamPluginTest, EveryRegisteredEntryIsInTheTableUnderStreamPrefixOnce)
{
    StreamAlgorithmFactory factory;
    EXPECT_EQ(factory.name(), "Stream");
    std::set<std::string> ids;
    std::set<std::string> menuPaths;
    for (const auto& entry : factory.entries()) {
        ASSERT_EQ(entry.id.rfind("Stream.", 0), 0u) << entry.id;
        const std::string shortId = entry.id.substr(7);
        auto row = kTable.find(shortId);
        ASSERT_NE(row, kTable.end()) << "not in the table: " << entry.id;
        EXPECT_EQ(entry.menuPath, row->second) << entry.id;
        EXPECT_TRUE(ids.insert(entry.id).second) << "duplicate identifier " << entry.id;
        EXPECT_TRUE(menuPaths.insert(entry.menuPath).second) << "duplicate menu path " << entry.menuPath;
        if (shortId == "TrackingStreamProperties") {
            EXPECT_EQ(entry.flags, 4);
        } else if (shortId != "VideoStreamIoFile") {
            EXPECT_EQ(entry.flags, 0) << entry.id;
        }
        if (shortId.rfind("CreateStreamIo", 0) == 0) {
            EXPECT_TRUE(factory.create(entry.id, DataList{})) << entry.id;
        }
    }
    // The table itself: every menu path once, the blank after the semicolon kept.
    std::set<std::string> tablePaths;
    for (const auto& [id, path] : kTable)
        EXPECT_TRUE(tablePaths.insert(path).second) << path;
    EXPECT_EQ(kTable.at("CreateFakePolyDataStream"), "Streaming; Fake PolyData Stream");
}

TEST(StreamPluginTest, InitRegistersThreeFactoriesForThePluginsLifetime)
{
    auto& registry = FactoryRegistry::get();
    const size_t before = registry.algorithmDescriptors().size();
    {
        std::unique_ptr<PluginBase> plugin(corvexisCreatePlugin());
        ASSERT_TRUE(plugin);
        EXPECT_TRUE(dynamic_cast<StreamPlugin*>(plugin.get()));
        EXPECT_TRUE(plugin->dependencies().empty());
        ASSERT_EQ(plugin->init(), PluginBase::Status::Success);
        EXPECT_EQ(registry.controllerMenuEntries(),
                  (std::vector<std::string>{"Stream;Attach Spacing Information", "Stream;Remote Video Stream",
                                            "Stream;Stream Controls", "Streaming;Vitals Data Component"}));
        EXPECT_EQ(registry.algorithmDescriptors().size(),
                  before + StreamAlgorithmFactory().entries().size() +
                      Network::NetworkAlgorithmFactory().entries().size());
        EXPECT_TRUE(registry.algorithmDescriptor("Network.ConnectionLatencyMeasuring"));
    }
    EXPECT_TRUE(registry.controllerMenuEntries().empty());
    EXPECT_EQ(registry.algorithmDescriptors().size(), before);
}

}  // namespace
}  // namespace Corvexis
