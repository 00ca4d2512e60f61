#include "Stream/Simulated/FakeImageTrackingStreamGroup.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>

#include <Eigen/Geometry>

#include "Host/Lib/SharedImage.h"
#include "Stream/Framework/CompoundStreamData.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Framework/TrackingStreamData.h"

namespace Corvexis {

namespace {

constexpr int kInstrumentCount = 2;

Eigen::Matrix4d pose(double t)
{
    Eigen::Matrix4d translation = Eigen::Matrix4d::Identity();
    translation.block<3, 1>(0, 3) = Eigen::Vector3d(5.0 * std::sin(t), 25.0 * std::cos(t), 0.0);
    Eigen::Matrix4d rotation = Eigen::Matrix4d::Identity();
    rotation.block<3, 3>(0, 0) = Eigen::AngleAxisd(t / 10.0, Eigen::Vector3d::UnitX()).toRotationMatrix();
    return translation * rotation;
}

}  // namespace

FakeImageTrackingStreamGroup::FakeImageTrackingStreamGroup()
    : TrackingStream("Fake Proxy Image Stream"), image_(MemImage::create(descriptor_))
{
    for (int k = 0; k < kInstrumentCount; ++k) {
        const std::string n = std::to_string(k);
        instruments_.emplace_back(TrackerID("faketrk-" + n, "", "instrument " + n), true);
    }
    const std::string childName = name() + " (child)";
    addSubstream(std::make_unique<ImageSubstream>(this, childName));
    addSubstream(std::make_unique<TrackingSubstream>(this, childName));
}

FakeImageTrackingStreamGroup::~FakeImageTrackingStreamGroup()
{
    close();
    destroySubstreams();
}

std::vector<TrackingInstrument> FakeImageTrackingStreamGroup::devices() const
{
    std::lock_guard lock(instrumentsMutex_);
    return instruments_;
}

template <typename S>
S* FakeImageTrackingStreamGroup::findSubstream() const
{
    for (Stream* s : substreams()) {
        if (auto* typed = dynamic_cast<S*>(s))
            return typed;
    }
    return nullptr;
}

ImageSubstream* FakeImageTrackingStreamGroup::imageSubstream() const
{
    return findSubstream<ImageSubstream>();
}

TrackingSubstream* FakeImageTrackingStreamGroup::trackingSubstream() const
{
    return findSubstream<TrackingSubstream>();
}

std::optional<Stream::WorkContinuation> FakeImageTrackingStreamGroup::doWork()
{
    const auto next = std::chrono::time_point_cast<Ticks>(std::chrono::system_clock::now()) + Ticks(100'000);
    counter_ = (counter_ + 1) % 256;
    time_ += 0.05;

    auto* pixels = static_cast<std::uint8_t*>(image_->data());
    const int count = kWidth * kHeight;
    for (int p = 0; p < count; ++p)
        pixels[p] = static_cast<std::uint8_t>((p + counter_) % 256);

    std::vector<TrackingInstrument> instruments;
    {
        std::lock_guard lock(instrumentsMutex_);
        for (int k = 0; k < kInstrumentCount; ++k) {
            TrackingInstrument& instrument = instruments_[k];
            instrument.matrix = pose(time_);
            instrument.quality = 0.8 - 0.1 * k + counter_ * 0.00078125;
            instrument.timestamp = static_cast<std::uint64_t>(time_);
            instrument.status = 0;
            instrument.active = true;
        }
        instruments = instruments_;
    }

    // Parts only for the substreams the group has now; a removed one gets nothing.
    std::vector<std::shared_ptr<const StreamData>> parts;
    const auto arrival = std::chrono::system_clock::now();
    if (auto* tracking = trackingSubstream()) {
        auto record = std::make_shared<TrackingStreamData>(tracking, std::move(instruments));
        record->setTimestampArrival(arrival);
        record->setTimestampDevice(record->timestampArrival());
        parts.push_back(std::move(record));
    }
    if (auto* imageStream = imageSubstream()) {
        auto record =
            std::make_shared<ImageStreamData>(imageStream, std::make_unique<SharedImage>(image_->clone()));
        record->setTimestampArrival(arrival);
        record->setTimestampDevice(record->timestampArrival());
        parts.push_back(std::move(record));
    }
    emitCompoundStreamData(std::make_shared<CompoundStreamData>(nullptr, std::move(parts)), true);
    return WorkContinuation{next};
}

}  // namespace Corvexis
