#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <Eigen/Core>

#include "Host/Core/Data.h"
#include "Host/Core/ElementwiseDataComponentData.h"
#include "Host/Core/TrackerID.h"

namespace Corvexis {

class TrackingInstrument;

// The recorded poses of one tracked instrument: samples of time (seconds), raw pose (instrument ->
// tracker, 4 x 4, millimetres), quality and device status, kept in time order, each with its own data
// components (the elementwise list, index-aligned with the samples).
//
// What a consumer gets from matrix() / matrixAt() is the raw pose with the sequence's corrections:
//     result = reference^-1 * raw * calibration     (reference only while relative tracking is on)
// The calibration maps the instrument's own coordinates (for example an image) onto the tracked
// marker; relative tracking expresses poses in the frame of a reference pose (a patient marker).
// Playback switches these off on clones (calibration identity, relative tracking off), and can ask the
// sequence to ignore its timestamps, after which it reports none and is played by index.
//
// Interpolation between samples: translation and quality linearly, rotation spherically along the
// shorter arc. Before the first sample and after the last the nearest sample holds.
//
// Threading: caller synchronises (name and pose keep Data's thread-safe accessors).
class TrackingSequence : public Data, public ElementwiseDataComponentData
{
public:
    struct Sample
    {
        double timeSec = 0.0;
        Eigen::Matrix4d matrix = Eigen::Matrix4d::Identity();  // raw pose
        double quality = 1.0;
        int status = 0;
        bool operator==(const Sample&) const = default;
    };

    explicit TrackingSequence(std::string name = {});
    TrackingSequence(const TrackingSequence& other);
    TrackingSequence& operator=(const TrackingSequence& other);
    ~TrackingSequence() override;

    // A deep copy: samples, components, identity, calibration, relative tracking and switches.
    std::unique_ptr<TrackingSequence> clone() const;

    Kind kind() const override { return Kind::TrackingSequence; }

    const TrackerID& trackerId() const { return trackerId_; }
    void setTrackerId(TrackerID id) { trackerId_ = std::move(id); }

    // Adds a sample at its place in time order (after samples of the same time) with an empty component
    // list, and returns its index. A non-finite time or matrix is refused: -1 and a warning under
    // "TrackingSequence".
    int add(const Eigen::Matrix4d& matrix, double timeSec, double quality = 1.0, int status = 0);
    // The instrument's matrix, quality and status at `timeSec`.
    int add(const TrackingInstrument& instrument, double timeSec);

    int size() const { return static_cast<int>(samples_.size()); }
    bool empty() const { return samples_.empty(); }
    const std::vector<Sample>& samples() const { return samples_; }
    // Precondition for the indexed accessors: 0 <= index < size().
    double timestamp(int index) const { return samples_[static_cast<std::size_t>(index)].timeSec; }
    const Eigen::Matrix4d& rawMatrix(int index) const
    {
        return samples_[static_cast<std::size_t>(index)].matrix;
    }
    double quality(int index) const { return samples_[static_cast<std::size_t>(index)].quality; }
    int status(int index) const { return samples_[static_cast<std::size_t>(index)].status; }
    // The corrected pose of sample `index`. (matrix() without an index is the item's pose, as for
    // every data item.)
    using Data::matrix;
    Eigen::Matrix4d matrix(int index) const;

    // The corrected pose and the quality at `timeSec`, interpolated; identity and 0 when empty.
    Eigen::Matrix4d matrixAt(double timeSec) const;
    double qualityAt(double timeSec) const;
    // The raw pose at `timeSec`, interpolated; identity when empty.
    Eigen::Matrix4d rawMatrixAt(double timeSec) const;

    // Sample times in seconds, or none when the sequence ignores them (or is empty).
    std::optional<std::vector<double>> timestamps() const;
    bool hasTimestamps() const { return !ignoreTimestamps_ && !samples_.empty(); }
    bool ignoreTimestamps() const { return ignoreTimestamps_; }
    void setIgnoreTimestamps(bool ignore) { ignoreTimestamps_ = ignore; }

    // Maps instrument coordinates onto the tracked marker; identity initially.
    const Eigen::Matrix4d& calibration() const { return calibration_; }
    void setCalibration(const Eigen::Matrix4d& calibration) { calibration_ = calibration; }

    bool relativeTracking() const { return relativeTracking_; }
    const Eigen::Matrix4d& relativeReference() const { return relativeReference_; }
    // Turns relative tracking on with `reference` as the frame poses are expressed in, or off.
    void setRelativeTracking(bool enabled, const Eigen::Matrix4d& reference = Eigen::Matrix4d::Identity());
    // Changes the reference without switching relative tracking on or off.
    void setRelativeReference(const Eigen::Matrix4d& reference) { relativeReference_ = reference; }

    // Removes the `count` oldest samples (all when count >= size()) with their components.
    void removeOldest(int count);
    // Removes every sample older than `timeSec`; returns how many went.
    int removeBefore(double timeSec);
    void clear();

    // Same samples, identity, calibration, relative tracking and switches (components not compared).
    bool hasSameContent(const TrackingSequence& other) const;

private:
    // Index of the last sample with time <= t, or -1 when t is before the first sample.
    int lastAtOrBefore(double timeSec) const;
    Eigen::Matrix4d corrected(const Eigen::Matrix4d& raw) const;

    TrackerID trackerId_;
    std::vector<Sample> samples_;
    Eigen::Matrix4d calibration_ = Eigen::Matrix4d::Identity();
    Eigen::Matrix4d relativeReference_ = Eigen::Matrix4d::Identity();
    bool relativeTracking_ = false;
    bool ignoreTimestamps_ = false;
};

}  // namespace Corvexis
