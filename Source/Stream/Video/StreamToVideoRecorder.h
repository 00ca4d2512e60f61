#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Host/Core/SignalReceiver.h"
#include "Host/Lib/Video/VideoFileRecorder.h"

namespace Corvexis {

class ImageStream;
class StreamData;

// Writes every skip-th 8-bit image of an image stream into a video file through the host's
// VideoFileRecorder (container, encoder and file belong to it). Frames are written on the stream's
// emitting thread while the writer is ok(); records that are not images, and images that are not
// unsigned 8-bit, are skipped with a warning.
//
// Threading: every public operation is thread-safe; mutex_ serialises initialisation, frame writing
// and finalisation, so a file is never finalised in the middle of a frame. The stream is borrowed and
// must outlive the recorder or be destroyed first (its signal then ends the connection).
class StreamToVideoRecorder : public SignalReceiver
{
public:
    using Options = VideoFileRecorder::Options;

    explicit StreamToVideoRecorder(ImageStream& stream);
    ~StreamToVideoRecorder() override;

    // Opens the writer (output pixel format 1, planar YUV 4:2:0). True on success; else lastError()
    // says why.
    bool initialize(int width, int height, int fps, const std::string& format, const std::string& encoder,
                    const Options& options, const std::string& outputPath);
    // Writes every n-th frame, starting with the next one.
    void setSkip(int n);
    bool finalize();
    void clear();
    bool ok() const;
    std::string lastError() const;
    // Frames written since initialize.
    std::int64_t framesWritten() const;

private:
    void onStreamData(const std::shared_ptr<const StreamData>& data);

    mutable std::mutex mutex_;
    // guarded by mutex_
    int skip_ = 1;
    int counter_ = 0;
    VideoFileRecorder writer_;
};

}  // namespace Corvexis
