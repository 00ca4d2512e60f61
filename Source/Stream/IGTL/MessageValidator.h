#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Corvexis::IGTL {

// Checks a received body against the layout of its type before the protocol library unpacks it. The
// library trusts the counts inside a body (number of points, cell sizes, image extents) and would read
// past the buffer on a lying one; a body that passes here has every count consistent with its size.
//
// Layouts (all integers big-endian): TRANSFORM 48 bytes; TRACKING_CVX 52; TDATA a multiple of 70;
// SENSOR 10 + 8 x array length; IMAGE a 72-byte header then exactly the sub-volume's pixels; POLYDATA a
// 40-byte header, the points, four cell arrays (each cell: count, then that many indices below the point
// count), attribute headers, zero-terminated names padded to an even length, and the attribute values.
//
// Threading: stateless; thread-safe.
class MessageValidator
{
public:
    // True when `body` fits the type's layout; otherwise false with the reason in `why` (may be null).
    // Types this class does not know pass unchecked.
    static bool validBody(std::string_view type, const std::uint8_t* body, std::size_t size,
                          std::string* why = nullptr);

    // Bytes of one value of an image scalar type, 0 for a type outside the table.
    static std::size_t scalarSize(int scalarType);
};

}  // namespace Corvexis::IGTL
