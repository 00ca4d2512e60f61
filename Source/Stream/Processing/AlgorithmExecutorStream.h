#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "Host/Core/Signal.h"
#include "Stream/Framework/ImageStream.h"

namespace Corvexis {

class DataDeletionWatch;

// The image stream on which a StreamAlgorithmExecutor publishes its results. It has no device and no
// worker of its own: its records are emitted by the executor, and starting, stopping, pausing and
// resuming it act on the input stream (opening and closing do not). The top-down flag and the initial
// kind are the input's at construction.
//
// The input is borrowed; when it is destroyed the stream forgets it (a DataDeletionWatch), and start
// and stop then succeed without action. Threading: every public operation is thread-safe; the hooks run
// on the requesting thread (no worker). inputMutex_ (recursive: a request on the input may come back
// here through a state signal) guards input_.
class AlgorithmExecutorStream : public ImageStream
{
public:
    AlgorithmExecutorStream(bool topDown, Data::Kind kind, ImageStream* input);
    ~AlgorithmExecutorStream() override;

    bool topDown() const override { return topDown_; }
    // Images per record, as last delivered (1 before the first). Thread-safe.
    int size() const override { return imagesPerFrame_.load(); }
    void setImagesPerFrame(int count) { imagesPerFrame_.store(count); }
    // Sets the stream's kind (image or volume stream), signalling a change. Thread-safe.
    void setStreamKind(Data::Kind kind) { setKind(kind); }

    // The input stream, or null once it was destroyed. Thread-safe (the pointer is only borrowed).
    ImageStream* inputStream() const;

    ThreadingMode threadingMode() const override { return ThreadingMode::NoWorkerThread; }
    bool supportsPausing() const override;

    // Emitted by the executor that feeds this stream after each attempt to create its algorithm
    // (successful or not), on the executor's processing thread (the producer's with forced blocking)
    // and without its locks held, so that whoever shows this stream (the executor may be gone from
    // view once the stream was taken) can refresh.
    Signal<> signalAlgorithmChanged;

protected:
    bool openImpl() override { return true; }
    bool closeImpl() override { return true; }
    bool startImpl() override;
    bool stopImpl() override;
    bool pauseImpl() override;
    bool resumeImpl() override;
    std::optional<WorkContinuation> doWork() override { return std::nullopt; }
    bool workerThreadRequiresOpenGl() const override { return false; }

private:
    const bool topDown_;
    std::atomic<int> imagesPerFrame_{1};

    mutable std::recursive_mutex inputMutex_;
    // guarded by inputMutex_
    ImageStream* input_ = nullptr;

    // Destroyed first in the destructor (outside inputMutex_): it may be running its callback.
    std::unique_ptr<DataDeletionWatch> inputWatch_;
};

}  // namespace Corvexis
