#pragma once

#include <algorithm>
#include <iterator>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "Host/Core/Log.h"
#include "Host/Core/QtHelpers.h"
#include "Stream/Framework/CompoundStreamData.h"
#include "Stream/Framework/Stream.h"
#include "Stream/Framework/StreamData.h"
#include "Stream/Framework/StreamGroupBase.h"
#include "Stream/Framework/SubstreamBase.h"
#include "Stream/Framework/TrackingStreamData.h"
#include "Stream/Framework/TrackingSubstream.h"

namespace Corvexis {

// The stream-group machinery for a group class that is itself the proxy stream:
//   class MyGroup : public TrackingStream, public StreamGroup<MyGroup> { ... };
// The stream base must come first, so that it outlives this part (the substreams, destroyed here, are
// still connected to the proxy's signals until then). MyGroup's worker builds one CompoundStreamData per
// measurement, naming each part's producer (StreamData::stream()) as one of its substreams, and passes it
// to emitCompoundStreamData().
//
// Ownership: the group owns its substreams. A removed substream is kept in a pending list and destroyed
// at the end of the next emission (or with the group), so a record being dispatched never reaches a
// destroyed substream.
//
// Threading: mutex_ guards the three lists. Emission runs on the group's worker; addSubstream and
// substreams() on any thread; removal is carried out on the main thread (the host's data model lives
// there), which is also the thread that must destroy the group. No signal is emitted and no substream
// destroyed while mutex_ is held.
template <typename Derived>
class StreamGroup : public StreamGroupBase
{
public:
    ~StreamGroup() override { destroySubstreams(); }

    DataList containedData() const override { return CompoundData::containedData(); }
    Stream* proxyStream() override { return static_cast<Derived*>(this); }
    const Stream* proxyStream() const override { return static_cast<const Derived*>(this); }

    std::vector<Stream*> substreams() const override
    {
        std::lock_guard lock(mutex_);
        return streams_;
    }

    // Refuses (warning under "StreamGroup") and destroys a substream made for another group.
    bool addSubstream(std::unique_ptr<SubstreamBase> substream) override
    {
        if (!substream || substream->streamGroup() != this) {
            Log::log(Log::Level::Warning, "StreamGroup",
                     "Substream parent must be equivalent to this stream group");
            return false;
        }
        Stream* stream = substream->stream();
        {
            std::lock_guard lock(mutex_);
            substreams_.push_back(std::move(substream));
            streams_.push_back(stream);
        }
        addContent(stream);
        return true;
    }

    // Schedules the removal on the main thread (carried out before returning when called there); false,
    // with a warning, when `substream` is not one of the group's, and false when there is no application
    // whose main thread could carry it out.
    bool removeSubstream(SubstreamBase* substream) override
    {
        {
            std::lock_guard lock(mutex_);
            if (findLocked(substream) == substreams_.end()) {
                Log::log(Log::Level::Warning, "StreamGroup",
                         "Removal of substream failed. Substream not found.");
                return false;
            }
        }
        std::weak_ptr<char> alive = alive_;
        return QtHelpers::runOnMainThread([this, alive, substream] {
            if (alive.lock())
                moveToPending(substream);
        });
    }

protected:
    StreamGroup() = default;

    // Dispatches one measurement: the proxy record on the proxy's signalStreamData, the compound record
    // on signalCompoundStreamData, then (with `toSubstreams`) each part on its producer's
    // signalStreamData, feeding tracking parts' instruments to their TrackingSubstream first. Finally
    // destroys the substreams whose removal is pending. Worker thread.
    void emitCompoundStreamData(const std::shared_ptr<const CompoundStreamData>& data, bool toSubstreams)
    {
        if (data) {
            if (auto proxyData = data->proxyStreamData())
                proxyStream()->signalStreamData.emitSignal(proxyData);
            signalCompoundStreamData.emitSignal(data);
            if (toSubstreams) {
                for (const auto& part : data->substreamsStreamData()) {
                    Stream* producer = part ? part->stream() : nullptr;
                    if (producer == nullptr)
                        continue;
                    if (auto* tracking = dynamic_cast<const TrackingStreamData*>(part.get())) {
                        if (auto* substream = dynamic_cast<TrackingSubstream*>(producer))
                            substream->setInstruments(tracking->instruments());
                    }
                    producer->signalStreamData.emitSignal(part);
                }
            }
        }
        std::vector<std::unique_ptr<SubstreamBase>> removed;
        {
            std::lock_guard lock(mutex_);
            removed.swap(pendingRemoval_);
        }
    }

    // Destroys every substream, pending ones included; later scheduled removals do nothing. Called by
    // the destructor; a group may call it earlier, after closing itself. Main thread.
    void destroySubstreams()
    {
        alive_.reset();
        std::vector<std::unique_ptr<SubstreamBase>> all;
        {
            std::lock_guard lock(mutex_);
            all = std::move(substreams_);
            substreams_.clear();
            streams_.clear();
            std::move(pendingRemoval_.begin(), pendingRemoval_.end(), std::back_inserter(all));
            pendingRemoval_.clear();
        }
        for (const auto& substream : all)
            removeContent(substream->stream());
        // Newest first, the reverse of their creation.
        while (!all.empty())
            all.pop_back();
    }

private:
    using SubstreamList = std::vector<std::unique_ptr<SubstreamBase>>;

    typename SubstreamList::iterator findLocked(const SubstreamBase* substream)
    {
        return std::find_if(substreams_.begin(), substreams_.end(),
                            [substream](const auto& s) { return s.get() == substream; });
    }

    // Main thread.
    void moveToPending(SubstreamBase* substream)
    {
        Stream* stream = nullptr;
        {
            std::lock_guard lock(mutex_);
            auto it = findLocked(substream);
            if (it == substreams_.end())
                return;  // removed twice
            stream = (*it)->stream();
            pendingRemoval_.push_back(std::move(*it));
            substreams_.erase(it);
            streams_.erase(std::find(streams_.begin(), streams_.end(), stream));
        }
        removeContent(stream);
    }

    mutable std::mutex mutex_;
    // guarded by mutex_
    SubstreamList substreams_;      // insertion order
    std::vector<Stream*> streams_;  // their streams, same order
    SubstreamList pendingRemoval_;  // destroyed at the end of the next emission
    // Expires when the substreams are destroyed; a removal queued for the main thread checks it.
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace Corvexis
