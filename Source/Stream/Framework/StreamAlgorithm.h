#pragma once

#include "Host/Lib/Algorithm.h"
#include "Stream/Framework/StreamAlgorithmBase.h"

namespace Corvexis {

// A host algorithm that produces a stream (the stream algorithm executor, live processing). Its output
// is the stream, handed over once (StreamAlgorithmBase::takeOutput). Threading as its bases.
class StreamAlgorithm : public StreamAlgorithmBase, public Algorithm
{
public:
    StreamAlgorithm();
    ~StreamAlgorithm() override;

    OwningDataList takeOutput() override;
};

}  // namespace Corvexis
