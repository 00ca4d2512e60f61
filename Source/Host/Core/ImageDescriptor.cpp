#include "Host/Core/ImageDescriptor.h"

#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "Host/Core/Log.h"
#include "Host/Core/Properties.h"

namespace Corvexis {

namespace {

// a * b, or empty on overflow.
std::optional<std::size_t> checkedMultiply(std::size_t a, std::size_t b)
{
    if (a != 0 && b > std::numeric_limits<std::size_t>::max() / a)
        return std::nullopt;
    return a * b;
}

std::string formatNumber(double v)
{
    return fmt::format("{}", v);
}

}  // namespace

ImageDescriptor::ImageDescriptor(int pixelType_, int width_, int height_, int slices_, int channels_)
    : pixelType(pixelType_), width(width_), height(height_), slices(slices_), channels(channels_)
{
}

bool ImageDescriptor::isSignedType(int type)
{
    return type == kByte || type == kShort || type == kInt || type == kFloat || type == kDouble;
}

std::size_t ImageDescriptor::typeSize(int type)
{
    switch (type) {
        case kByte:
        case kUByte:
            return 1;
        case kShort:
        case kUShort:
            return 2;
        case kInt:
        case kUInt:
        case kFloat:
            return 4;
        case kDouble:
            return 8;
        default:
            return 0;
    }
}

std::string ImageDescriptor::typeName(int type)
{
    switch (type) {
        case kByte:
            return "Byte";
        case kUByte:
            return "UByte";
        case kShort:
            return "Short";
        case kUShort:
            return "UShort";
        case kInt:
            return "Int";
        case kUInt:
            return "UInt";
        case kFloat:
            return "Float";
        case kDouble:
            return "Double";
        default:
            return "Unknown";
    }
}

std::size_t ImageDescriptor::pixelSize() const
{
    if (channels <= 0)
        return 0;
    return typeSize() * static_cast<std::size_t>(channels);
}

std::size_t ImageDescriptor::pixelCount() const
{
    if (width <= 0 || height <= 0 || slices <= 0)
        return 0;
    auto n = checkedMultiply(static_cast<std::size_t>(width), static_cast<std::size_t>(height));
    if (n)
        n = checkedMultiply(*n, static_cast<std::size_t>(slices));
    return n.value_or(0);
}

std::optional<std::size_t> ImageDescriptor::checkedByteSize() const
{
    if (!isKnownType(pixelType) || width <= 0 || height <= 0 || slices <= 0 || channels <= 0)
        return std::nullopt;
    std::optional<std::size_t> n = static_cast<std::size_t>(width);
    for (std::size_t factor : {static_cast<std::size_t>(height), static_cast<std::size_t>(slices),
                               static_cast<std::size_t>(channels), typeSize()}) {
        n = checkedMultiply(*n, factor);
        if (!n)
            return std::nullopt;
    }
    if (*n > kMaxByteSize)
        return std::nullopt;
    return n;
}

std::size_t ImageDescriptor::byteSize() const
{
    return checkedByteSize().value_or(0);
}

bool ImageDescriptor::isValid() const
{
    for (int axis = 0; axis < 3; ++axis) {
        if (!std::isfinite(spacing[axis]) || spacing[axis] <= 0.0)
            return false;
    }
    return checkedByteSize().has_value();
}

bool ImageDescriptor::isApproximatelyEqual(const ImageDescriptor& other, double spacingTolerance) const
{
    if (pixelType != other.pixelType || width != other.width || height != other.height ||
        slices != other.slices || channels != other.channels)
        return false;
    for (int axis = 0; axis < 3; ++axis) {
        // Written so that a NaN on either side compares unequal.
        if (!(std::abs(spacing[axis] - other.spacing[axis]) <= spacingTolerance))
            return false;
    }
    return true;
}

bool ImageDescriptor::operator==(const ImageDescriptor& other) const
{
    return pixelType == other.pixelType && width == other.width && height == other.height &&
           slices == other.slices && channels == other.channels && spacing == other.spacing;
}

std::string ImageDescriptor::toString() const
{
    return fmt::format("{} x {} x {}, {} channel{}, {}, spacing {} x {} x {} mm", width, height, slices,
                       channels, channels == 1 ? "" : "s", typeName(pixelType), formatNumber(spacing.x()),
                       formatNumber(spacing.y()), formatNumber(spacing.z()));
}

void ImageDescriptor::configuration(Properties* p) const
{
    if (!p)
        return;
    p->setParam("pixelType", pixelType);
    p->setParam("width", width);
    p->setParam("height", height);
    p->setParam("slices", slices);
    p->setParam("channels", channels);
    p->setParam("spacing", spacing);
}

void ImageDescriptor::configure(const Properties* p)
{
    if (!p)
        return;
    auto read = [p](const char* key, auto& field) {
        if (p->hasParam(key) && !p->getParam(key, field))
            Log::log(Log::Level::Warning, "ImageDescriptor",
                     fmt::format("Ignoring malformed value '{}' of '{}'", *p->paramText(key), key));
    };
    read("pixelType", pixelType);
    read("width", width);
    read("height", height);
    read("slices", slices);
    read("channels", channels);
    read("spacing", spacing);
}

}  // namespace Corvexis
