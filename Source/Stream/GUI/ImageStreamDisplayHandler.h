#pragma once

#include <memory>

#include "Host/Lib/DataDisplayHandler.h"

namespace Corvexis {

// Shows image streams (2-D and 3-D): every Stream whose kind is an image or volume stream on the host's views
// (see ImageStreamDisplay). Registered by the plug-in's algorithm factory. Thread-safe: no state.
class ImageStreamDisplayHandler : public DataDisplayHandler
{
public:
    bool canShow(const Data& data) const override;
    std::unique_ptr<DataDisplay> createDisplay(Data& data) const override;
};

}  // namespace Corvexis
