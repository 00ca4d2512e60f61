#pragma once

#include <string>

#include "Host/Lib/Algorithm.h"

namespace Corvexis {

// An algorithm that brings data into the host (or writes it out) from a location: a file path, a
// device, a network address. The location is empty for sources that need none. Threading as Algorithm;
// location and setLocation are thread-safe.
class IoAlgorithm : public Algorithm
{
public:
    IoAlgorithm();
    ~IoAlgorithm() override;

    std::string location() const;
    void setLocation(const std::string& location);

private:
    mutable std::mutex locationMutex_;
    // guarded by locationMutex_
    std::string location_;
};

}  // namespace Corvexis
