#pragma once

#include <cstdint>
#include <memory>

#include "Host/Core/DataList.h"
#include "Host/Core/Parameter.h"
#include "Host/Lib/Algorithm.h"

namespace Corvexis {

class DataDeletionWatch;
class Progress;
class Selection;
class SharedImageSet;
class VideoFileStream;

// Extracts a range of a video file's frames ("startFrame" to "endFrame", every ("skip" + 1)-th) into
// a SharedImageSet. A running stream is stopped for the extraction and started again afterwards.
//
// The stream is borrowed; when it is destroyed the algorithm forgets it and computes nothing.
// Threading: compute, configure and takeOutput are caller synchronises; progress() may be watched
// and cancelled from any thread.
class VideoStreamExtractionAlgorithm : public Algorithm
{
public:
    explicit VideoStreamExtractionAlgorithm(VideoFileStream& stream);
    ~VideoStreamExtractionAlgorithm() override;

    // Exactly one input, a VideoFileStream.
    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm);

    // Copies first, last and skip of the selection into the parameters.
    void setSelection(const Selection& selection);
    // Bytes the extracted frames take, from the size of the stream's last frame; 0 (with an error)
    // when the stream has shown no frame of the video's size yet.
    std::uint64_t estimateMemoryRequirement() const;

    void compute() override;
    OwningDataList takeOutput() override;
    Progress& progress() { return *progress_; }

    Parameter<int> startFrame{"startFrame", 0, this};
    Parameter<int> endFrame{"endFrame", 0, this};
    Parameter<int> skip{"skip", 0, this};

private:
    VideoFileStream* stream_;
    std::unique_ptr<DataDeletionWatch> watch_;
    std::unique_ptr<Progress> progress_;
    std::unique_ptr<SharedImageSet> output_;
};

}  // namespace Corvexis
