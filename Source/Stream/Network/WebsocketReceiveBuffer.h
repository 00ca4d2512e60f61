#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <optional>
#include <utility>

#include <boost/beast/core/flat_buffer.hpp>

#include "Host/Core/ByteBuffer.h"
#include "Stream/Network/ByteBufferDynamicBuffer.h"
#include "Stream/Network/MessageBytes.h"

namespace Corvexis::Network {

// Where a WebSocket session reads one whole message and how it becomes the delivered message. Binary
// messages are read straight into the ByteBuffer that is handed over (no copy); text messages go
// through a frame buffer that is kept between messages (shrunk after very large ones).
// Session thread only.
template <typename T>
class WebsocketReceiveBuffer
{
public:
    // Starts reading the next message into this buffer.
    template <typename Stream, typename Handler>
    void asyncRead(Stream& stream, Handler&& handler)
    {
        if constexpr (MessageBytes::kIsText<T>) {
            stream.async_read(text_, std::forward<Handler>(handler));
        } else {
            binary_.emplace(message_);
            stream.async_read(*binary_, std::forward<Handler>(handler));
        }
    }

    // The message just read; the buffer is ready for the next one.
    std::shared_ptr<const T> take()
    {
        if constexpr (MessageBytes::kIsText<T>) {
            const auto bytes = text_.data();
            auto message = MessageBytes::make<T>(bytes.data(), bytes.size());
            text_.consume(text_.size());
            if (text_.capacity() > kKeptTextBytes)
                text_.shrink_to_fit();
            return message;
        } else {
            binary_.reset();
            const std::size_t size = message_.size();
            auto message = std::make_shared<const ByteBuffer>(std::move(message_));
            // The next message is likely of a similar size: room for it up front saves regrowing.
            message_ = ByteBuffer();
            message_.reserve(std::min(size, kReservedBinaryBytes));
            return message;
        }
    }

private:
    static constexpr std::size_t kKeptTextBytes = 4 << 20;
    static constexpr std::size_t kReservedBinaryBytes = 64 << 20;

    boost::beast::flat_buffer text_;
    ByteBuffer message_;
    std::optional<ByteBufferDynamicBuffer> binary_;
};

}  // namespace Corvexis::Network
