#include "Stream/Recording/MultipleStreamRecorderAlgorithm.h"

#include <algorithm>

#include "Host/Core/Log.h"
#include "Stream/Framework/Stream.h"
#include "Stream/Recording/StreamRecorderAlgorithm.h"

namespace Corvexis {

namespace {
constexpr const char* kCategory = "Stream.MultipleStreamRecorderAlgorithm";
}

MultipleStreamRecorderAlgorithm::MultipleStreamRecorderAlgorithm(std::vector<Stream*> streams)
    : streams_(std::move(streams))
{
}

MultipleStreamRecorderAlgorithm::~MultipleStreamRecorderAlgorithm() = default;

bool MultipleStreamRecorderAlgorithm::createCompatible(const DataList& inputs,
                                                       std::unique_ptr<Algorithm>* algorithm)
{
    if (inputs.size() == 0)
        return false;
    std::vector<Stream*> streams;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        auto* stream = dynamic_cast<Stream*>(inputs[i]);
        if (stream == nullptr)
            return false;
        streams.push_back(stream);
    }
    if (algorithm != nullptr)
        *algorithm = std::make_unique<MultipleStreamRecorderAlgorithm>(std::move(streams));
    return true;
}

bool MultipleStreamRecorderAlgorithm::setExistingRecorders(
    const std::vector<StreamRecorderAlgorithm*>& recorders)
{
    for (const auto* recorder : recorders) {
        if (recorder == nullptr) {
            Log::log(Log::Level::Error, kCategory, "Set recorders that dont much the chosen data!!");
            return false;
        }
        for (Stream* stream : recorder->recordedStreams()) {
            if (std::find(streams_.begin(), streams_.end(), stream) == streams_.end()) {
                Log::log(Log::Level::Error, kCategory, "Set recorders that dont much the chosen data!!");
                return false;
            }
        }
    }
    std::lock_guard lock(mutex_);
    recorders_ = recorders;
    return true;
}

std::vector<StreamRecorderAlgorithm*> MultipleStreamRecorderAlgorithm::driven() const
{
    std::lock_guard lock(mutex_);
    return recorders_;
}

void MultipleStreamRecorderAlgorithm::compute()
{
    if (driven().empty()) {
        Log::log(Log::Level::Error, kCategory, "No existing recorders found, cannot record anything.");
        setStatus(Status::Error);
        return;
    }
    start();
    setStatus(Status::Success);
}

OwningDataList MultipleStreamRecorderAlgorithm::takeOutput()
{
    OwningDataList output;
    for (auto* recorder : driven())
        output.append(recorder->takeOutput());
    return output;
}

void MultipleStreamRecorderAlgorithm::start()
{
    for (auto* recorder : driven())
        recorder->start();
}

void MultipleStreamRecorderAlgorithm::stop()
{
    for (auto* recorder : driven())
        recorder->stop();
}

bool MultipleStreamRecorderAlgorithm::isRecording() const
{
    const auto recorders = driven();
    return std::any_of(recorders.begin(), recorders.end(), [](const auto* r) { return r->isRecording(); });
}

int MultipleStreamRecorderAlgorithm::numStreamRecorders() const
{
    return static_cast<int>(driven().size());
}

int MultipleStreamRecorderAlgorithm::recordedFrames() const
{
    const auto recorders = driven();
    if (recorders.empty()) {
        Log::log(Log::Level::Error, kCategory,
                 "Both stream recorders and ultrasound recorders vectors are empty. Cannot determine "
                 "recorded frames.");
        return 0;
    }
    int frames = 0;
    for (const auto* recorder : recorders)
        frames += recorder->recordedFrames();
    return frames;
}

int MultipleStreamRecorderAlgorithm::recordedTrackingData() const
{
    const auto recorders = driven();
    if (recorders.empty()) {
        Log::log(Log::Level::Error, kCategory,
                 "No stream recorder present. Cannot determine recorded tracking data.");
        return 0;
    }
    int samples = 0;
    for (const auto* recorder : recorders)
        samples += recorder->recordedTrackingData();
    return samples;
}

double MultipleStreamRecorderAlgorithm::passedTime() const
{
    double seconds = 0.0;
    for (const auto* recorder : driven())
        seconds = std::max(seconds, recorder->passedTime());
    return seconds;
}

std::string MultipleStreamRecorderAlgorithm::savePath() const
{
    std::lock_guard lock(mutex_);
    return savePath_;
}

bool MultipleStreamRecorderAlgorithm::setSavePath(const std::string& path)
{
    if (path.empty()) {
        Log::log(Log::Level::Error, kCategory,
                 "Cannot set empty save path. Keeping current path: " + savePath());
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        savePath_ = path;
    }
    for (auto* recorder : driven())
        recorder->setSavePath(path);
    return true;
}

void MultipleStreamRecorderAlgorithm::onDataDeleting(const Data* data)
{
    std::lock_guard lock(mutex_);
    recorders_.erase(std::remove_if(recorders_.begin(), recorders_.end(),
                                    [data](StreamRecorderAlgorithm* recorder) {
                                        const auto streams = recorder->recordedStreams();
                                        return std::find(streams.begin(), streams.end(), data) !=
                                               streams.end();
                                    }),
                     recorders_.end());
}

bool MultipleStreamRecorderAlgorithm::survivesDataDeletion(const Data* data) const
{
    return std::find(streams_.begin(), streams_.end(), data) == streams_.end();
}

}  // namespace Corvexis
