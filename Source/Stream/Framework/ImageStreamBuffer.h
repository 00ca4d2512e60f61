#pragma once

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>

#include "Host/Core/SignalReceiver.h"

namespace Corvexis {

class ImageStream;
class SharedImageSet;
class StreamData;

// Keeps the records of the last bufferTime() seconds (by arrival time) of one image stream, and freezes
// them into an image set on request, for example to save what just happened.
//
// Every record the stream emits is appended, whatever its kind; after each append and each change of
// bufferTime() the oldest records are dropped while the newest and oldest arrival times lie more than
// bufferTime() apart (records exactly bufferTime() apart are kept).
//
// Threading: fed on the stream's emitting thread, read from any thread; mutex_ guards all state, so
// every public operation is thread-safe. The stream may be destroyed first: its signal then ends the
// connection.
class ImageStreamBuffer : public SignalReceiver
{
public:
    // Connects to the stream's signalStreamData; the stream is not kept. Thread-safe.
    explicit ImageStreamBuffer(ImageStream& stream);
    ~ImageStreamBuffer() override;
    ImageStreamBuffer(const ImageStreamBuffer&) = delete;
    ImageStreamBuffer& operator=(const ImageStreamBuffer&) = delete;

    // 10 s initially. Thread-safe.
    std::chrono::duration<double> bufferTime() const;
    // Stores the time and trims at once. Thread-safe.
    void setBufferTime(std::chrono::duration<double> time);

    // A new set with a clone (sharing pixel storage) of the first image of every buffered image record,
    // oldest first, each with the record's arrival time (ms) as its timestamp. The set is named after the
    // stream. The buffer is left unchanged. Thread-safe.
    std::unique_ptr<SharedImageSet> freezeBuffer();

    // Number of buffered records. Thread-safe.
    std::size_t size() const;

private:
    // Emitting thread.
    void onStreamData(const std::shared_ptr<const StreamData>& data);
    // Caller holds mutex_.
    void trimLocked();

    const std::string name_;

    mutable std::mutex mutex_;
    // guarded by mutex_
    std::deque<std::shared_ptr<const StreamData>> records_;  // oldest first
    std::chrono::duration<double> bufferTime_{10.0};
};

}  // namespace Corvexis
