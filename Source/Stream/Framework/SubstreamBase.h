#pragma once

namespace Corvexis {

class Stream;
class StreamGroupBase;

// One member of a stream group: a stream that offers one kind of the group's data to ordinary
// consumers. The group owns its substreams; `group` is borrowed and outlives the substream.
//
// Threading: streamGroup() is thread-safe (the group is set before the substream is shared and only
// changed by the group while no one else uses the substream).
class SubstreamBase
{
public:
    explicit SubstreamBase(StreamGroupBase* group) : group_(group) {}
    SubstreamBase(const SubstreamBase&) = default;
    SubstreamBase& operator=(const SubstreamBase&) = delete;
    virtual ~SubstreamBase() = default;

    // The substream as a stream; never null.
    virtual Stream* stream() = 0;

    StreamGroupBase* streamGroup() const { return group_; }

private:
    friend class StreamGroupBase;

    StreamGroupBase* group_;
};

}  // namespace Corvexis
