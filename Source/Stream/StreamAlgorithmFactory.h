#pragma once

#include <memory>
#include <vector>

#include "Host/Lib/AlgorithmFactory.h"

namespace Corvexis {

class DataDisplayHandler;

// The plug-in's algorithm table, named "Stream": every algorithm is reachable as "Stream." plus its
// identifier, under its menu path (kept byte for byte: "Streaming; Fake PolyData Stream" has a blank
// after the semicolon, "Record Stream" has no menu level). Entries join the table as their classes are
// built. Thread-safe (as AlgorithmFactory).
//
// Construction first registers the plug-in's data display handlers with the host's
// DataDisplayHandlerFactory ("Corvexis.ImageStreamDisplayHandler", "Corvexis.TrackingStreamDisplayHandler",
// "Corvexis.PolyDataDisplayHandler"); the factory owns them and unregisters them when destroyed.
class StreamAlgorithmFactory : public AlgorithmFactory
{
public:
    StreamAlgorithmFactory();
    ~StreamAlgorithmFactory() override;

private:
    std::vector<std::unique_ptr<DataDisplayHandler>> displayHandlers_;
};

}  // namespace Corvexis
