#include "Stream/Recording/TrackingStreamRecorder.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "Host/Core/ElementwiseDataComponentList.h"
#include "Host/Core/Log.h"
#include "Host/Core/TimestampDataComponent.h"
#include "Host/Core/TrackingSequence.h"
#include "Stream/Framework/TrackingStream.h"
#include "Stream/Framework/TrackingStreamData.h"

namespace Corvexis {

namespace {
constexpr const char* kCategory = "Stream";

bool refuse(const char* text)
{
    Log::log(Log::Level::Error, kCategory, std::string("TrackingStreamRecorder: ") + text);
    return false;
}
}  // namespace

TrackingStreamRecorder::TrackingStreamRecorder(TrackingStream& stream)
    : StreamRecorder(stream), trackingStream_(stream), recordingInstrument_(stream.mainInstrumentId())
{
    stream.signalInstrumentsChanged.connect(this, [this] { onInstrumentsUpdated(); });
}

TrackingStreamRecorder::~TrackingStreamRecorder()
{
    disconnectStream();
    disconnectAll();
}

int TrackingStreamRecorder::maxInstruments() const
{
    std::lock_guard lock(sequencesMutex_);
    return maxInstruments_;
}

bool TrackingStreamRecorder::setMaxInstruments(int count)
{
    if (isRecording())
        return refuse("Cannot change number of recorded instruments during recording.");
    std::lock_guard lock(sequencesMutex_);
    maxInstruments_ = count;
    return true;
}

bool TrackingStreamRecorder::recordAllInstruments() const
{
    std::lock_guard lock(sequencesMutex_);
    return recordAll_;
}

bool TrackingStreamRecorder::setRecordAllInstruments(bool all)
{
    if (isRecording())
        return refuse("Cannot change recorded instruments during recording.");
    std::lock_guard lock(sequencesMutex_);
    recordAll_ = all;
    return true;
}

std::string TrackingStreamRecorder::recordingInstrument() const
{
    std::lock_guard lock(sequencesMutex_);
    return recordingInstrument_;
}

bool TrackingStreamRecorder::setRecordingInstrument(const std::string& id)
{
    if (isRecording())
        return refuse("Cannot change recording instrument during recording.");
    std::lock_guard lock(sequencesMutex_);
    recordingInstrument_ = id;
    return true;
}

int TrackingStreamRecorder::recordingDevice() const
{
    const auto instruments = trackingStream_.instruments();
    const std::string id = recordingInstrument();
    for (std::size_t i = 0; i < instruments.size(); ++i)
        if (instruments[i].id.ID() == id)
            return static_cast<int>(i);
    return -1;
}

bool TrackingStreamRecorder::setRecordingDevice(int index)
{
    if (isRecording())
        return refuse("Cannot change recording device during recording.");
    const auto instruments = trackingStream_.instruments();
    if (index < 0 || index >= static_cast<int>(instruments.size())) {
        Log::log(Log::Level::Error, kCategory,
                 "TrackingStreamRecorder: Illegal recording device: " + std::to_string(index));
        return false;
    }
    std::lock_guard lock(sequencesMutex_);
    recordingInstrument_ = instruments[static_cast<std::size_t>(index)].id.ID();
    return true;
}

double TrackingStreamRecorder::qualityThreshold() const
{
    std::lock_guard lock(sequencesMutex_);
    return qualityThreshold_;
}

bool TrackingStreamRecorder::setQualityThreshold(double threshold)
{
    if (isRecording())
        return refuse("Cannot change the quality threshold while recording");
    std::lock_guard lock(sequencesMutex_);
    qualityThreshold_ = threshold;
    return true;
}

int TrackingStreamRecorder::droppedSamples() const
{
    std::lock_guard lock(sequencesMutex_);
    return lowQualityCount_;
}

TrackingSequence* TrackingStreamRecorder::findLocked(const std::string& id) const
{
    for (const auto& [key, sequence] : sequences_)
        if (key == id)
            return sequence.get();
    return nullptr;
}

std::pair<std::unique_lock<std::mutex>, TrackingSequence*> TrackingStreamRecorder::currentRecordingSequence(
    const std::string& id)
{
    std::unique_lock lock(sequencesMutex_);
    TrackingSequence* sequence = findLocked(id);
    return {std::move(lock), sequence};
}

std::pair<std::unique_lock<std::mutex>, TrackingSequence*> TrackingStreamRecorder::currentRecordingStream(
    int index)
{
    std::unique_lock lock(sequencesMutex_);
    TrackingSequence* sequence = index >= 0 && index < static_cast<int>(sequences_.size())
                                     ? sequences_[static_cast<std::size_t>(index)].second.get()
                                     : nullptr;
    return {std::move(lock), sequence};
}

void TrackingStreamRecorder::init()
{
    const auto instruments = trackingStream_.instruments();
    std::lock_guard lock(sequencesMutex_);
    sequences_.clear();
    const std::size_t count =
        std::min(static_cast<std::size_t>(std::max(0, maxInstruments_)), instruments.size());
    for (std::size_t i = 0; i < count; ++i) {
        auto sequence = std::make_unique<TrackingSequence>(trackingStream_.name() + " recording");
        sequence->setTrackerId(instruments[i].id);
        sequences_.emplace_back(instruments[i].id.ID(), std::move(sequence));
    }
    lowQualityCount_ = 0;
}

std::uint64_t TrackingStreamRecorder::processStreamData(const StreamData& data)
{
    if (data.stream() != &trackingStream_)
        return 0;
    const auto* record = dynamic_cast<const TrackingStreamData*>(&data);
    if (record == nullptr || record->instruments().empty())
        return 0;
    const double recordTime = extractTimestamp(&data);
    const bool deviceTime = usesDeviceTimestamps();
    const bool both = recordBothTimestamps();

    std::lock_guard lock(sequencesMutex_);
    if (sequences_.empty())
        return 0;
    std::uint64_t bytes = 0;
    if (recordAll_) {
        for (const auto& entry : sequences_)
            bytes += recordInstrument(*record, entry.first, recordTime, deviceTime, both);
    } else {
        bytes = recordInstrument(*record, recordingInstrument_, recordTime, deviceTime, both);
    }
    return bytes;
}

std::uint64_t TrackingStreamRecorder::recordInstrument(const TrackingStreamData& record,
                                                       const std::string& id, double recordTime,
                                                       bool deviceTime, bool bothTimestamps)
{
    TrackingSequence* sequence = findLocked(id);
    const auto instrument = record.instrument(id);
    if (sequence == nullptr || !instrument)
        return 0;
    double quality = instrument->quality;
    if (std::isnan(quality)) {
        Log::log(Log::Level::Warning, kCategory, "Encountered tracking stream device quality NaN");
        quality = 0.0;
    }
    if (qualityThreshold_ > 0.0 && quality < qualityThreshold_) {
        ++lowQualityCount_;
        if (Log::isAccepted(Log::Level::Debug, kCategory))
            Log::log(Log::Level::Debug, kCategory,
                     fmt::format(
                         "Skipped recording of bad quality sample (instrument {}, quality {}, threshold {})",
                         id, quality, qualityThreshold_));
        return 0;
    }
    const double time = deviceTime && instrument->timestamp != 0
                            ? static_cast<double>(instrument->timestamp) / 1000.0
                            : recordTime;
    const int index = sequence->add(instrument->matrix, time, quality, instrument->status);
    if (index < 0)
        return 0;
    recordFrameDataComponents(sequence->elementwiseComponents(), record, index + 1);
    if (bothTimestamps && !record.consistentDeviceTimestamps()) {
        if (DataComponentList* entry =
                sequence->elementwiseComponents().at(static_cast<std::size_t>(index))) {
            entry->remove<TimestampDataComponent>();
            entry->add(
                std::make_unique<TimestampDataComponent>(instrument->timestamp, record.timestampArrival()));
        }
    }
    return kBytesPerSample;
}

void TrackingStreamRecorder::finalize()
{
    std::lock_guard lock(sequencesMutex_);
    // The stream's components include its instrument calibration, which the sequences carry along.
    for (auto& entry : sequences_)
        entry.second->components() = streamComponents();
}

OwningDataList TrackingStreamRecorder::takeOutput()
{
    std::lock_guard lock(sequencesMutex_);
    if (lowQualityCount_ > 0)
        Log::log(Log::Level::Warning, kCategory,
                 std::to_string(lowQualityCount_) + " tracking data were removed because of low quality.");
    OwningDataList output;
    for (auto& entry : sequences_)
        output.add(std::move(entry.second));
    sequences_.clear();
    return output;
}

void TrackingStreamRecorder::onInstrumentsUpdated()
{
    if (isRecording()) {
        const auto instruments = trackingStream_.instruments();
        std::vector<std::string> removed;
        {
            std::lock_guard lock(sequencesMutex_);
            for (const auto& entry : sequences_) {
                const bool present =
                    std::any_of(instruments.begin(), instruments.end(),
                                [&](const TrackingInstrument& i) { return i.id.ID() == entry.first; });
                if (!present)
                    removed.push_back(entry.first);
            }
        }
        for (const auto& id : removed)
            Log::log(Log::Level::Warning, "TrackingStreamRecorder",
                     "Instrument with ID " + id + " was removed from stream while recording.");
    }
    signalInstrumentsChanged.emitSignal(this);
}

}  // namespace Corvexis
