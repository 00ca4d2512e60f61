#include "Stream/Framework/ImageStreamCache.h"

#include <string_view>
#include <utility>

#include <QCoreApplication>
#include <QThread>

#include "Host/Core/Log.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/Flush.h"
#include "Host/Lib/SharedImage.h"
#include "Host/Lib/SharedImageSet.h"
#include "Stream/Framework/ImageStream.h"
#include "Stream/Framework/ImageStreamData.h"

namespace Corvexis {

namespace {

constexpr std::string_view kCategory = "ImageStreamCache";
// Edge of a placeholder without remembered dimensions, in pixels.
constexpr int kPlaceholderEdge = 16;

}  // namespace

ImageStreamCache& ImageStreamCache::ref()
{
    // Never destroyed: streams and handles may be released during static destruction.
    static ImageStreamCache* instance = new ImageStreamCache;
    return *instance;
}

ImageStreamCache::ImageStreamCache()
{
    qRegisterMetaType<Corvexis::ImageStream*>("Corvexis::ImageStream*");
    // The slot must run on the user interface thread, whichever thread asked first.
    if (auto* app = QCoreApplication::instance(); app && thread() != app->thread())
        moveToThread(app->thread());
    connect(this, &ImageStreamCache::imageReceived, this, &ImageStreamCache::onImageReceived,
            Qt::QueuedConnection);
}

ImageStreamCache::~ImageStreamCache()
{
    disconnectAll();
}

StreamSharedImageSet ImageStreamCache::image(ImageStream* stream)
{
    if (!stream)
        return {};
    std::unique_lock lock(mutex_);
    if (auto it = entries_.find(stream); it != entries_.end()) {
        ++it->second.uses;
        return StreamSharedImageSet(this, it->second.set);
    }

    // Attaching.
    Entry entry;
    entry.set = std::make_shared<SharedImageSet>(stream->name());
    entry.set->properties().setParam("topDown", stream->topDown());
    entry.set->setModality(stream->modality());
    const auto last = lastShown_.find(stream);
    if (auto image =
            placeholder(static_cast<int>(stream->kind()), last == lastShown_.end() ? nullptr : &last->second))
        entry.set->add(std::move(image));
    entry.uses = 1;
    // Connecting takes no lock of ours; the callbacks find the entry under mutex_ once it is stored.
    entry.dataConnection = stream->signalStreamData.connect(
        this, [this, stream](std::shared_ptr<const StreamData> data) { onStreamData(stream, data); });
    entry.deletionConnection =
        stream->signalDeleted.connect(this, [this, stream] { onStreamDeleted(stream); });
    auto set = entry.set;
    entries_.emplace(stream, std::move(entry));
    lock.unlock();

    Log::log(Log::Level::Debug, kCategory, "Attaching ImageStreamCache to ImageStream");
    return StreamSharedImageSet(this, std::move(set));
}

ImageStream* ImageStreamCache::stream(const SharedImageSet* set) const
{
    if (!set)
        return nullptr;
    std::lock_guard lock(mutex_);
    for (const auto& [stream, entry] : entries_) {
        if (entry.set.get() == set)
            return stream;
    }
    return nullptr;
}

void ImageStreamCache::addUse(const SharedImageSet* set)
{
    std::lock_guard lock(mutex_);
    for (auto& [stream, entry] : entries_) {
        if (entry.set.get() == set) {
            ++entry.uses;
            return;
        }
    }
    // A handle of a deleted stream's set: nothing is attached any more, nothing to count.
}

void ImageStreamCache::releaseUse(const SharedImageSet* set)
{
    Entry detached;
    {
        std::lock_guard lock(mutex_);
        auto it = entries_.begin();
        while (it != entries_.end() && it->second.set.get() != set)
            ++it;
        if (it == entries_.end() || --it->second.uses > 0)
            return;
        detached = std::move(it->second);
        entries_.erase(it);
    }
    Log::log(Log::Level::Debug, kCategory, "Detaching ImageStreamCache from ImageStream");
    disconnect(detached);
}

void ImageStreamCache::onStreamDeleted(ImageStream* stream)
{
    Entry detached;
    {
        std::lock_guard lock(mutex_);
        lastShown_.erase(stream);
        auto it = entries_.find(stream);
        if (it == entries_.end())
            return;
        detached = std::move(it->second);
        entries_.erase(it);
    }
    Log::log(Log::Level::Debug, kCategory,
             "Detaching ImageStreamCache from ImageStream because stream was deleted");
    // Disconnecting the deletion connection from inside its own call returns at once.
    disconnect(detached);
}

void ImageStreamCache::disconnect(Entry& entry)
{
    entry.dataConnection.disconnect();
    entry.deletionConnection.disconnect();
}

void ImageStreamCache::onStreamData(ImageStream* stream, const std::shared_ptr<const StreamData>& data)
{
    const auto* record = dynamic_cast<const ImageStreamData*>(data.get());
    // A record's images replace the pending ones, also when it holds none: the stream then shows none.
    if (!record)
        return;
    {
        std::lock_guard lock(mutex_);
        auto it = entries_.find(stream);
        if (it == entries_.end())
            return;
        // Only the newest frame survives until the user interface turns.
        it->second.pending = record->images();
        // Read here, on the producing thread, where the stream is certainly alive and whole.
        it->second.modality = stream->modality();
        if (GL::ContextManager::hasCurrent() && record->containsGlImage()) {
            // Fences the producer's commands so far; the user interface waits on it before reading.
            if (auto sync = GL::SyncObject::create(); sync.isValid())
                syncObjects_.push_back(std::move(sync));
            GL::flush();
        }
    }
    Q_EMIT imageReceived(stream);
}

void ImageStreamCache::onImageReceived(ImageStream* stream)
{
    std::vector<GL::SyncObject> syncObjects;
    std::optional<std::vector<std::shared_ptr<const SharedImage>>> pendingRecord;
    std::shared_ptr<SharedImageSet> set;
    Data::Modality modality = Data::Modality::None;
    {
        std::lock_guard lock(mutex_);
        syncObjects = std::exchange(syncObjects_, {});
        auto it = entries_.find(stream);
        if (it != entries_.end()) {
            pendingRecord = std::exchange(it->second.pending, std::nullopt);
            set = it->second.set;
            modality = it->second.modality;
        }
    }

    // An earlier turn showed this stream's newest record already when none is pending.
    const bool anyPending = set && pendingRecord.has_value();
    const std::vector<std::shared_ptr<const SharedImage>> pending =
        anyPending ? std::move(*pendingRecord) : std::vector<std::shared_ptr<const SharedImage>>{};
    const auto show = [&] {
        for (auto& sync : syncObjects)
            sync.wait();
        syncObjects.clear();
        if (!anyPending)
            return;
        for (std::size_t i = 0; i < pending.size(); ++i) {
            if (!pending[i])
                continue;
            if (i < static_cast<std::size_t>(set->size()))
                *set->get(static_cast<int>(i)) = *pending[i];
            else
                set->add(std::make_shared<SharedImage>(*pending[i]));
        }
        while (static_cast<std::size_t>(set->size()) > pending.size())
            set->remove(set->size() - 1);
    };
    // Waiting on the fences only orders the context that then reads the frames, so both happen in one.
    if (syncObjects.empty() || !GL::ContextManager::runWithOpenGL(show))
        show();

    if (!anyPending)
        return;
    set->setModality(modality);
    if (!pending.empty() && pending.front()) {
        std::lock_guard lock(mutex_);
        // Only while attached: a deleted stream's dimensions must not be remembered for a new stream
        // that reuses its address.
        if (entries_.count(stream) != 0)
            lastShown_[stream] = pending.front()->descriptor();
    }
    Q_EMIT updateRequested();
}

std::shared_ptr<SharedImage> ImageStreamCache::placeholder(int kind, const ImageDescriptor* last)
{
    ImageDescriptor desc(ImageDescriptor::kUByte, kPlaceholderEdge, kPlaceholderEdge, 1, 1);
    if (kind == static_cast<int>(Data::Kind::ImageStream)) {
        if (last) {
            desc.width = last->width;
            desc.height = last->height;
        }
    } else if (kind == static_cast<int>(Data::Kind::VolumeStream)) {
        desc.slices = kPlaceholderEdge;
        if (last) {
            desc.width = last->width;
            desc.height = last->height;
            desc.slices = last->slices == 1 ? kPlaceholderEdge : last->slices;
        }
    } else {
        return nullptr;
    }
    if (!desc.isValid())
        return nullptr;
    // Main memory is zero-filled on allocation.
    return std::make_shared<SharedImage>(desc, Image::Location::Memory);
}

}  // namespace Corvexis
