#include "Stream/IGTL/MessageValidator.h"

#include "Stream/IGTL/MessageTypeNames.h"

namespace Corvexis::IGTL {

namespace {

std::uint32_t be32(const std::uint8_t* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

std::uint16_t be16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

bool fail(std::string* why, std::string reason)
{
    if (why != nullptr)
        *why = std::move(reason);
    return false;
}

bool validImage(const std::uint8_t* body, std::size_t size, std::string* why)
{
    constexpr std::size_t kHeader = 72;
    if (size < kHeader)
        return fail(why, "image body shorter than its 72-byte header");
    const int components = body[2];
    const std::size_t valueSize = MessageValidator::scalarSize(body[3]);
    if (components < 1)
        return fail(why, "image with no components");
    if (valueSize == 0)
        return fail(why, "image scalar type " + std::to_string(body[3]) + " is not supported");
    std::uint64_t subvolume = 1;
    for (int axis = 0; axis < 3; ++axis) {
        const std::uint64_t extent = be16(body + 6 + 2 * axis);
        const std::uint64_t offset = be16(body + 60 + 2 * axis);
        const std::uint64_t sub = be16(body + 66 + 2 * axis);
        if (extent == 0 || sub == 0)
            return fail(why, "image with an empty extent");
        if (offset + sub > extent)
            return fail(why, "image sub-volume outside the image");
        subvolume *= sub;
    }
    const std::uint64_t expected = kHeader + subvolume * static_cast<std::uint64_t>(components) * valueSize;
    if (expected != size)
        return fail(why, "image body of " + std::to_string(size) + " bytes, its header describes " +
                             std::to_string(expected));
    return true;
}

// Walks one cell array of `bytes` bytes at `p`: `cells` entries of (count, count indices).
bool validCells(const std::uint8_t* p, std::uint64_t bytes, std::uint64_t cells, std::uint64_t points,
                std::string* why)
{
    if (bytes % 4 != 0)
        return fail(why, "poly-data cell array size is not a multiple of 4");
    const std::uint64_t words = bytes / 4;
    std::uint64_t w = 0;
    for (std::uint64_t c = 0; c < cells; ++c) {
        if (w >= words)
            return fail(why, "poly-data cell array shorter than its cell count");
        const std::uint64_t count = be32(p + 4 * w);
        ++w;
        if (count > words - w)
            return fail(why, "poly-data cell runs past its array");
        for (std::uint64_t i = 0; i < count; ++i, ++w) {
            if (be32(p + 4 * w) >= points)
                return fail(why, "poly-data cell refers to a point that does not exist");
        }
    }
    if (w != words)
        return fail(why, "poly-data cell array longer than its cells");
    return true;
}

bool validPolyData(const std::uint8_t* body, std::size_t size, std::string* why)
{
    constexpr std::size_t kHeader = 40;
    if (size < kHeader)
        return fail(why, "poly-data body shorter than its 40-byte header");
    const std::uint64_t points = be32(body);
    std::uint64_t offset = kHeader + points * 12;
    if (offset > size)
        return fail(why, "poly-data points run past the body");
    for (int array = 0; array < 4; ++array) {
        const std::uint64_t cells = be32(body + 4 + 8 * array);
        const std::uint64_t bytes = be32(body + 8 + 8 * array);
        if (bytes > size - offset)
            return fail(why, "poly-data cell array runs past the body");
        if (!validCells(body + offset, bytes, cells, points, why))
            return false;
        offset += bytes;
    }
    const std::uint64_t attributes = be32(body + 36);
    if (attributes * 6 > size - offset)
        return fail(why, "poly-data attribute headers run past the body");
    const std::uint8_t* headers = body + offset;
    offset += attributes * 6;
    // Names: zero-terminated, the whole block padded to an even length.
    const std::uint64_t namesStart = offset;
    for (std::uint64_t a = 0; a < attributes; ++a) {
        while (offset < size && body[offset] != 0)
            ++offset;
        if (offset >= size)
            return fail(why, "poly-data attribute name is not terminated");
        ++offset;
    }
    if ((offset - namesStart) % 2 != 0)
        ++offset;
    std::uint64_t data = 0;
    for (std::uint64_t a = 0; a < attributes; ++a) {
        const std::uint8_t* h = headers + 6 * a;
        const int type = h[0];
        const int components = h[1];
        const std::uint64_t n = be32(h + 2);
        const int kind = type & 0x0f;
        if ((type & 0xf0) != 0x00 && (type & 0xf0) != 0x10)
            return fail(why, "poly-data attribute of unknown type");
        int expected = 0;
        switch (kind) {
            case 0:
                expected = components >= 1 && components <= 128 ? components : 0;
                break;
            case 1:
            case 2:
                expected = 3;
                break;
            case 3:
                expected = 9;
                break;
            // RGBA: 4 values per entry; the installed library labels them 9 and pads the rest.
            case 4:
                expected = components == 9 ? 9 : 4;
                break;
            default:
                return fail(why, "poly-data attribute of unknown type");
        }
        if (components != expected)
            return fail(why, "poly-data attribute with a wrong number of components");
        data += n * static_cast<std::uint64_t>(components) * 4;
        if (data > size)
            return fail(why, "poly-data attribute values run past the body");
    }
    if (offset > size || data != size - offset)
        return fail(why, "poly-data body size does not match its contents");
    return true;
}

}  // namespace

std::size_t MessageValidator::scalarSize(int scalarType)
{
    switch (scalarType) {
        case 2:
        case 3:
            return 1;
        case 4:
        case 5:
            return 2;
        case 6:
        case 7:
        case 10:
            return 4;
        case 11:
            return 8;
        default:
            return 0;
    }
}

bool MessageValidator::validBody(std::string_view type, const std::uint8_t* body, std::size_t size,
                                 std::string* why)
{
    if (size > 0 && body == nullptr)
        return fail(why, "no body");
    if (type == MessageTypeNames::kTransform)
        return size == 48 || fail(why, "TRANSFORM body is not 48 bytes");
    if (type == MessageTypeNames::kTrackingCvx)
        return size == 52 || fail(why, "TRACKING_CVX body is not 52 bytes");
    if (type == MessageTypeNames::kTData)
        return size % 70 == 0 || fail(why, "TDATA body is not a whole number of 70-byte elements");
    if (type == MessageTypeNames::kSensor) {
        if (size < 10)
            return fail(why, "SENSOR body shorter than its header");
        return size == 10 + 8 * std::size_t{body[0]} || fail(why, "SENSOR body does not match its length");
    }
    if (type == MessageTypeNames::kImage)
        return validImage(body, size, why);
    if (type == MessageTypeNames::kPolyData)
        return validPolyData(body, size, why);
    return true;
}

}  // namespace Corvexis::IGTL
