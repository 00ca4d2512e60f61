#pragma once

#include <memory>
#include <mutex>

#include "Host/Core/OwningDataList.h"
#include "Host/Core/SignalReceiver.h"

namespace Corvexis {

class Data;
class DataDeletionWatch;
class Stream;

// Base of every algorithm that produces a stream. takeOutput hands the stream to the host once; from
// then on the host owns it, and when the host destroys it resetStream() is called so the algorithm
// forgets its pointer.
//
// Threading: takeOutput is caller synchronises (the host's thread that runs the algorithm);
// isOutputTaken is thread-safe; resetStream runs on the thread that destroys the stream.
class StreamAlgorithmBase : public SignalReceiver
{
public:
    StreamAlgorithmBase();
    ~StreamAlgorithmBase() override;

    // The produced stream (owned by the algorithm until taken, by the host after), or null.
    virtual Stream* stream() const = 0;
    // The group the stream belongs to; none by default.
    virtual Data* dataGroup() const { return nullptr; }
    // First call: marks the output taken, arranges for resetStream() when the stream is destroyed, and
    // returns a list holding the stream (empty when there is none). Later calls return an empty list.
    virtual OwningDataList takeOutput();
    // The produced stream was destroyed by its owner; forget it. Default: nothing.
    virtual void resetStream() {}

    bool isOutputTaken() const;

protected:
    // Hands over ownership of the produced stream for takeOutput; null when there is none.
    virtual std::unique_ptr<Stream> releaseStream() = 0;
    // Forgets that the output was taken (a new stream was made by a new computation); the stream
    // handed over before no longer calls resetStream().
    void clearOutputTaken();
    // Stops resetStream() calls from the handed-over stream; subclasses whose resetStream touches their
    // own members call it first thing in their destructor. Thread-safe.
    void detachLink();

private:
    mutable std::mutex mutex_;
    // guarded by mutex_
    bool outputTaken_ = false;
    // Watches the handed-over stream; destroyed (outside mutex_) when this algorithm forgets it.
    std::unique_ptr<DataDeletionWatch> watch_;
};

}  // namespace Corvexis
