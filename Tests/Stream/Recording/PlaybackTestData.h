#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <Eigen/Geometry>

#include "Host/Core/ImageDescriptor.h"
#include "Host/Core/MemImage.h"
#include "Host/Core/TrackingSequence.h"
#include "Host/Lib/SharedImage.h"
#include "Host/Lib/SharedImageSet.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Framework/Stream.h"
#include "Stream/Framework/StreamData.h"
#include "Stream/Framework/TrackingStreamData.h"

namespace Corvexis::PlaybackTest {

// A 4 x 3 unsigned-byte set; frame i has all pixels = 10 + i and the given time (ms) when given.
inline std::unique_ptr<SharedImageSet> makeSet(int frames, const std::vector<double>& timesMs = {})
{
    auto set = std::make_unique<SharedImageSet>("recording");
    const ImageDescriptor desc(ImageDescriptor::kUByte, 4, 3, 1, 1);
    for (int i = 0; i < frames; ++i) {
        auto image = std::make_shared<SharedImage>(desc, Image::Location::Memory);
        std::memset(image->mem()->data(), 10 + i, image->mem()->byteSize());
        image->markChanged(Image::Location::Memory);
        std::optional<double> t;
        if (static_cast<size_t>(i) < timesMs.size())
            t = timesMs[static_cast<size_t>(i)];
        set->add(image, t);
    }
    return set;
}

// The pixel value of a record made from makeSet, i.e. 10 + frame index.
inline int framePixel(const StreamData& data)
{
    const auto* image = dynamic_cast<const ImageStreamData*>(&data);
    if (image == nullptr || image->size() == 0)
        return -1;
    const auto first = image->images().front();
    return static_cast<const std::uint8_t*>(first->mem()->data())[0];
}

// A pose that differs per time: translation (t, 2t, 3t) mm and a rotation t/10 rad about z.
inline Eigen::Matrix4d poseAt(double t)
{
    Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
    m.block<3, 3>(0, 0) = Eigen::AngleAxisd(t / 10.0, Eigen::Vector3d::UnitZ()).toRotationMatrix();
    m.block<3, 1>(0, 3) = Eigen::Vector3d(t, 2 * t, 3 * t);
    return m;
}

inline std::unique_ptr<TrackingSequence> makeSequence(const std::string& id,
                                                      const std::vector<double>& timesSec)
{
    auto sequence = std::make_unique<TrackingSequence>(id);
    sequence->setTrackerId(TrackerID(id, id + " name"));
    for (size_t i = 0; i < timesSec.size(); ++i)
        sequence->add(poseAt(timesSec[i] * 100.0), timesSec[i], 0.5 + 0.01 * static_cast<double>(i),
                      static_cast<int>(i));
    return sequence;
}

// Keeps every record a stream emits and every state it passes through.
class Watcher
{
public:
    explicit Watcher(Stream& stream)
    {
        dataConnection_ = stream.signalStreamData.connect([this](const std::shared_ptr<const StreamData>& d) {
            {
                std::lock_guard lock(mutex_);
                records_.push_back(d);
            }
            changed_.notify_all();
        });
        stateConnection_ = stream.signalStateChanged.connect([this](Stream::StateChange c) {
            {
                std::lock_guard lock(mutex_);
                states_.push_back(c.newState);
            }
            changed_.notify_all();
        });
        endedConnection_ = stream.signalStreamEnded.connect([this] {
            {
                std::lock_guard lock(mutex_);
                ++endedCount_;
            }
            changed_.notify_all();
        });
    }
    ~Watcher()
    {
        dataConnection_.disconnect();
        stateConnection_.disconnect();
        endedConnection_.disconnect();
    }

    bool waitForRecords(size_t count, std::chrono::seconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return records_.size() >= count; });
    }
    bool waitForEnded(std::chrono::seconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return endedCount_ > 0; });
    }
    std::vector<std::shared_ptr<const StreamData>> records() const
    {
        std::lock_guard lock(mutex_);
        return records_;
    }
    std::vector<Stream::State> states() const
    {
        std::lock_guard lock(mutex_);
        return states_;
    }
    int endedCount() const
    {
        std::lock_guard lock(mutex_);
        return endedCount_;
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        records_.clear();
        states_.clear();
        endedCount_ = 0;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::shared_ptr<const StreamData>> records_;
    std::vector<Stream::State> states_;
    int endedCount_ = 0;
    SignalConnection dataConnection_;
    SignalConnection stateConnection_;
    SignalConnection endedConnection_;
};

}  // namespace Corvexis::PlaybackTest
