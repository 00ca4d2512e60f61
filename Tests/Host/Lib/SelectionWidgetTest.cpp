#include "Host/Lib/SelectionWidget.h"

#include <gtest/gtest.h>

#include "Host/Lib/SharedImageSet.h"

namespace Corvexis {
namespace {

// Handles only the one item it was made for and counts what it was asked to do.
class CountingWrapper : public SelectionWidget::PlaybackWrapper
{
public:
    CountingWrapper(const Data* handled, int* destroyed) : handled_(handled), destroyed_(destroyed) {}
    ~CountingWrapper() override { ++*destroyed_; }
    bool handles(const Data* data) const override { return data == handled_; }
    bool isPlaying(const Data*) const override { return playing; }
    void play(Data*) override { playing = true; }
    void stop(Data*) override { playing = false; }
    bool isLooping(const Data*) const override { return false; }
    void setLooping(Data*, bool) override {}
    void setUpdateGuiCallback(Data*, std::function<void()>) override {}
    void setPlaySelected(Data*, bool) override {}
    bool playing = false;

private:
    const Data* handled_;
    int* destroyed_;
};

TEST(SelectionWidgetTest, FindsTheNewestWrapperThatHandlesAnItemAndDestroysItOnUnregister)
{
    SharedImageSet a("a");
    SharedImageSet b("b");
    int destroyed = 0;
    const int before = SelectionWidget::playbackWrapperCount();
    auto* first = SelectionWidget::registerPlaybackWrapper(std::make_unique<CountingWrapper>(&a, &destroyed));
    auto* second =
        SelectionWidget::registerPlaybackWrapper(std::make_unique<CountingWrapper>(&a, &destroyed));
    EXPECT_EQ(SelectionWidget::registerPlaybackWrapper(nullptr), nullptr);
    EXPECT_EQ(SelectionWidget::playbackWrapperCount(), before + 2);
    EXPECT_EQ(SelectionWidget::playbackWrapper(&a), second);
    EXPECT_EQ(SelectionWidget::playbackWrapper(&b), nullptr);

    EXPECT_TRUE(SelectionWidget::unregisterPlaybackWrapper(second));
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(SelectionWidget::playbackWrapper(&a), first);
    EXPECT_FALSE(SelectionWidget::unregisterPlaybackWrapper(second));
    EXPECT_TRUE(SelectionWidget::unregisterPlaybackWrapper(first));
    EXPECT_EQ(destroyed, 2);
    EXPECT_EQ(SelectionWidget::playbackWrapperCount(), before);
}

}  // namespace
}  // namespace Corvexis
