// Cost of one emission reaching every receiver, for our Signal, Boost.Signals2 and a plain loop over
// std::function, measured in the same run so that the three are compared on the same machine state.
// Prints FIGURE lines in nanoseconds per emission (all receivers together).

#include <boost/signals2/signal.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "Host/Core/Signal.h"

namespace {

using Clock = std::chrono::steady_clock;

// Receivers add into this; called through std::function or the signal, so it cannot be optimised out.
long gSink = 0;

void receiver(int value)
{
    gSink += value;
}

// Median over several timed batches of ns per call of `emitOnce`, with batches sized to ~20 ms.
template <typename F>
double nsPerEmission(F&& emitOnce)
{
    long batch = 1000;
    for (;;) {
        const auto start = Clock::now();
        for (long i = 0; i < batch; ++i)
            emitOnce();
        if (Clock::now() - start >= std::chrono::milliseconds(20))
            break;
        batch *= 2;
    }
    std::vector<double> samples;
    for (int repeat = 0; repeat < 9; ++repeat) {
        const auto start = Clock::now();
        for (long i = 0; i < batch; ++i)
            emitOnce();
        const std::chrono::duration<double, std::nano> elapsed = Clock::now() - start;
        samples.push_back(elapsed.count() / static_cast<double>(batch));
    }
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    return samples[samples.size() / 2];
}

}  // namespace

int main()
{
    for (const int receivers : {1, 4, 16}) {
        Corvexis::Signal<int> ours;
        boost::signals2::signal<void(int)> theirs;
        std::vector<std::function<void(int)>> plain;
        for (int i = 0; i < receivers; ++i) {
            ours.connect([](int v) { receiver(v); });
            theirs.connect([](int v) { receiver(v); });
            plain.emplace_back([](int v) { receiver(v); });
        }
        const double oursNs = nsPerEmission([&] { ours.emitSignal(1); });
        const double theirsNs = nsPerEmission([&] { theirs(1); });
        const double plainNs = nsPerEmission([&] {
            for (const auto& f : plain)
                f(1);
        });
        std::printf("FIGURE signal_emit_ns_r%d %.1f ns\n", receivers, oursNs);
        std::printf("FIGURE boost_signals2_emit_ns_r%d %.1f ns\n", receivers, theirsNs);
        std::printf("FIGURE std_function_call_ns_r%d %.1f ns\n", receivers, plainNs);
    }
    // Keeps the sink observable.
    return gSink == 0 ? 1 : 0;
}
