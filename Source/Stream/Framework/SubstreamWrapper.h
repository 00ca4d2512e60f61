#pragma once

#include <memory>

#include "Host/Core/SignalConnection.h"
#include "Stream/Framework/Stream.h"
#include "Stream/Framework/SubstreamBase.h"

namespace Corvexis {

// Puts an existing, independent stream under a stream group and keeps both lifecycles in step: a state
// change of the wrapped stream is applied to the proxy stream, and one of the proxy to the wrapped
// stream, each through the other's synchronous requests (the rule is in SubstreamWrapper.cpp). While
// one side is being brought into step, the wrapper's connection to that side's signal is blocked, so
// the change does not echo back.
//
// Ownership: owns the wrapped stream; the group (and its proxy) outlive the wrapper.
// Threading: the synchronisation runs on the thread that emitted the change and waits for the other
// side's request. Changes of both sides at the same moment may wait for each other; a group should
// drive its wrapped streams through the proxy.
class SubstreamWrapper : public SubstreamBase
{
public:
    // Takes `stream` over (not null), brings it to the proxy's current state (initSync), then connects
    // both state signals.
    SubstreamWrapper(std::unique_ptr<Stream> stream, StreamGroupBase* group);
    // Disconnects from both sides, then destroys the wrapped stream (which closes itself).
    ~SubstreamWrapper() override;
    SubstreamWrapper(const SubstreamWrapper&) = delete;

    Stream* stream() override { return stream_.get(); }

    // Brings the wrapped stream to `proxyState`. Called by the constructor; exposed for tests and for a
    // group that re-synchronises after a failure. Calling thread.
    void initSync(Stream::State proxyState);

    // Applies a change of one side to `target` (the table in the .cpp). Calling thread.
    static void applyChange(const Stream::StateChange& change, Stream& target);

private:
    // A change of the wrapped stream, applied to the proxy with the proxy connection blocked.
    void syncProxyStreamState(const Stream::StateChange& change);
    // A change of the proxy, applied to the wrapped stream with the wrapped connection blocked.
    void syncWithProxyStreamState(const Stream::StateChange& change);
    Stream& proxy() const;

    std::unique_ptr<Stream> stream_;
    SignalConnection streamConnection_;
    SignalConnection proxyConnection_;
};

}  // namespace Corvexis
