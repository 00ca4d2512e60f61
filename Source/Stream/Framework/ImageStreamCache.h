#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <QObject>

#include "Host/Core/Data.h"
#include "Host/Core/ImageDescriptor.h"
#include "Host/Core/SignalConnection.h"
#include "Host/Core/SignalReceiver.h"
#include "Host/GL/SyncObject.h"
#include "Stream/Framework/ImageStream.h"
#include "Stream/Framework/StreamSharedImageSet.h"

namespace Corvexis {

class SharedImage;
class SharedImageSet;
class StreamData;

// Gives the user interface one image set per live image stream, always showing the newest frame.
// One instance per process (ref()).
//
// Frames arrive on the producers' threads: the cache keeps the newest frame of each stream as pending
// (a newer frame replaces one not shown yet) and emits the queued Qt signal imageReceived. Its slot runs
// on the thread that owns the cache, the user interface thread, and copies the pending pixels into the
// image objects already in the stream's set, so views holding the set see the new frame without
// re-binding. Frames made on the graphics card are fenced with a sync object on the producer's context,
// waited on by the user interface before it reads them.
//
// A stream is attached by the first image() request and detached when its last handle goes or when
// the stream is deleted, whichever comes first.
//
// Threading: image(), stream() and the handles are thread-safe; mutex_ guards every map and the sync
// objects. No signal is emitted and no connection is disconnected while mutex_ is held (disconnecting
// waits for a frame callback that itself takes mutex_). The instance should first be used on the
// main thread or once the QCoreApplication exists, which then owns it.
class ImageStreamCache : public QObject, public SignalReceiver
{
    Q_OBJECT

public:
    // The instance, made on first use and never destroyed (streams may outlive every other static).
    // Thread-safe.
    static ImageStreamCache& ref();

    // A handle on the set shown for `stream`, attaching the stream on its first request. An empty
    // handle for a null stream. Thread-safe.
    StreamSharedImageSet image(ImageStream* stream);
    // The stream whose set this is, or null (also for a detached stream's set). Thread-safe.
    ImageStream* stream(const SharedImageSet* set) const;

    ImageStreamCache(const ImageStreamCache&) = delete;
    ImageStreamCache& operator=(const ImageStreamCache&) = delete;

Q_SIGNALS:
    // The sets were updated; views repaint. Emitted on the cache's thread.
    void updateRequested();
    // A new frame is pending for `stream`. Emitted on the producer's thread; queued to the cache's.
    void imageReceived(Corvexis::ImageStream* stream);

private Q_SLOTS:
    // The cache's thread (user interface).
    void onImageReceived(Corvexis::ImageStream* stream);

private:
    friend class StreamSharedImageSet;

    struct Entry
    {
        std::shared_ptr<SharedImageSet> set;
        int uses = 0;
        // The images of the newest record not yet shown; empty when none waits. A record holding no
        // images is pending too: it empties the set.
        std::optional<std::vector<std::shared_ptr<const SharedImage>>> pending;
        // The stream's modality when its pending frame arrived.
        Data::Modality modality = Data::Modality::None;
        SignalConnection dataConnection;
        SignalConnection deletionConnection;
    };

    ImageStreamCache();
    ~ImageStreamCache() override;

    // Handle bookkeeping. Thread-safe.
    void addUse(const SharedImageSet* set);
    void releaseUse(const SharedImageSet* set);

    // Producer's thread.
    void onStreamData(ImageStream* stream, const std::shared_ptr<const StreamData>& data);
    // The deleting thread.
    void onStreamDeleted(ImageStream* stream);
    // Disconnects a detached entry's connections. Caller must not hold mutex_.
    static void disconnect(Entry& entry);

    // A zero-filled one-channel unsigned 8-bit placeholder for a stream of `kind`, sized from the
    // remembered dimensions `last` (if any); null for kinds other than image and volume streams.
    static std::shared_ptr<SharedImage> placeholder(int kind, const ImageDescriptor* last);

    mutable std::mutex mutex_;
    // guarded by mutex_
    std::map<ImageStream*, Entry> entries_;
    // Dimensions of the last frame shown per stream; kept across detaching (forgotten on deletion).
    std::map<ImageStream*, ImageDescriptor> lastShown_;
    std::vector<GL::SyncObject> syncObjects_;
};

}  // namespace Corvexis

// The stream travels as the argument of the queued imageReceived; it is only used as a key there.
Q_DECLARE_METATYPE(Corvexis::ImageStream*)
