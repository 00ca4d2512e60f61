#pragma once

#include <memory>
#include <string>

#include "Stream/Framework/CreateStreamIoAlgorithm.h"
#include "Stream/Simulated/FakeTrackingStream.h"

namespace Corvexis {

// The input algorithm of the simulated tracking stream: creates, opens and starts a FakeTrackingStream,
// which has no instruments of its own (on purpose), and offers the device actions of its controller on
// the stream it created (also after the host took it, until the host destroys it):
//   "addOscillatingDevice", "addSweepDevice", "addConstantDevice"  add a device with its defaults;
//   "removeDevice"                                                  removes the device added last.
// Each action logs the new number of devices at information level; without a stream (or, for
// removeDevice, without a device) it fails with an error.
//
// Ownership as CreateStreamIoAlgorithm: the algorithm owns the stream until the host takes the output.
// Threading: as CreateStreamIoAlgorithm, no lock of its own; actions run on the calling thread (the
// host's user-interface thread, which must not destroy the stream meanwhile) and only call the stream's
// thread-safe operations.
class FakeTrackingStreamIoAlgorithm : public CreateStreamIoAlgorithm<FakeTrackingStream, true, true>
{
public:
    FakeTrackingStreamIoAlgorithm();
    ~FakeTrackingStreamIoAlgorithm() override;

    // Only for an empty input list; creates this class (not the plain template) when asked.
    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm);

    // The current stream, or null before the first compute and after the host destroyed it.
    FakeTrackingStream* fakeStream() const;

private:
    bool addDevice(const std::string& action, std::unique_ptr<FakeTrackingStream::Device> device);
    bool removeLastDevice();
};

}  // namespace Corvexis
