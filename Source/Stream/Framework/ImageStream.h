#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

#include "Host/Core/Data.h"
#include "Host/Core/ImageDescriptor.h"
#include "Host/Core/Selectable.h"
#include "Host/Core/Signal.h"
#include "Stream/Framework/Stream.h"

namespace Corvexis {

class StreamData;

// Base of every stream that produces images. On top of Stream it follows what the stream delivers: the
// descriptor of the last frame, whether frames are 2-D or 3-D (kind ImageStream or VolumeStream) and
// their modality. It watches its own signalStreamData for that, so subclasses only emit their records.
//
// As a Selectable it has one element; its focus picks which image of a multi-image record is the one
// described (the focus is the index into ImageStreamData::images()).
//
// Threading: the frame handler runs on whichever thread emits signalStreamData (normally the worker);
// descriptorMutex_ guards lastDescriptor_; kind_ and modality_ are atomics. Every public operation is
// thread-safe. No lock is held while signalKindChanged is emitted.
//
// Destruction: subclasses call close() in their destructor, as for every stream; this destructor then
// disconnects the frame handler before the members it uses go away.
class ImageStream : public Stream, public Selectable
{
public:
    explicit ImageStream(const std::string& name);
    ~ImageStream() override;

    // The last frame's descriptor (of the focused image); empty before the first frame. Thread-safe.
    std::optional<ImageDescriptor> descriptor() const;

    // ImageStream (2-D frames, initially) or VolumeStream. Thread-safe.
    Kind kind() const override { return kind_.load(); }
    // None initially; follows the frames' modality unless they carry None. Thread-safe.
    Modality modality() const override { return modality_.load(); }
    // Thread-safe.
    void setModality(Modality modality) { modality_.store(modality); }

    // Summary of the last frame (modality, image or volume, resolution, spacing, channels, pixel type)
    // followed by Stream::describe(); only the latter before the first frame. Thread-safe.
    std::string describe() const override;

    // True: frames are stored top row first. Subclasses whose frames are bottom-up say false.
    virtual bool topDown() const { return true; }

    // One selectable element: the stream. Thread-safe.
    int size() const override { return 1; }

    // Emitted with the new kind when it changes, on the thread that delivered the frame that changed it
    // (or that called setKind).
    Signal<Kind> signalKindChanged;
    // Emitted once by the destructor, on the destroying thread, after the subclass was closed and
    // destroyed: only the pointer's identity may be used. Watchers (the image cache) forget the stream.
    Signal<> signalDeleted;

protected:
    // Stores the kind and emits signalKindChanged when it differs from the current one; an unchanged
    // kind emits nothing. Thread-safe.
    void setKind(Kind kind);

    // Image streams render or upload on their worker.
    bool workerThreadRequiresOpenGl() const override { return true; }
    // Which image of a record the descriptor follows: the focus, unless a subclass's focus means
    // something else (a video file's focus is a frame number). Emitting thread.
    virtual int describedImageIndex() const { return focus(); }

private:
    // Follows descriptor, modality and kind of each image record. Emitting thread.
    void onStreamData(const std::shared_ptr<const StreamData>& data);

    std::atomic<Modality> modality_{Modality::None};
    std::atomic<Kind> kind_{Kind::ImageStream};

    mutable std::mutex descriptorMutex_;
    // guarded by descriptorMutex_
    std::optional<ImageDescriptor> lastDescriptor_;

    SignalConnection frameHandler_;
};

}  // namespace Corvexis
