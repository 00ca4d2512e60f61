#pragma once

#include <memory>

#include "Host/Lib/DataDisplayHandler.h"

namespace Corvexis {

// Shows poly-data streams on the host's views (see PolyDataStreamDisplay). Registered by the plug-in's
// algorithm factory. Thread-safe: no state.
class PolyDataDisplayHandler : public DataDisplayHandler
{
public:
    bool canShow(const Data& data) const override;
    std::unique_ptr<DataDisplay> createDisplay(Data& data) const override;
};

}  // namespace Corvexis
