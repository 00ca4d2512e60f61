#include "Host/Core/TrackingSequence.h"

#include <algorithm>
#include <cmath>

#include <Eigen/Geometry>

#include "Host/Core/Log.h"
#include "Host/Core/TrackingInstrument.h"

namespace Corvexis {

namespace {

// Linear interpolation of translation and a spherical one of rotation, between two rigid poses.
Eigen::Matrix4d interpolatePose(const Eigen::Matrix4d& a, const Eigen::Matrix4d& b, double t)
{
    const Eigen::Quaterniond qa(Eigen::Matrix3d(a.topLeftCorner<3, 3>()));
    const Eigen::Quaterniond qb(Eigen::Matrix3d(b.topLeftCorner<3, 3>()));
    // Eigen's slerp takes the shorter arc (it flips one quaternion when their dot product is negative).
    const Eigen::Quaterniond q = qa.normalized().slerp(t, qb.normalized());
    Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
    m.topLeftCorner<3, 3>() = q.toRotationMatrix();
    m.topRightCorner<3, 1>() = (1.0 - t) * a.topRightCorner<3, 1>() + t * b.topRightCorner<3, 1>();
    return m;
}

}  // namespace

TrackingSequence::TrackingSequence(std::string name) : Data(std::move(name)) {}

TrackingSequence::TrackingSequence(const TrackingSequence& other) = default;
TrackingSequence& TrackingSequence::operator=(const TrackingSequence& other) = default;
TrackingSequence::~TrackingSequence() = default;

std::unique_ptr<TrackingSequence> TrackingSequence::clone() const
{
    return std::make_unique<TrackingSequence>(*this);
}

int TrackingSequence::add(const Eigen::Matrix4d& matrix, double timeSec, double quality, int status)
{
    if (!std::isfinite(timeSec) || !matrix.allFinite()) {
        Log::log(Log::Level::Warning, "TrackingSequence", "Refused a sample with a non-finite time or pose");
        return -1;
    }
    const auto pos = std::upper_bound(samples_.begin(), samples_.end(), timeSec,
                                      [](double t, const Sample& s) { return t < s.timeSec; });
    const auto index = static_cast<std::size_t>(pos - samples_.begin());
    samples_.insert(pos, Sample{timeSec, matrix, quality, status});
    elementwiseComponents().insert(index);
    return static_cast<int>(index);
}

int TrackingSequence::add(const TrackingInstrument& instrument, double timeSec)
{
    return add(instrument.matrix, timeSec, instrument.quality, instrument.status);
}

Eigen::Matrix4d TrackingSequence::corrected(const Eigen::Matrix4d& raw) const
{
    Eigen::Matrix4d m = raw * calibration_;
    if (relativeTracking_)
        m = relativeReference_.inverse() * m;
    return m;
}

Eigen::Matrix4d TrackingSequence::matrix(int index) const
{
    return corrected(rawMatrix(index));
}

int TrackingSequence::lastAtOrBefore(double timeSec) const
{
    const auto pos = std::upper_bound(samples_.begin(), samples_.end(), timeSec,
                                      [](double t, const Sample& s) { return t < s.timeSec; });
    return static_cast<int>(pos - samples_.begin()) - 1;
}

Eigen::Matrix4d TrackingSequence::rawMatrixAt(double timeSec) const
{
    if (samples_.empty())
        return Eigen::Matrix4d::Identity();
    const int i = lastAtOrBefore(timeSec);
    if (i < 0)
        return samples_.front().matrix;
    if (i + 1 >= size())
        return samples_.back().matrix;
    const Sample& a = samples_[static_cast<std::size_t>(i)];
    const Sample& b = samples_[static_cast<std::size_t>(i) + 1];
    const double span = b.timeSec - a.timeSec;
    if (!(span > 0.0))
        return a.matrix;
    return interpolatePose(a.matrix, b.matrix, (timeSec - a.timeSec) / span);
}

Eigen::Matrix4d TrackingSequence::matrixAt(double timeSec) const
{
    return samples_.empty() ? Eigen::Matrix4d::Identity() : corrected(rawMatrixAt(timeSec));
}

double TrackingSequence::qualityAt(double timeSec) const
{
    if (samples_.empty())
        return 0.0;
    const int i = lastAtOrBefore(timeSec);
    if (i < 0)
        return samples_.front().quality;
    if (i + 1 >= size())
        return samples_.back().quality;
    const Sample& a = samples_[static_cast<std::size_t>(i)];
    const Sample& b = samples_[static_cast<std::size_t>(i) + 1];
    const double span = b.timeSec - a.timeSec;
    if (!(span > 0.0))
        return a.quality;
    const double t = (timeSec - a.timeSec) / span;
    return (1.0 - t) * a.quality + t * b.quality;
}

std::optional<std::vector<double>> TrackingSequence::timestamps() const
{
    if (!hasTimestamps())
        return std::nullopt;
    std::vector<double> times;
    times.reserve(samples_.size());
    for (const Sample& s : samples_)
        times.push_back(s.timeSec);
    return times;
}

void TrackingSequence::setRelativeTracking(bool enabled, const Eigen::Matrix4d& reference)
{
    relativeTracking_ = enabled;
    if (enabled)
        relativeReference_ = reference;
}

void TrackingSequence::removeOldest(int count)
{
    if (count <= 0)
        return;
    const int n = std::min(count, size());
    samples_.erase(samples_.begin(), samples_.begin() + n);
    for (int i = 0; i < n; ++i)
        elementwiseComponents().erase(0);
}

int TrackingSequence::removeBefore(double timeSec)
{
    const auto pos = std::lower_bound(samples_.begin(), samples_.end(), timeSec,
                                      [](const Sample& s, double t) { return s.timeSec < t; });
    const int n = static_cast<int>(pos - samples_.begin());
    removeOldest(n);
    return n;
}

void TrackingSequence::clear()
{
    samples_.clear();
    elementwiseComponents().clear();
}

bool TrackingSequence::hasSameContent(const TrackingSequence& other) const
{
    return trackerId_ == other.trackerId_ && samples_ == other.samples_ &&
           calibration_ == other.calibration_ && relativeTracking_ == other.relativeTracking_ &&
           relativeReference_ == other.relativeReference_ && ignoreTimestamps_ == other.ignoreTimestamps_;
}

}  // namespace Corvexis
