#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Host/Core/DataList.h"
#include "Host/Core/Parameter.h"
#include "Stream/Framework/StreamIoAlgorithm.h"

namespace Corvexis {

class VideoFileStream;

// The input algorithm that creates a video stream: in file mode a VideoFileStream on the algorithm's
// location (or its "filename" parameter), named after the file, opened and started. Camera mode
// belongs to the camera back-ends, which are not part of this build yet: it reports failure.
//
// Configuration: "mode" (0 file, 1 camera), "filename", "looping".
// The created stream is owned until the host takes it. Threading: compute, configure and takeOutput
// are caller synchronises; stream() is thread-safe.
class VideoStreamIoAlgorithm : public StreamIoAlgorithm
{
public:
    enum class StreamingMode : int
    {
        File = 0,
        Camera = 1,
    };

    explicit VideoStreamIoAlgorithm(StreamingMode mode);
    ~VideoStreamIoAlgorithm() override;

    // File mode: "avi", "mkv", "mov", "mp4", "wmv", "ogv", "gif"; camera mode: none.
    std::vector<std::string> supportedFileExtensions() const;
    StreamingMode streamingMode() const { return static_cast<StreamingMode>(mode_.value()); }

    void compute() override;
    void configure(const Properties* properties) override;

    Stream* stream() const override;
    void resetStream() override;
    bool opensStream() const override { return true; }
    bool startsStream() const override { return true; }
    std::unique_ptr<Stream> createPrototypeStream() const override;

protected:
    std::unique_ptr<Stream> releaseStream() override;

private:
    Parameter<int> mode_;
    Parameter<std::string> filename_{"filename", "", this};
    Parameter<bool> looping_{"looping", false, this};

    mutable std::mutex streamMutex_;
    // guarded by streamMutex_
    std::unique_ptr<VideoFileStream> ownedStream_;  // until the host takes it
    VideoFileStream* stream_ = nullptr;
};

// The registered variants: <false> files, <true> cameras.
template <bool camera>
class VideoStreamIoAlgorithmHelper : public VideoStreamIoAlgorithm
{
public:
    VideoStreamIoAlgorithmHelper()
        : VideoStreamIoAlgorithm(camera ? StreamingMode::Camera : StreamingMode::File)
    {
    }

    // Only for an empty input list.
    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
    {
        if (!inputs.empty())
            return false;
        if (algorithm != nullptr)
            *algorithm = std::make_unique<VideoStreamIoAlgorithmHelper>();
        return true;
    }
};

}  // namespace Corvexis
