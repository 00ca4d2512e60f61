#pragma once

#include "Host/Lib/AlgorithmFactory.h"

namespace Corvexis::Network {

// The networking algorithms, named "Network": "Network.ConnectionLatencyMeasuring" under the menu path
// "Network;Connection Latency Test". Kept apart from the plug-in's stream table so that the transports
// and their tools stay independent of any stream. Thread-safe (as AlgorithmFactory).
class NetworkAlgorithmFactory : public AlgorithmFactory
{
public:
    NetworkAlgorithmFactory();
    ~NetworkAlgorithmFactory() override;
};

}  // namespace Corvexis::Network
