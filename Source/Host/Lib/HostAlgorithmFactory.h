#pragma once

#include <memory>

#include "Host/Lib/AlgorithmFactory.h"

namespace Corvexis {

// The host's own algorithm table, named "Host": image algorithms that work on one image at a time
// (SequentialImageProcessor), so that the stream algorithm executor can run them on every frame of a
// live stream. Entries are "Host.<identifier>" under the menu "Image Processing;...".
//
// The table is registered with FactoryRegistry while at least one Registration object lives; the
// plug-in loader holds one, so every host application that loads plug-ins offers these algorithms.
// All operations are thread-safe.
class HostAlgorithmFactory : public AlgorithmFactory
{
public:
    HostAlgorithmFactory();
    ~HostAlgorithmFactory() override;

    // Keeps the process-wide host table registered while it lives (counted: the last one to go
    // unregisters it). Thread-safe.
    class Registration
    {
    public:
        Registration();
        ~Registration();
        Registration(const Registration&) = delete;
        Registration& operator=(const Registration&) = delete;
    };
};

}  // namespace Corvexis
