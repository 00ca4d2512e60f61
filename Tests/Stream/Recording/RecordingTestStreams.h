#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <Eigen/Geometry>

#include "Host/Core/TrackerID.h"
#include "Stream/Framework/TrackingStream.h"
#include "Stream/Framework/TrackingStreamData.h"

namespace Corvexis::Test {

// A tracking stream without a worker whose records the test emits on the calling thread.
class ManualTrackingStream : public TrackingStream
{
public:
    explicit ManualTrackingStream(const std::string& name = "tracker") : TrackingStream(name) {}
    ~ManualTrackingStream() override { close(); }

    ThreadingMode threadingMode() const override { return ThreadingMode::NoWorkerThread; }

    void addInstrument(const std::string& id) { emitSignals(registry().create(TrackerID(id, id), true)); }
    void removeInstrument(const std::string& id) { emitSignals(registry().remove(id)); }

    // A pose translated by (x, 0, 0) millimetres.
    static Eigen::Matrix4d pose(double x)
    {
        Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
        m(0, 3) = x;
        return m;
    }

    // One record: every instrument at `x` with `quality`; instrument time `deviceMs`, arrival `arrivalMs`.
    void emitPose(double x, double quality, std::uint64_t deviceMs, std::uint64_t arrivalMs)
    {
        std::vector<TrackingInstrument> instruments = this->instruments();
        for (auto& instrument : instruments) {
            instrument.matrix = pose(x);
            instrument.quality = quality;
            instrument.timestamp = deviceMs;
        }
        auto record = std::make_shared<TrackingStreamData>(this, instruments);
        record->setTimestampArrival(arrivalMs);
        record->setTimestampDevice(deviceMs);
        signalStreamData.emitSignal(record);
    }

protected:
    bool openImpl() override { return true; }
    bool closeImpl() override { return true; }
    bool startImpl() override { return true; }
    bool stopImpl() override { return true; }
    std::optional<WorkContinuation> doWork() override { return std::nullopt; }
};

}  // namespace Corvexis::Test
