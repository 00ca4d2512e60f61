#include "Stream/Framework/StreamGroupBase.h"

#include "Stream/Framework/SubstreamBase.h"

namespace Corvexis {

void StreamGroupBase::reassignSubstream(SubstreamBase* substream)
{
    if (substream != nullptr)
        substream->group_ = this;
}

}  // namespace Corvexis
