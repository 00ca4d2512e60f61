#include "Stream/Video/StreamToVideoAlgorithm.h"

#include "Host/Core/DataDeletionWatch.h"
#include "Host/Core/Log.h"
#include "Stream/Framework/ImageStream.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "Stream.StreamToVideoAlgorithm";
constexpr const char* kBlanks = " \t\f\v\r\n";

std::string trimmed(const std::string& text)
{
    const auto begin = text.find_first_not_of(kBlanks);
    if (begin == std::string::npos)
        return {};
    const auto end = text.find_last_not_of(kBlanks);
    return text.substr(begin, end - begin + 1);
}

}  // namespace

StreamToVideoAlgorithm::StreamToVideoAlgorithm(ImageStream& stream) : stream_(&stream)
{
    // Finishing from the destroying thread: the file is completed with the frames written so far.
    watch_ = std::make_unique<DataDeletionWatch>(stream, [this] {
        std::unique_ptr<StreamToVideoRecorder> recorder;
        {
            std::lock_guard lock(mutex_);
            recorder = std::move(recorder_);
        }
        if (recorder)
            recorder->finalize();
    });
}

StreamToVideoAlgorithm::~StreamToVideoAlgorithm()
{
    watch_.reset();
    std::unique_ptr<StreamToVideoRecorder> recorder;
    {
        std::lock_guard lock(mutex_);
        recorder = std::move(recorder_);
    }
    if (recorder)
        recorder->finalize();
}

bool StreamToVideoAlgorithm::createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
{
    if (inputs.size() != 1)
        return false;
    auto* stream = dynamic_cast<ImageStream*>(inputs[0]);
    if (stream == nullptr)
        return false;
    if (algorithm != nullptr)
        *algorithm = std::make_unique<StreamToVideoAlgorithm>(*stream);
    return true;
}

StreamToVideoRecorder::Options StreamToVideoAlgorithm::parseEncoderParameters(const std::string& text)
{
    StreamToVideoRecorder::Options pairs;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(';', start), text.size());
        const std::string entry = trimmed(text.substr(start, end - start));
        start = end + 1;
        if (entry.empty())
            continue;
        const std::size_t equals = entry.find('=');
        const std::string key =
            equals == std::string::npos ? std::string() : trimmed(entry.substr(0, equals));
        const std::string value =
            equals == std::string::npos ? std::string() : trimmed(entry.substr(equals + 1));
        if (key.empty() || value.empty() || value.find('=') != std::string::npos) {
            Log::log(Log::Level::Warning, kCategory,
                     "Invalid parameters format, expected 'key1=value1 ; key2=value2 ; ...");
            break;
        }
        pairs.emplace_back(key, value);
    }
    return pairs;
}

bool StreamToVideoAlgorithm::isRecording() const
{
    std::lock_guard lock(mutex_);
    return recorder_ != nullptr;
}

void StreamToVideoAlgorithm::compute()
{
    std::unique_ptr<StreamToVideoRecorder> running;
    {
        std::lock_guard lock(mutex_);
        running = std::move(recorder_);
    }
    if (running) {
        const bool finished = running->finalize();
        running.reset();
        setStatus(finished ? Status::Success : Status::Error);
        return;
    }
    if (watch_->dataDeleted()) {
        setStatus(Status::InvalidInput);
        return;
    }
    const auto options = parseEncoderParameters(encoderParameters.value());
    auto recorder = std::make_unique<StreamToVideoRecorder>(*stream_);
    if (!recorder->initialize(width.value(), height.value(), fps.value(), format.value(), encoder.value(),
                              options, outputPath.value())) {
        Log::log(Log::Level::Error, kCategory, "Failed to initialize recorder");
        setStatus(Status::Error);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        recorder_ = std::move(recorder);
    }
    setStatus(Status::Success);
}

}  // namespace Corvexis
