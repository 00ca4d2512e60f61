#pragma once

#include <memory>
#include <vector>

#include "Host/Core/CompoundData.h"
#include "Host/Core/Signal.h"
#include "Host/Core/SignalReceiver.h"

namespace Corvexis {

class CompoundStreamData;
class Stream;
class SubstreamBase;

// A device that delivers several kinds of data at once: one proxy stream drives it, and each kind of
// data is offered as a substream that ordinary consumers use. The group emits one CompoundStreamData
// per measurement on signalCompoundStreamData and hands each part to its substream (StreamGroup).
//
// As CompoundData it lists its substreams' streams, so a host data tree shows them under the group.
//
// Ownership: the group owns its substreams. Threading: see StreamGroup, which implements this.
class StreamGroupBase : public CompoundData, public SignalReceiver
{
public:
    StreamGroupBase() = default;
    StreamGroupBase(const StreamGroupBase&) = delete;
    StreamGroupBase& operator=(const StreamGroupBase&) = delete;
    ~StreamGroupBase() override = default;

    // The substreams' streams, in insertion order.
    DataList containedData() const override = 0;
    // The stream that drives the group (the group object itself for StreamGroup).
    virtual Stream* proxyStream() = 0;
    virtual const Stream* proxyStream() const = 0;
    // The substreams' streams, in insertion order.
    virtual std::vector<Stream*> substreams() const = 0;
    // Takes `substream` over when it belongs to this group; otherwise destroys it. True when added.
    virtual bool addSubstream(std::unique_ptr<SubstreamBase> substream) = 0;
    // Schedules the removal of `substream`; false when it is not one of the group's.
    virtual bool removeSubstream(SubstreamBase* substream) = 0;

    // Every compound record of the group, on the group's worker thread.
    Signal<std::shared_ptr<const CompoundStreamData>> signalCompoundStreamData;

protected:
    // Makes this group the parent of `substream` (after the group object was moved or rebuilt).
    void reassignSubstream(SubstreamBase* substream);
};

}  // namespace Corvexis
