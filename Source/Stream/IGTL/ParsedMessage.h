#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include <igtlMessageBase.h>

namespace Corvexis::IGTL {

// One complete incoming message, handed by constant reference to the devices listening on a connection,
// on its receiver thread. Receivers that keep the message keep the smart pointer.
struct ParsedMessage
{
    // An object of the class registered for the type, body received and unpacked.
    igtl::MessageBase::Pointer message;
    // The device name up to the first colon (the whole name when it has none).
    std::string deviceName;
    // The part after the first colon, or deviceName again when there is none.
    std::string secondName;
    std::chrono::system_clock::time_point receiveTime;
    // The message's own time stamp, milliseconds since 1970 (its seconds x 1000).
    std::uint64_t timestampMs = 0;
    // The header's message type ("IMAGE") and full device name ("Tracker:Needle"), as received.
    std::string type;
    std::string fullDeviceName;
};

}  // namespace Corvexis::IGTL
