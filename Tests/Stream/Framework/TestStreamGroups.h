#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QCoreApplication>

#include "Stream/Framework/CompoundStreamData.h"
#include "Stream/Framework/StreamGroup.h"
#include "Stream/Framework/Substream.h"
#include "Stream/Framework/TrackingStream.h"
#include "Stream/Framework/TrackingSubstream.h"

namespace Corvexis::Test {

// A group driven by the test: its worker idles, and the test emits compound records itself (from any
// thread, standing in for the worker). Hooks succeed and are counted; pausing is supported.
class TestStreamGroup : public TrackingStream, public StreamGroup<TestStreamGroup>
{
public:
    explicit TestStreamGroup(const std::string& name = "group") : TrackingStream(name) {}
    ~TestStreamGroup() override
    {
        close();
        destroySubstreams();
    }

    bool supportsPausing() const override { return true; }

    void emit(std::shared_ptr<const CompoundStreamData> data, bool toSubstreams = true)
    {
        emitCompoundStreamData(data, toSubstreams);
    }

    // Puts the proxy into any state, transitional ones included, without running a hook.
    void force(State state) { changeState(state); }

    std::atomic<int> opens{0}, starts{0}, stops{0}, closes{0}, pauses{0}, resumes{0};

protected:
    bool openImpl() override { return ++opens, true; }
    bool closeImpl() override { return ++closes, true; }
    bool startImpl() override { return ++starts, true; }
    bool stopImpl() override { return ++stops, true; }
    bool pauseImpl() override { return ++pauses, true; }
    bool resumeImpl() override { return ++resumes, true; }
    std::optional<WorkContinuation> doWork() override { return std::nullopt; }
};

// A substream that notes its destruction in a flag the test keeps.
class WatchedImageSubstream : public ImageSubstream
{
public:
    WatchedImageSubstream(StreamGroupBase* group, const std::string& name,
                          std::shared_ptr<std::atomic<bool>> destroyed)
        : ImageSubstream(group, name), destroyed_(std::move(destroyed))
    {
    }
    ~WatchedImageSubstream() override { destroyed_->store(true); }

private:
    std::shared_ptr<std::atomic<bool>> destroyed_;
};

// Kept for the rest of the process: removal of substreams runs on the application's main thread.
inline void ensureApplication(const char* testName)
{
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static std::string name;
        name = testName;
        static char* argv[] = {name.data(), nullptr};
        new QCoreApplication(argc, argv);
    }
}

}  // namespace Corvexis::Test
