#include "Stream/Recording/StreamRecorder.h"

#include <functional>
#include <new>

#include "Host/Core/ElementwiseDataComponentList.h"
#include "Host/Core/Log.h"
#include "Host/Core/Platform.h"
#include "Host/Core/TimestampDataComponent.h"
#include "Stream/Framework/Stream.h"
#include "Stream/Framework/StreamData.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "Stream";

// The record being handled on this thread, if any: which recorder, which recording, and whether it
// counts as in flight (see StreamRecorder::inFlight_).
struct RecordCall
{
    const StreamRecorder* recorder = nullptr;
    std::uint64_t session = 0;
    bool inFlight = false;
};
thread_local RecordCall* tlsCall = nullptr;
constexpr const char* kAlgorithmCategory = "RecorderAlgorithm";
// A memory limit at or below this fraction is treated as "none".
constexpr double kMemoryLimitThreshold = 0.001;

bool refuse(const char* what)
{
    Log::log(Log::Level::Error, kCategory,
             std::string("StreamRecorder: Cannot change the ") + what + " while recording");
    return false;
}

}  // namespace

StreamRecorder::StreamRecorder(Stream& stream) : stream_(stream)
{
    connection_ = stream_.signalStreamData.connect(
        [this](const std::shared_ptr<const StreamData>& data) { onStreamData(data); });
}

StreamRecorder::~StreamRecorder()
{
    disconnectStream();
}

void StreamRecorder::disconnectStream()
{
    connection_.disconnect();
}

bool StreamRecorder::start()
{
    {
        std::lock_guard lock(mutex_);
        if (recording_ || starting_ || stopping_)
            return false;
        starting_ = true;
        ++session_;
    }
    init();
    double timeLimit = 0.0;
    {
        std::lock_guard lock(mutex_);
        samples_ = 0;
        bytes_ = 0;
        limitReached_ = false;
        memoryLimitReached_ = false;
        timeLimit = timeLimitSec_;
    }
    if (timeLimit > 0.0 && stream_.currentState() != Stream::State::Running)
        stream_.startAsync();
    std::lock_guard lock(mutex_);
    timer_.reset();
    recording_ = true;
    starting_ = false;
    if (captureMode_ == CaptureMode::OnRequest)
        captureNext_ = false;
    return true;
}

bool StreamRecorder::stop()
{
    {
        std::unique_lock lock(mutex_);
        if (!recording_ || starting_ || stopping_)
            return false;
        stopping_ = true;
        recording_ = false;
        stoppedSeconds_ = timer_.elapsedMs() / 1000.0;
        // Records already accepted are stored and counted before the storage is finished, so that the
        // statistics and the output agree once stop() returns.
        const int own = tlsCall != nullptr && tlsCall->recorder == this && tlsCall->inFlight ? 1 : 0;
        idle_.wait(lock, [&] { return inFlight_ <= own; });
    }
    finalize();
    std::lock_guard lock(mutex_);
    stopping_ = false;
    return true;
}

bool StreamRecorder::isRecording() const
{
    std::lock_guard lock(mutex_);
    return recording_ || starting_ || stopping_;
}

bool StreamRecorder::hasReachedLimit() const
{
    std::lock_guard lock(mutex_);
    return limitReached_;
}

bool StreamRecorder::hasReachedMemoryLimit() const
{
    std::lock_guard lock(mutex_);
    return memoryLimitReached_;
}

bool StreamRecorder::allStreamsRunning() const
{
    return stream_.currentState() == Stream::State::Running;
}

double StreamRecorder::passedTime() const
{
    std::lock_guard lock(mutex_);
    return recording_ ? timer_.elapsedMs() / 1000.0 : stoppedSeconds_;
}

int StreamRecorder::recordedSamples() const
{
    std::lock_guard lock(mutex_);
    return samples_;
}

std::uint64_t StreamRecorder::recordedBytes() const
{
    std::lock_guard lock(mutex_);
    return bytes_;
}

std::uint64_t StreamRecorder::recordedBytesLimit() const
{
    std::lock_guard lock(mutex_);
    return bytesLimit_;
}

