#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "Host/Core/Parameter.h"
#include "Host/Core/Properties.h"
#include "Host/Core/Signal.h"
#include "Host/Core/SignalConnection.h"
#include "Stream/Framework/BackgroundThreadConsumer.h"
#include "Stream/Framework/StreamAlgorithm.h"
#include "Stream/Processing/StreamAlgorithmExecutorPayload.h"

namespace Corvexis {

class AlgorithmExecutorStream;
class ImageStream;
class SequentialImageProcessor;
class StreamData;

// Runs a host image algorithm (a SequentialImageProcessor, named by its registry identifier or given
// ready-made) on every frame of a live image stream and publishes the results on an
// AlgorithmExecutorStream, with the frame's timestamps.
//
// Hand-off: the input stream's emitting thread takes a shallow clone of each frame (and a fence when
// its images live on the graphics card) and pushes it into the background consumer's queue, which holds
// at most "queueSize" frames and drops the oldest waiting one when full, so the producer never waits.
// With "forceBlocking" the frame is processed at once on the producer's thread, under its graphics
// context (or a borrowed one). With "processOnGpu" the frame's images are uploaded to the graphics card
// before processing.
//
// The algorithm is created from its name with the first frame after the name was set (or changed), on
// a clone of that frame's images, and configured with the stored "algorithmConfig". A frame for which
// the algorithm gives no image emits nothing.
//
// Locks: algorithmMutex_ is held while a frame is processed and while the algorithm is replaced or
// configured; nameMutex_ guards the name, the stored configuration and the algorithm pointers. Order:
// algorithmMutex_ before nameMutex_. outputMutex_ guards the output pointers and is never held with
// the others. No lock is held while a signal is emitted.
//
// Threading: configure, configuration, setStreamAlgorithmName, streamAlgorithmName, inputStream,
// outputStream, stream and waitUntilCompleted are thread-safe; compute and takeOutput are caller
// synchronises (the host's thread); streamAlgorithm's pointer is valid until the next rename.
class StreamAlgorithmExecutor : public StreamAlgorithm,
                                public BackgroundThreadConsumer<StreamAlgorithmExecutorPayload>
{
public:
    // Connects to `input`'s records; `algorithm` may be null (then it is created by name).
    explicit StreamAlgorithmExecutor(ImageStream& input, std::unique_ptr<Algorithm> algorithm = nullptr);
    ~StreamAlgorithmExecutor() override;

    // Exactly one input, an image stream whose kind is not EncodedImageStream (15).
    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm);

    // Fails with "Algorithm name required to instantiate algorithm!" (InvalidInput) when there is
    // neither an algorithm nor a name; otherwise succeeds: frames drive the processing.
    void compute() override;

    // Replaces the algorithm at the next frame when `name` differs from the current one. Thread-safe.
    void setStreamAlgorithmName(const std::string& name);
    std::string streamAlgorithmName() const;
    // The current algorithm, or null. Thread-safe; valid until the next rename or destruction.
    Algorithm* streamAlgorithm() const;

    ImageStream* inputStream() const;
    // The output stream, also after it was taken; null once its owner destroyed it. Thread-safe.
    AlgorithmExecutorStream* outputStream() const;
    Stream* stream() const override;
    void resetStream() override;

    // The three parameters, "algorithmName" and the sub-block "algorithmConfig" (stored and applied
    // to the algorithm, now if there is one, else when it is created). Thread-safe.
    void configure(const Properties* properties) override;
    void configuration(Properties* properties) const override;
    // The parameters, "algorithmName" and "algorithmConfig", a block taken as given (the named
    // algorithm reads it). Thread-safe.
    void describeSettings(Properties* schema) const override;

    Parameter<bool> paramForceBlocking{"forceBlocking", false, this};
    Parameter<bool> paramProcessOnGpu{"processOnGpu", false, this};
    Parameter<int> paramQueueSize{"queueSize", 5, this};

    // Emitted after an attempt to create the algorithm (successful or not), on the processing thread,
    // so that a controller can refresh; the output stream's signalAlgorithmChanged follows at once.
    Signal<> signalAlgorithmChanged;

protected:
    // Creates the named algorithm for a clone of `images` and applies the stored configuration; process()
    // then emits signalAlgorithmChanged once the lock is released. Processing thread, holding
    // algorithmMutex_.
    void instantiateAlgorithm(const std::shared_ptr<const SharedImageSet>& images);
    // Processes one frame. Processing thread, or the producer's with forced blocking.
    void process(TimestampedPayload<StreamAlgorithmExecutorPayload> payload) override;
    std::unique_ptr<Stream> releaseStream() override;

private:
    // Input stream's emitting thread.
    void onStreamData(const std::shared_ptr<const StreamData>& data);
    // Emits signalAlgorithmChanged, then the output stream's. Processing thread, no lock held.
    void announceAlgorithmChange();
    // Takes the algorithm over; null processor when it is not a SequentialImageProcessor (logged).
    void adoptAlgorithm(std::unique_ptr<Algorithm> algorithm, const std::string& name);

    ImageStream* const input_;

    std::mutex algorithmMutex_;

    mutable std::mutex nameMutex_;
    // guarded by nameMutex_
    std::string algorithmName_;
    std::unique_ptr<Properties> algorithmConfig_;
    std::unique_ptr<Algorithm> algorithm_;
    SequentialImageProcessor* processor_ = nullptr;
    // Keeps the image set the algorithm was created on alive as long as the algorithm.
    std::shared_ptr<SharedImageSet> algorithmInput_;

    mutable std::mutex outputMutex_;
    // guarded by outputMutex_
    std::unique_ptr<AlgorithmExecutorStream> ownedOutput_;
    AlgorithmExecutorStream* output_ = nullptr;

    SignalConnection inputConnection_;
};

}  // namespace Corvexis
