#pragma once

#include <cstdint>
#include <optional>

#include "Host/Core/ByteBuffer.h"

namespace Corvexis {

// The fixed 28-byte header in front of every encoded video packet, all integers little-endian:
//   0  int32  codec (VideoEncoder::Codec)
//   4  int32  frame index since the encoder was last (re)configured
//   8  int64  send time, ms since 1970-01-01 UTC
//  16  int32  width in pixels
//  20  int32  height in pixels
//  24  int32  payload size in bytes; the payload (the codec's packet) follows, and the buffer ends there
// A plain value; caller synchronises.
struct VideoPacketHeader
{
    static constexpr std::size_t kSize = 28;

    std::int32_t codec = 0;
    std::int32_t frameIndex = 0;
    std::int64_t sendTimeMs = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t payloadSize = 0;

    // Writes the header into the first kSize bytes of `out`.
    void write(std::uint8_t* out) const;
    // The header of `packet`, or empty when the buffer is shorter than the header, the payload size is
    // negative, or the buffer is not exactly header plus payload.
    static std::optional<VideoPacketHeader> read(ByteBufferView packet);
};

}  // namespace Corvexis