double StreamRecorder::timeLimit() const
{
    std::lock_guard lock(mutex_);
    return timeLimitSec_;
}

double StreamRecorder::samplesLimit() const
{
    std::lock_guard lock(mutex_);
    return samplesLimit_;
}

double StreamRecorder::systemMemoryLimit() const
{
    std::lock_guard lock(mutex_);
    return systemMemoryLimit_;
}

StreamRecorder::CaptureMode StreamRecorder::captureMode() const
{
    std::lock_guard lock(mutex_);
    return captureMode_;
}

void StreamRecorder::setCaptureMode(CaptureMode mode)
{
    std::lock_guard lock(mutex_);
    captureMode_ = mode;
    captureNext_ = false;
}

void StreamRecorder::setCaptureNextSample()
{
    std::lock_guard lock(mutex_);
    captureNext_ = true;
}

bool StreamRecorder::usesDeviceTimestamps() const
{
    std::lock_guard lock(mutex_);
    return useDeviceTimestamp_;
}

bool StreamRecorder::recordBothTimestamps() const
{
    std::lock_guard lock(mutex_);
    return recordBothTimestamps_;
}

bool StreamRecorder::setUseDeviceTimestamp(bool use)
{
    std::lock_guard lock(mutex_);
    if (recording_ || starting_ || stopping_)
        return refuse("timestamp type");
    useDeviceTimestamp_ = use;
    return true;
}

bool StreamRecorder::setRecordBothTimestamps(bool both)
{
    std::lock_guard lock(mutex_);
    if (recording_ || starting_ || stopping_)
        return refuse("timestamp type");
    recordBothTimestamps_ = both;
    return true;
}

bool StreamRecorder::setTimeLimit(double seconds)
{
    std::lock_guard lock(mutex_);
    if (recording_ || starting_ || stopping_)
        return refuse("time limit");
    timeLimitSec_ = seconds;
    return true;
}

bool StreamRecorder::setSamplesLimit(int samples)
{
    std::lock_guard lock(mutex_);
    if (recording_ || starting_ || stopping_)
        return refuse("samples limit");
    samplesLimit_ = samples;
    return true;
}

bool StreamRecorder::setSystemMemoryLimit(double fraction)
{
    std::lock_guard lock(mutex_);
    if (recording_ || starting_ || stopping_)
        return refuse("system memory limit");
    systemMemoryLimit_ = fraction;
    return true;
}

bool StreamRecorder::setRecordedBytesLimit(std::size_t bytes)
{
    std::lock_guard lock(mutex_);
    if (recording_ || starting_ || stopping_)
        return refuse("bytes limit");
    bytesLimit_ = bytes;
    return true;
}

double StreamRecorder::extractTimestamp(const StreamData* data) const
{
    if (data == nullptr)
        return 0.0;
    bool device = false;
    {
        std::lock_guard lock(mutex_);
        device = useDeviceTimestamp_;
    }
    const std::uint64_t ms = device ? data->timestampDevice() : data->timestampArrival();
    return static_cast<double>(ms) / 1000.0;
}

DataComponentList StreamRecorder::streamComponents() const
{
    DataComponentList components = stream_.components();
    while (const DataComponentBase* watch = components.getById("DataDeletionWatch"))
        components.remove(watch);
    return components;
}

void StreamRecorder::resetRecordingStatistics()
{
    std::lock_guard lock(mutex_);
    samples_ = 0;
    bytes_ = 0;
    limitReached_ = false;
    memoryLimitReached_ = false;
}

double StreamRecorder::memoryUsageRatio() const
{
    const auto info = Platform::memoryInfo();
    if (!info || info->totalBytes == 0)
        return 0.0;
    const double used =
        static_cast<double>(info->totalBytes - std::min(info->availableBytes, info->totalBytes));
    return used / static_cast<double>(info->totalBytes);
}

