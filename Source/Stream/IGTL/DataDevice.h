#pragma once

#include "Stream/IGTL/Device.h"

namespace Corvexis {
class Data;
}

namespace Corvexis::IGTL {

// A device that is also a static data item kept up to date from the link (input) or sent to it
// (output). Threading as Device.
class DataDevice : public Device
{
public:
    using Device::Device;
    // Sends `data` when it is of the device's kind; false otherwise or when the send fails. Calling
    // thread; thread-safe as far as the device goes (the caller keeps `data` unchanged meanwhile).
    virtual bool sendData(const Data* data) const = 0;
};

}  // namespace Corvexis::IGTL
