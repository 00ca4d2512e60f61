#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Host/Core/Properties.h"
#include "Stream/Network/TypedConnectionBase.h"

namespace Corvexis::Network {

// How the connection factory makes one kind of connection: its protocol name, the construction
// parameters with their defaults, and the maker that reads them (a parameter missing from the given
// Properties keeps its default). A plain value type.
template <typename T>
struct ConnectionBlueprint
{
    std::string protocol;
    std::function<Properties()> makeProperties;
    std::function<std::unique_ptr<TypedConnectionBase<T>>(const Properties&)> makeConnection;
};

}  // namespace Corvexis::Network
