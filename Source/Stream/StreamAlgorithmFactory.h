#pragma once

#include "Host/Lib/AlgorithmFactory.h"

namespace Corvexis {

// The plug-in's algorithm table, named "Stream": every algorithm is reachable as "Stream." plus its
// identifier, under its menu path (kept byte for byte: "Streaming; Fake PolyData Stream" has a blank
// after the semicolon, "Record Stream" has no menu level). Entries join the table as their classes are
// built. Thread-safe (as AlgorithmFactory).
class StreamAlgorithmFactory : public AlgorithmFactory
{
public:
    StreamAlgorithmFactory();
    ~StreamAlgorithmFactory() override;
};

}  // namespace Corvexis
