#include "Host/Core/Parameter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "Host/Core/Configurable.h"
#include "Host/Core/GlobalSettings.h"
#include "Host/Core/Properties.h"

using namespace Corvexis;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kStressTime = std::chrono::milliseconds(700);

class Owner : public Configurable
{
public:
    Parameter<int> counter{"counter", 0, this};
    Parameter<std::string> text{"text", "", this};
};

}  // namespace

// Writers change values while readers read them, save the configuration and configure from it. Every
// change must be signalled exactly once per real change on the thread that made it, and values must
// never tear (a text is always one of the texts written).
TEST(ParameterConcurrencyTest, ConcurrentSettersReadersAndConfigureStayConsistent)
{
    Owner owner;
    std::atomic<long> valueSignals{0};
    std::atomic<long> ownerSignals{0};
    std::atomic<bool> badText{false};
    auto c1 = owner.counter.signalValueChanged.connect([&](const int&) { ++valueSignals; });
    auto c2 = owner.signalParametersChanged.connect([&] { ++ownerSignals; });

    std::atomic<bool> stop{false};
    std::atomic<long> writes{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < 2; ++w)
        threads.emplace_back([&, w] {
            int i = 0;
            while (!stop.load()) {
                owner.counter = (w + 1) * 1000000 + i++;  // every write is a change
                owner.text = std::string(static_cast<size_t>(i % 50), static_cast<char>('a' + w));
                ++writes;
            }
        });
    threads.emplace_back([&] {
        while (!stop.load()) {
            const std::string t = owner.text.value();
            if (!t.empty() && t.find_first_not_of(t[0]) != std::string::npos)
                badText = true;
            Properties p;
            owner.configuration(&p);
            owner.configure(&p);
            owner.parameter("counter")->label();
        }
    });
    threads.emplace_back([&] {
        while (!stop.load()) {
            owner.counter.setAttribute("min", "0");
            GlobalSettings::get().storeConfiguration("ParameterConcurrencyTest", owner);
            GlobalSettings::get().section("ParameterConcurrencyTest");
        }
    });

    const auto end = Clock::now() + kStressTime;
    while (Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stop = true;
    for (auto& t : threads)
        t.join();
    GlobalSettings::get().removeSection("ParameterConcurrencyTest");

    EXPECT_FALSE(badText.load());
    EXPECT_GT(writes.load(), 0);
    // Each writer's counter write is a change (writers use disjoint values), and configure only ever
    // writes back a value that was current, which may or may not be a change.
    EXPECT_GE(valueSignals.load(), writes.load());
    EXPECT_GE(ownerSignals.load(), writes.load());
}
