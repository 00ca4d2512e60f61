#pragma once

#include <memory>

#include "Host/GL/SyncObject.h"
#include "Host/Lib/SharedImageSet.h"

namespace Corvexis {

// What the stream algorithm executor hands from the input stream's thread to its processing thread: a
// shallow clone of the frame's images and, when they live on the graphics card and the producer had a
// context, the fence after the producer's work on them. Both are shared so that the payload can be
// copied into the hand-off queue; the fence is waited on by whichever thread processes it.
struct StreamAlgorithmExecutorPayload
{
    std::shared_ptr<SharedImageSet> images;
    std::shared_ptr<GL::SyncObject> sync;
};

}  // namespace Corvexis