void StreamRecorder::recordFrameDataComponents(ElementwiseDataComponentList& list, const StreamData& data,
                                               int count) const
{
    const bool both = recordBothTimestamps();
    if (data.components().empty() && list.empty() && !both)
        return;
    if (static_cast<int>(list.size()) > count) {
        Log::log(Log::Level::Warning, kAlgorithmCategory,
                 "Cannot add elementwise data components, already too many for current container size.");
        return;
    }
    // Containers add an empty entry with every element; missing entries are appended, and the newest
    // element's entry gets the record's components when it has none yet.
    while (static_cast<int>(list.size()) < count)
        list.append();
    if (count <= 0)
        return;
    DataComponentList& entry = list[static_cast<std::size_t>(count - 1)];
    if (!entry.empty())
        return;
    entry = data.components();
    if (both)
        entry.add(std::make_unique<TimestampDataComponent>(data.timestampDevice(), data.timestampArrival()));
}

bool StreamRecorder::emitOutsideRecord(const std::function<void()>& emit)
{
    RecordCall* call = tlsCall != nullptr && tlsCall->recorder == this ? tlsCall : nullptr;
    if (call != nullptr && call->inFlight) {
        std::lock_guard lock(mutex_);
        --inFlight_;
        call->inFlight = false;
        idle_.notify_all();
    }
    emit();
    if (call == nullptr)
        return isRecording();
    std::lock_guard lock(mutex_);
    if (!recording_)
        return false;
    // A receiver may have restarted the recording: the record then belongs to the new one.
    ++inFlight_;
    call->inFlight = true;
    call->session = session_;
    return true;
}

void StreamRecorder::onStreamData(const std::shared_ptr<const StreamData>& data)
{
    if (!data)
        return;
    double memoryLimit = 0.0;
    {
        std::lock_guard lock(mutex_);
        if (!recording_)
            return;
        if (captureMode_ == CaptureMode::OnRequest && !captureNext_)
            return;
        memoryLimit = systemMemoryLimit_;
    }

    // Reading the machine's memory costs a file read: only done when a memory limit is active.
    const double ratio = memoryLimit > kMemoryLimitThreshold ? memoryUsageRatio() : 0.0;
    bool limitHit = false;
    RecordCall call{this, 0, false};
    {
        std::lock_guard lock(mutex_);
        if (!recording_)
            return;
        if (memoryLimit > kMemoryLimitThreshold && ratio > memoryLimit) {
            memoryLimitReached_ = true;
            limitReached_ = true;
        } else {
            memoryLimitReached_ = false;
            if (bytesLimit_ > 0 && bytes_ > bytesLimit_)
                limitReached_ = true;
        }
        limitHit = limitReached_;
        if (!limitHit) {
            ++inFlight_;
            call.inFlight = true;
            call.session = session_;
        }
    }
    if (limitHit) {
        Log::log(Log::Level::Warning, kAlgorithmCategory,
                 "Reached system memory usage limit or recording memory limit, stopping stream capture");
        if (stop())
            signalLimitReached.emitSignal(this);
        return;
    }

    // From here until the statistics are updated the record is in flight: stop() waits for it.
    RecordCall* outer = tlsCall;
    tlsCall = &call;
    std::uint64_t bytes = 0;
    bool outOfMemory = false;
    try {
        bytes = processStreamData(*data);
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
    }
    tlsCall = outer;

    std::uint64_t total = 0;
    bool stored = false;
    bool reached = false;
    {
        std::lock_guard lock(mutex_);
        if (call.inFlight) {
            if (bytes > 0 && call.session == session_) {
                ++samples_;
                bytes_ += bytes;
                total = bytes_;
                stored = true;
                if (captureMode_ == CaptureMode::OnRequest)
                    captureNext_ = false;
            }
            --inFlight_;
            idle_.notify_all();
        }
        if (recording_ && !outOfMemory) {
            if (timeLimitSec_ > 0.0 && timer_.elapsedMs() >= timeLimitSec_ * 1000.0)
                reached = true;
            else if (samplesLimit_ > 0.0 && samples_ >= samplesLimit_)
                reached = true;
            if (reached)
                limitReached_ = true;
        }
    }
    if (outOfMemory) {
        Log::log(Log::Level::Error, kAlgorithmCategory, "OUT OF MEMORY: Aborting stream grab");
        stop();
        return;
    }
    if (stored)
        signalSampleRecorded.emitSignal(this, total);
    if (reached && stop())
        signalLimitReached.emitSignal(this);
}

}  // namespace Corvexis
