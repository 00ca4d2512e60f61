#pragma once

#include <Eigen/Core>
#include <memory>
#include <mutex>

#include "Host/Core/Parameter.h"
#include "Host/Core/SignalReceiver.h"
#include "Stream/Framework/ImageStream.h"

namespace Corvexis {

class DataDeletionWatch;
class StreamData;

// Re-emits every frame of an input image stream with a pixel spacing attached and, when asked, mirrored
// ("flipX" left to right, "flipY" top to bottom; 8-bit pixels only). The spacing is "spacing" (mm per
// pixel in x and y), or with "useDepth" the physical "dimensions" (mm) divided by the frame's pixel
// extent; "isMetric" is passed on with it. Only the first image of a record is adapted.
//
// No worker: frames are adapted on the input's emitting thread while this stream is Running. Starting
// and stopping this stream start and stop the input; opening and closing do not reach it. The input is
// borrowed; when it is destroyed the stream forgets it (a DataDeletionWatch).
//
// Threading: parameters are thread-safe and may change between frames; the hooks run on the requesting
// thread; inputMutex_ guards input_.
class SpacingAttachedImageStream : public ImageStream, public SignalReceiver
{
public:
    explicit SpacingAttachedImageStream(ImageStream* input);
    ~SpacingAttachedImageStream() override;

    ImageStream* inputStream() const;  // thread-safe
    ThreadingMode threadingMode() const override { return ThreadingMode::NoWorkerThread; }

    Parameter<bool> isMetric{"isMetric", false, this};
    Parameter<bool> useDepth{"useDepth", false, this};
    Parameter<bool> flipX{"flipX", false, this};
    Parameter<bool> flipY{"flipY", false, this};
    Parameter<Eigen::Vector2d> spacing{"spacing", Eigen::Vector2d(1.0, 1.0), this};
    Parameter<Eigen::Vector2d> dimensions{"dimensions", Eigen::Vector2d(50.0, 50.0), this};

protected:
    bool openImpl() override;
    bool closeImpl() override { return true; }
    bool startImpl() override;
    bool stopImpl() override;
    std::optional<WorkContinuation> doWork() override { return std::nullopt; }
    bool workerThreadRequiresOpenGl() const override { return false; }

private:
    // Input's emitting thread.
    void onInputData(const std::shared_ptr<const StreamData>& data);

    mutable std::mutex inputMutex_;
    // guarded by inputMutex_
    ImageStream* input_ = nullptr;

    std::unique_ptr<DataDeletionWatch> inputWatch_;
};

}  // namespace Corvexis
