#include "Stream/Video/VideoFileStreamPlaybackWrapper.h"

#include <gtest/gtest.h>

#include "Host/Lib/SelectionWidget.h"
#include "Stream/StreamAlgorithmFactory.h"
#include "Stream/StreamPlugin.h"
#include "Stream/Video/VideoFileStream.h"

namespace Corvexis {
namespace {

TEST(VideoRegistrationTest, FactoryOffersTheVideoAlgorithmsUnderTheirMenuPaths)
{
    StreamAlgorithmFactory factory;
    const std::pair<const char*, const char*> expected[] = {
        {"Stream.VideoStreamIoFile", "IO;Streaming;Video File Stream"},
        {"Stream.VideoStreamExtraction", "Streaming;Extract selection to image set"},
        {"Stream.StreamToVideo", "Streaming;Record Stream to Video"},
    };
    for (const auto& [id, menu] : expected) {
        const auto entry = factory.entry(id);
        ASSERT_TRUE(entry) << id;
        EXPECT_EQ(entry->menuPath, menu);
    }
    // Inputs decide: the file reader takes none, the others one stream of the right kind.
    EXPECT_TRUE(factory.create("Stream.VideoStreamIoFile", DataList()));
    VideoFileStream video;
    EXPECT_FALSE(factory.create("Stream.VideoStreamIoFile", DataList{&video}));
    EXPECT_TRUE(factory.create("Stream.VideoStreamExtraction", DataList{&video}));
    EXPECT_FALSE(factory.create("Stream.VideoStreamExtraction", DataList()));
    EXPECT_TRUE(factory.create("Stream.StreamToVideo", DataList{&video}));
}

TEST(VideoRegistrationTest, PluginRegistersThePlaybackWrapperForItsLifetime)
{
    VideoFileStream video;
    const int before = SelectionWidget::playbackWrapperCount();
    {
        StreamPlugin plugin;
        ASSERT_EQ(plugin.init(), PluginBase::Status::Success);
        EXPECT_EQ(SelectionWidget::playbackWrapperCount(), before + 1);
        auto* wrapper = SelectionWidget::playbackWrapper(&video);
        ASSERT_NE(wrapper, nullptr);
        EXPECT_NE(dynamic_cast<VideoFileStreamPlaybackWrapper*>(wrapper), nullptr);
    }
    EXPECT_EQ(SelectionWidget::playbackWrapperCount(), before);
    EXPECT_EQ(SelectionWidget::playbackWrapper(&video), nullptr);
}

}  // namespace
}  // namespace Corvexis
