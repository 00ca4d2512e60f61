#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "Host/Core/DataList.h"
#include "Host/Core/Parameter.h"
#include "Host/Lib/Algorithm.h"
#include "Stream/Video/StreamToVideoRecorder.h"

namespace Corvexis {

class DataDeletionWatch;
class ImageStream;

// Records a live image stream into a video file. compute() is a switch: the first call starts a
// recording, the next one finishes the file (a third starts a new recording to the same path).
// Destroying the algorithm while it records finishes the file too.
//
// Parameters: "width" 1920, "height" 1080, "fps" 30, "format" "matroska", "encoder" "h264_nvenc",
// "encoderParameters" "crf=18" (key=value entries separated by ';'), "outputPath" "recording.mkv".
// The stream is borrowed; when it is destroyed the recording is finished.
//
// Threading: compute, configure and isRecording are caller synchronises (the host's algorithm
// thread); frames are written on the stream's emitting thread.
class StreamToVideoAlgorithm : public Algorithm
{
public:
    explicit StreamToVideoAlgorithm(ImageStream& stream);
    ~StreamToVideoAlgorithm() override;

    // Exactly one input, an image stream.
    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm);

    void compute() override;
    bool isRecording() const;

    // The key/value pairs of an options text; stops with a warning at the first entry that is not
    // exactly "key=value" (blanks around entries and around '=' are ignored, empty entries skipped).
    static StreamToVideoRecorder::Options parseEncoderParameters(const std::string& text);

    Parameter<int> width{"width", 1920, this};
    Parameter<int> height{"height", 1080, this};
    Parameter<int> fps{"fps", 30, this};
    Parameter<std::string> format{"format", "matroska", this};
    Parameter<std::string> encoder{"encoder", "h264_nvenc", this};
    Parameter<std::string> encoderParameters{"encoderParameters", "crf=18", this};
    Parameter<std::string> outputPath{"outputPath", "recording.mkv", this};

private:
    ImageStream* stream_;
    std::unique_ptr<DataDeletionWatch> watch_;
    mutable std::mutex mutex_;
    // guarded by mutex_
    std::unique_ptr<StreamToVideoRecorder> recorder_;
};

}  // namespace Corvexis
