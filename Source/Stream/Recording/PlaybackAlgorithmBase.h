#pragma once

#include <optional>

#include "Host/Core/Parameter.h"
#include "Stream/Framework/StreamAlgorithm.h"

namespace Corvexis {

// The settings every playback algorithm offers: looping, frame rate, speed factor and skipping of
// delayed frames. The frame rate is read from the key "Fps" but not written back: a saved workspace
// keeps the speed factor, which means the same for any recording, while a rate is a one-off choice.
//
// Threading: caller synchronises (the host's algorithm thread), as for every algorithm.
class PlaybackAlgorithmBase : public StreamAlgorithm
{
public:
    static constexpr double kDefaultFps = 30.0;

    PlaybackAlgorithmBase();
    ~PlaybackAlgorithmBase() override;

    // The frame rate last set through "Fps" or setFps; kDefaultFps before.
    double fpsSetting() const { return fps_.value_or(kDefaultFps); }
    // True once a frame rate was given; the streams then play at it rather than at their own rate.
    bool fpsGiven() const { return fps_.has_value(); }

    // Reads the registered keys and "Fps".
    void configure(const Properties* properties) override;
    // Adds "Fps" to the registered keys.
    void describeSettings(Properties* schema) const override;

    Parameter<bool> loop{"Loop", true, this};
    Parameter<double> speedFactor{"Speed Factor", 1.0, this};
    Parameter<bool> skipDelayedFrames{"Skip Delayed Frames", false, this};

protected:
    void storeFps(double fps) { fps_ = fps; }

private:
    std::optional<double> fps_;
};

}  // namespace Corvexis
