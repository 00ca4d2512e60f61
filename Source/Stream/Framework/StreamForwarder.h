#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "Host/Core/DataList.h"
#include "Host/Core/SignalConnection.h"
#include "Host/Core/SignalReceiver.h"
#include "Host/Lib/Algorithm.h"

namespace Corvexis {

class DataDeletionWatch;
class OutStream;
class Stream;
class StreamData;

// Forwards every record of a stream to an out-stream, on the thread that emitted the record. compute()
// toggles the link. Both streams are borrowed; when either is destroyed the forwarder forgets it (and
// shows it as "[DELETED]" in its messages).
//
// Records are passed only while the out-stream reports Running (read without calling into the
// out-stream's own code), so an out-stream that closes itself in its destructor, as every stream does,
// receives nothing once closed.
//
// Threading: attach, detach, compute and isAttached are thread-safe. mutex_ guards the pointers, the
// flag and the connection; forwarding holds it while it calls the out-stream, and no signal is
// disconnected while it is held (a disconnect waits for a running forward, which takes it).
class StreamForwarder : public Algorithm, public SignalReceiver
{
public:
    StreamForwarder(Stream& input, OutStream& output);
    // Either may be null; attach() then refuses with an error.
    StreamForwarder(Stream* input, OutStream* output);
    ~StreamForwarder() override;

    // Exactly two items, a Stream and an OutStream, in either order.
    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm);

    // Detaches when attached, attaches otherwise.
    void compute() override;
    void attach();
    void detach();
    bool isAttached() const;

    static std::string name() { return "Stream Forwarder"; }

private:
    void forward(const std::shared_ptr<const StreamData>& data);
    // "<input> and <output>"; caller holds mutex_.
    std::string namesLocked() const;

    mutable std::mutex mutex_;
    // guarded by mutex_
    Stream* input_ = nullptr;
    OutStream* output_ = nullptr;
    bool attached_ = false;
    SignalConnection connection_;

    // Destroyed (outside mutex_) before the members above.
    std::unique_ptr<DataDeletionWatch> inputWatch_;
    std::unique_ptr<DataDeletionWatch> outputWatch_;
};

}  // namespace Corvexis
