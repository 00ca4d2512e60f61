#include "Stream/Network/NetworkAlgorithmFactory.h"

#include "Stream/Network/ConnectionLatencyMeasuringAlgorithm.h"

namespace Corvexis::Network {

NetworkAlgorithmFactory::NetworkAlgorithmFactory() : AlgorithmFactory("Network")
{
    registerAlgorithm<ConnectionLatencyMeasuringAlgorithm>("ConnectionLatencyMeasuring",
                                                           "Network;Connection Latency Test");
}

NetworkAlgorithmFactory::~NetworkAlgorithmFactory() = default;

}  // namespace Corvexis::Network
