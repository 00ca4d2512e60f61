#pragma once

#include <optional>
#include <string>

#include "Stream/Framework/OutputConnection.h"
#include "Stream/Framework/Stream.h"

namespace Corvexis {

// A stream whose only job is to pass records to an OutputConnection (borrowed; it must outlive the
// out-stream). Its hooks succeed without action and it produces nothing of its own: the lifecycle only
// gates sending, which happens while the out-stream is Running. Subclasses fix the kind; protocol
// bound subclasses override sendStreamData.
class OutStream : public Stream
{
public:
    OutStream(OutputConnection& connection, const std::string& name);
    // Closes the stream first.
    ~OutStream() override;

    // Passes `data` to the connection when this out-stream is Running and the connection is compatible
    // with the kind of the record's producer; logs at debug level and drops it when incompatible (or
    // when the record has no producer); drops it silently in every other state. Runs on the calling
    // thread (the one that emitted the record). Thread-safe.
    virtual void sendStreamData(const StreamData& data) const;

    OutputConnection& connection() const { return connection_; }  // thread-safe

protected:
    // Hooks succeed without action. Worker thread.
    bool openImpl() override { return true; }
    bool closeImpl() override { return true; }
    bool startImpl() override { return true; }
    bool stopImpl() override { return true; }
    // Nothing to produce: the worker never calls it again. Worker thread.
    std::optional<WorkContinuation> doWork() override { return std::nullopt; }

private:
    OutputConnection& connection_;
};

}  // namespace Corvexis
