#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "Host/Core/SignalConnection.h"
#include "Stream/Framework/ImageStream.h"
#include "Stream/Framework/StreamGroupBase.h"
#include "Stream/Framework/SubstreamBase.h"
#include "Stream/Framework/TrackingStream.h"

namespace Corvexis {

// A substream of kind T (an ImageStream or a TrackingStream) whose lifecycle is the group's: requests
// on it are passed to the proxy stream, and every state change of the proxy is mirrored into it, so it
// always reports the proxy's state. It does no work of its own; the group emits its records on its
// signalStreamData.
//
// Ownership: owned by its group (the group outlives it). Threading: requests run on the requesting
// thread (no worker of its own) and wait for the proxy; the mirrored state changes arrive on the thread
// that changed the proxy. Do not make requests on a substream from the proxy's worker thread (the
// proxy would wait for itself). When two threads make requests on different substreams of one group at
// the same moment, a substream's own request ends by writing its target state, which can overtake the
// mirror of the other thread's change until the proxy's next change; drive a group from one thread.
//
// Destruction disconnects it from the proxy, drops its receivers, and closes it without touching the
// proxy, so destroying a substream never closes its group.
template <typename T>
class Substream : public SubstreamBase, public T
{
public:
    Substream(StreamGroupBase* group, std::string name);
    ~Substream() override;

    Stream* stream() override { return this; }
    // The proxy's.
    bool supportsPausing() const override;
    typename Stream::ThreadingMode threadingMode() const override
    {
        return Stream::ThreadingMode::NoWorkerThread;
    }

protected:
    // Each passes the request to the proxy and returns its result; stop and close succeed without the
    // proxy once the substream is being destroyed.
    bool openImpl() override;
    bool closeImpl() override;
    bool startImpl() override;
    bool stopImpl() override;
    bool pauseImpl() override;
    bool resumeImpl() override;
    // Never called (no worker); a substream's records come from its group.
    std::optional<typename Stream::WorkContinuation> doWork() override { return std::nullopt; }

private:
    Stream& proxy() const { return *this->streamGroup()->proxyStream(); }

    SignalConnection proxyConnection_;
    std::atomic<bool> detached_{false};
};

extern template class Substream<ImageStream>;
extern template class Substream<TrackingStream>;

using ImageSubstream = Substream<ImageStream>;

}  // namespace Corvexis
