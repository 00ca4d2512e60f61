// Data items are renamed, re-posed and regrouped from the user interface while worker threads read
// them; these tests hammer the thread-safe operations from several threads at once (run under TSan).
#include "Host/Core/Data.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "Host/Core/CompoundData.h"
#include "Host/Core/DataComponentRegistry.h"
#include "Host/Core/Selectable.h"

using namespace Corvexis;

namespace {

class Item : public Data, public CompoundData, public Selectable
{
public:
    using Data::Data;
    Kind kind() const override { return Kind::Compound; }
    int size() const override { return 4; }
};

constexpr auto kDuration = std::chrono::milliseconds(500);

// Runs `writer` on one thread and `reader` on two, each until the deadline; returns the reader passes.
template <typename W, typename R>
long hammer(W writer, R reader)
{
    std::atomic<bool> stop{false};
    std::atomic<long> passes{0};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (long i = 0; !stop; ++i)
            writer(i);
    });
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&] {
            while (!stop) {
                reader();
                ++passes;
            }
        });
    }
    std::this_thread::sleep_for(kDuration);  // bounded run time, not a wait for a condition
    stop = true;
    for (auto& th : threads)
        th.join();
    return passes;
}

}  // namespace

TEST(DataModelConcurrencyTest, NameAndPoseReadWhileWritten)
{
    Item item("start");
    const Eigen::Matrix4d shifted = [] {
        Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
        m(0, 3) = 5.0;
        return m;
    }();
    std::atomic<int> torn{0};
    const long passes = hammer(
        [&](long i) {
            item.setName(i % 2 ? "odd name that is long enough to allocate" : "even");
            item.setMatrixToWorld(i % 2 ? shifted : Eigen::Matrix4d::Identity());
        },
        [&] {
            const std::string name = item.name();
            if (name != "even" && name != "odd name that is long enough to allocate" && name != "start")
                ++torn;
            const Eigen::Matrix4d m = item.matrixToWorld();
            if (m != shifted && m != Eigen::Matrix4d::Identity())
                ++torn;
        });
    EXPECT_GT(passes, 0);
    EXPECT_EQ(torn.load(), 0);
}

TEST(DataModelConcurrencyTest, ContentsFocusAndRegistryUnderConcurrentChange)
{
    Item group("group");
    std::vector<std::unique_ptr<Item>> items;
    for (int i = 0; i < 8; ++i)
        items.push_back(std::make_unique<Item>("item"));
    std::atomic<int> bad{0};
    const long passes = hammer(
        [&](long i) {
            Item* it = items[static_cast<size_t>(i) % items.size()].get();
            if (!group.addContent(it))
                group.removeContent(it);
            group.setFocus(static_cast<int>(i % 4));
            group.setSelection({static_cast<int>(i % 4)});
            DataComponentRegistry::get().registerType("ConcurrencyProbe", [] { return nullptr; });
        },
        [&] {
            const DataList list = group.containedData();
            if (list.size() > items.size())
                ++bad;
            if (!group.hasValidFocus())
                ++bad;
            if (group.selection().size() != 1 && !group.selection().empty())
                ++bad;
            (void)DataComponentRegistry::get().create("ConcurrencyProbe");
            (void)DataComponentRegistry::get().registeredTypes();
        });
    EXPECT_GT(passes, 0);
    EXPECT_EQ(bad.load(), 0);
    DataComponentRegistry::get().unregisterType("ConcurrencyProbe");
}
