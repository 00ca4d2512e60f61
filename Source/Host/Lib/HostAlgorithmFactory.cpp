#include "Host/Lib/HostAlgorithmFactory.h"

namespace Corvexis {

HostAlgorithmFactory::HostAlgorithmFactory() : AlgorithmFactory("Host")
{
    // registerAlgorithm<SomeHostAlgorithm>("SomeHostAlgorithm", "Menu;Path");
}

HostAlgorithmFactory::~HostAlgorithmFactory() = default;

}  // namespace Corvexis
