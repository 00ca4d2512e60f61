#include <atomic>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "Stream/Framework/SubstreamWrapper.h"
#include "TestStreamGroups.h"
#include "TestStreams.h"

using namespace Corvexis;
namespace T = Corvexis::Test;
using State = Stream::State;

namespace {

// A wrapped stream that counts its stop and pause hooks and may support pausing.
class WrappedStream : public T::ScriptedStream
{
public:
    explicit WrappedStream(bool pausing)
        : ScriptedStream("wrapped", ThreadingMode::WorkerThread), pausing_(pausing)
    {
        pauseResult = pausing;
    }
    bool supportsPausing() const override { return pausing_; }

    std::atomic<int> stops{0}, pauses{0}, starts{0};

protected:
    bool stopImpl() override { return ++stops, ScriptedStream::stopImpl(); }
    bool pauseImpl() override { return ++pauses, ScriptedStream::pauseImpl(); }
    bool startImpl() override { return ++starts, ScriptedStream::startImpl(); }

private:
    const bool pausing_;
};

// Where the wrapped stream must end for a proxy state: the proxy's resting state, seen from a stream
// that may not pause.
State expectedRest(State proxy, bool pausing)
{
    switch (proxy) {
        case State::Closed:
        case State::Closing:
            return State::Closed;
        case State::Opening:
        case State::Open:
        case State::Stopping:
            return State::Open;
        case State::Starting:
        case State::Running:
        case State::Resuming:
            return State::Running;
        case State::Pausing:
        case State::Paused:
            return pausing ? State::Paused : State::Open;
    }
    return State::Closed;
}

}  // namespace

TEST(SubstreamWrapper, InitialSyncBringsTheWrappedStreamToEveryProxyState)
{
    for (bool pausing : {true, false}) {
        std::vector<State> starts{State::Closed, State::Open, State::Running};
        if (pausing)
            starts.push_back(State::Paused);
        for (int p = 0; p <= static_cast<int>(State::Closing); ++p) {
            const auto proxyState = static_cast<State>(p);
            for (State start : starts) {
                T::TestStreamGroup group;
                group.force(proxyState);
                auto wrapped = std::make_unique<WrappedStream>(pausing);
                T::bringTo(*wrapped, start);
                Stream* raw = wrapped.get();
                {
                    SubstreamWrapper wrapper(std::move(wrapped), &group);
                    EXPECT_EQ(wrapper.stream(), raw);
                    EXPECT_EQ(raw->currentState(), expectedRest(proxyState, pausing))
                        << "proxy " << Stream::stateToString(proxyState) << ", wrapped from "
                        << Stream::stateToString(start) << (pausing ? ", pausing" : "");
                    // The initial sync never acts on the proxy.
                    EXPECT_EQ(group.currentState(), proxyState);
                }
                group.force(State::Closed);
            }
        }
    }
}

TEST(SubstreamWrapper, WrappedStreamStoppedByItselfStopsTheProxyWithoutEcho)
{
    T::TestStreamGroup group;
    ASSERT_TRUE(group.start());
    auto owned = std::make_unique<WrappedStream>(false);
    WrappedStream* wrapped = owned.get();
    SubstreamWrapper wrapper(std::move(owned), &group);
    ASSERT_EQ(wrapped->currentState(), State::Running);
    EXPECT_EQ(group.starts, 1);

    ASSERT_TRUE(wrapped->stop());
    EXPECT_EQ(group.currentState(), State::Open);
    EXPECT_EQ(group.stops, 1);
    EXPECT_EQ(wrapped->stops, 1);  // the proxy's resulting change did not come back

    // And the other way: the proxy's start reaches the wrapped stream once.
    ASSERT_TRUE(group.start());
    EXPECT_EQ(wrapped->currentState(), State::Running);
    EXPECT_EQ(wrapped->starts, 2);
    EXPECT_EQ(group.starts, 2);
}

TEST(SubstreamWrapper, ProxyChangesFollowTheTable)
{
    for (bool pausing : {true, false}) {
        T::TestStreamGroup group;
        auto owned = std::make_unique<WrappedStream>(pausing);
        WrappedStream* wrapped = owned.get();
        SubstreamWrapper wrapper(std::move(owned), &group);

        ASSERT_TRUE(group.open());
        EXPECT_EQ(wrapped->currentState(), State::Open);
        ASSERT_TRUE(group.start());
        EXPECT_EQ(wrapped->currentState(), State::Running);
        // A pause of the proxy pauses a stream that can, and stops one that cannot.
        ASSERT_TRUE(group.pause());
        EXPECT_EQ(wrapped->currentState(), pausing ? State::Paused : State::Open);
        ASSERT_TRUE(group.resume());
        EXPECT_EQ(wrapped->currentState(), State::Running);
        EXPECT_EQ(wrapped->pauses, pausing ? 1 : 0);
        EXPECT_EQ(wrapped->stops, pausing ? 0 : 1);
        ASSERT_TRUE(group.close());
        EXPECT_EQ(wrapped->currentState(), State::Closed);
        // None of it echoed into the proxy.
        EXPECT_EQ(group.starts, 1);
        EXPECT_EQ(group.pauses, 1);
    }
}

TEST(SubstreamWrapper, WrappedPauseAndCloseReachTheProxy)
{
    T::TestStreamGroup group;
    auto owned = std::make_unique<WrappedStream>(true);
    WrappedStream* wrapped = owned.get();
    SubstreamWrapper wrapper(std::move(owned), &group);
    ASSERT_TRUE(wrapped->start());
    EXPECT_EQ(group.currentState(), State::Running);
    ASSERT_TRUE(wrapped->pause());
    EXPECT_EQ(group.currentState(), State::Paused);
    ASSERT_TRUE(wrapped->resume());
    EXPECT_EQ(group.currentState(), State::Running);
    ASSERT_TRUE(wrapped->close());
    EXPECT_EQ(group.currentState(), State::Closed);
    EXPECT_EQ(wrapped->pauses, 1);
    EXPECT_EQ(group.pauses, 1);
}
