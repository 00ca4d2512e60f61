#pragma once

#include "Host/Lib/AlgorithmFactory.h"

namespace Corvexis {

// The host's own algorithms, named "Host": reachable as "Host." plus their identifier, beside the
// plug-ins' tables (never inside one). Host applications create one and register it with the
// FactoryRegistry. Algorithms of the host join by one registerAlgorithm line in the constructor.
// Thread-safe (as AlgorithmFactory).
class HostAlgorithmFactory : public AlgorithmFactory
{
public:
    HostAlgorithmFactory();
    ~HostAlgorithmFactory() override;
};

}  // namespace Corvexis
