#include "Stream/StreamGroupBase.h"

#include "Stream/SubstreamBase.h"

namespace Corvexis {

void StreamGroupBase::reassignSubstream(SubstreamBase* substream)
{
    if (substream != nullptr)
        substream->group_ = this;
}

}  // namespace Corvexis
