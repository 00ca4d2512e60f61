#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <type_traits>

#include "Host/Core/ByteBuffer.h"

// The bytes of a message of either type, for the transports. A message goes out as exactly these bytes.
namespace Corvexis::Network::MessageBytes {

template <typename T>
inline constexpr bool kIsText = std::is_same_v<T, std::string>;

inline const void* data(const std::string& message)
{
    return message.data();
}
inline const void* data(const ByteBuffer& message)
{
    return message.data();
}
inline std::size_t size(const std::string& message)
{
    return message.size();
}
inline std::size_t size(const ByteBuffer& message)
{
    return message.size();
}
// A queued shared message (never null).
template <typename T>
const void* data(const std::shared_ptr<const T>& message)
{
    return data(*message);
}
template <typename T>
std::size_t size(const std::shared_ptr<const T>& message)
{
    return size(*message);
}

// A new immutable message holding a copy of `size` bytes at `bytes`.
template <typename T>
std::shared_ptr<const T> make(const void* bytes, std::size_t size)
{
    if constexpr (kIsText<T>) {
        return std::make_shared<const std::string>(static_cast<const char*>(bytes), size);
    } else {
        auto message = std::make_shared<ByteBuffer>();
        message->copyFrom(bytes, size);
        return message;
    }
}

// The first `limit` bytes as text, for log lines.
template <typename T>
std::string preview(const T& message, std::size_t limit = 64)
{
    const std::size_t n = size(message) < limit ? size(message) : limit;
    std::string text(static_cast<const char*>(data(message)), n);
    if (n < size(message))
        text += "...";
    return text;
}

}  // namespace Corvexis::Network::MessageBytes
