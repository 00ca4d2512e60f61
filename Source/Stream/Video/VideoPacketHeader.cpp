#include "Stream/Video/VideoPacketHeader.h"

namespace Corvexis {

namespace {

template <typename T>
void put(std::uint8_t* out, T value)
{
    auto bits = static_cast<std::make_unsigned_t<T>>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i)
        out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

template <typename T>
T get(const std::uint8_t* in)
{
    std::make_unsigned_t<T> bits = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        bits |= static_cast<std::make_unsigned_t<T>>(in[i]) << (8 * i);
    return static_cast<T>(bits);
}

}  // namespace

void VideoPacketHeader::write(std::uint8_t* out) const
{
    put(out + 0, codec);
    put(out + 4, frameIndex);
    put(out + 8, sendTimeMs);
    put(out + 16, width);
    put(out + 20, height);
    put(out + 24, payloadSize);
}

std::optional<VideoPacketHeader> VideoPacketHeader::read(ByteBufferView packet)
{
    if (packet.size() < kSize)
        return std::nullopt;
    const std::uint8_t* in = packet.data();
    VideoPacketHeader h;
    h.codec = get<std::int32_t>(in + 0);
    h.frameIndex = get<std::int32_t>(in + 4);
    h.sendTimeMs = get<std::int64_t>(in + 8);
    h.width = get<std::int32_t>(in + 16);
    h.height = get<std::int32_t>(in + 20);
    h.payloadSize = get<std::int32_t>(in + 24);
    if (h.payloadSize < 0 || packet.size() - kSize != static_cast<std::size_t>(h.payloadSize))
        return std::nullopt;
    return h;
}

}  // namespace Corvexis
