#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>

#include <boost/asio/buffer.hpp>

#include "Host/Core/ByteBuffer.h"
#include "Stream/Network/MessageBytes.h"

namespace Corvexis::Network {

// Where a TCP session reads, and how what it read becomes messages of at most kMessageBytes each.
//
// One socket read fills up to kSlots message buffers in turn (a scattered read), so a busy connection
// costs one system call and one handler per kSlots * kMessageBytes bytes, and the bytes land in the
// buffers that are handed over: no copy. Only a piece shorter than kCopyBelowBytes is copied into a
// message of its own size, so that small messages do not each hold a buffer of kMessageBytes; its
// buffer is then used again. Slots handed over are replaced before the next read.
//
// The delivered messages are the read's bytes in order, cut every kMessageBytes; the last one of a read
// holds the rest. Session thread (or strand) only.
template <typename T>
class StreamReceiveBuffer
{
public:
    static constexpr std::size_t kMessageBytes = 8192;
    static constexpr std::size_t kSlots = 16;
    static constexpr std::size_t kCopyBelowBytes = 1024;

    // The buffers for the next read, all kMessageBytes long.
    std::array<boost::asio::mutable_buffer, kSlots> prepare()
    {
        std::array<boost::asio::mutable_buffer, kSlots> buffers;
        for (std::size_t i = 0; i < kSlots; ++i) {
            T& slot = slots_[i];
            if (slot.size() != kMessageBytes)
                slot = makeSlot();
            buffers[i] = boost::asio::buffer(slot.data(), kMessageBytes);
        }
        return buffers;
    }

    // Hands the `bytes` just read to `deliver` (called with std::shared_ptr<const T>) as messages.
    template <typename Deliver>
    void deliver(std::size_t bytes, Deliver&& deliver)
    {
        for (std::size_t i = 0; i < kSlots && bytes > 0; ++i) {
            const std::size_t n = std::min(bytes, kMessageBytes);
            bytes -= n;
            T& slot = slots_[i];
            if (n < kCopyBelowBytes) {
                deliver(MessageBytes::make<T>(slot.data(), n));
            } else {
                slot.resize(n);
                // The slot is left empty and is made again by prepare().
                deliver(std::make_shared<const T>(std::exchange(slot, T())));
            }
        }
    }

private:
    static T makeSlot()
    {
        if constexpr (MessageBytes::kIsText<T>) {
            return std::string(kMessageBytes, '\0');
        } else {
            // Not initialised: a read is about to overwrite it.
            return ByteBuffer(kMessageBytes);
        }
    }

    std::array<T, kSlots> slots_;
};

}  // namespace Corvexis::Network
