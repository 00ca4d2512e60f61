#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "Host/Core/Parameter.h"
#include "Stream/Processing/LiveStreamProcessingAlgorithm.h"

namespace Corvexis {

class SharedImage;

// The mean of the last "frameCount" buffered frames, computed on the processing thread whenever new
// frames arrive. Frames of another layout than the newest one are left out of the mean (a source that
// changes its size starts a new history). The mean keeps the pixel type (integers rounded half up,
// accumulated in double) and the newest frame's spacing and modality; each new mean emits
// signalOutputChanged on the processing thread.
//
// The live container keeps only the frames of the window. Threading: latestMean and meansComputed are
// thread-safe; the rest as LiveStreamProcessingAlgorithm.
class LiveFrameAverageAlgorithm : public LiveStreamProcessingAlgorithm
{
public:
    explicit LiveFrameAverageAlgorithm(std::vector<Stream*> inputs);
    ~LiveFrameAverageAlgorithm() override;

    // The most recent mean, or null before the first frame. Thread-safe.
    std::shared_ptr<const SharedImage> latestMean() const;
    // Number of means computed so far. Thread-safe.
    std::uint64_t meansComputed() const;

    Parameter<int> frameCount{"frameCount", 5, this};

protected:
    bool backgroundThreadProcessData() override;

private:
    mutable std::mutex meanMutex_;
    // guarded by meanMutex_
    std::shared_ptr<const SharedImage> mean_;
    std::uint64_t means_ = 0;
};

}  // namespace Corvexis
