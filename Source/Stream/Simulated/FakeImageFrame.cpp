#include "Stream/Simulated/FakeImageFrame.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "Host/Core/Random.h"

namespace Corvexis {

namespace {

// 0/1 per index along an axis of `extent` pixels: the fractional part of index / cell is above one half.
std::vector<std::uint8_t> cellTable(int extent, double cell)
{
    std::vector<std::uint8_t> table(static_cast<std::size_t>(std::max(extent, 0)));
    for (int i = 0; i < extent; ++i) {
        const double q = static_cast<double>(i) / cell;
        // q >= 0, so truncation is floor; it is also a single instruction where std::floor is a call
        // without SSE4.1, and this table is rebuilt for every frame.
        const double fraction = q - static_cast<double>(static_cast<std::int64_t>(q));
        table[static_cast<std::size_t>(i)] = fraction > 0.5 ? 1 : 0;
    }
    return table;
}

FakeImageFrame::Disc makeDisc(double cx, double cy, double cz, double radius)
{
    FakeImageFrame::Disc disc;
    disc.centre[0] = cx;
    disc.centre[1] = cy;
    disc.centre[2] = cz;
    disc.radius = radius;
    disc.cx = static_cast<float>(cx);
    disc.cy = static_cast<float>(cy);
    disc.cz = static_cast<float>(cz);
    const double r2 = radius * radius;
    disc.r2 = static_cast<float>(r2);
    // A zero radius paints nothing (d2 < 0 never holds), so its gain is irrelevant but kept finite.
    disc.gain = r2 > 0.0 ? static_cast<float>(70.0 / r2) : 0.0f;
    return disc;
}

}  // namespace

double FakeImageFrame::cellSize(const ImageDescriptor& descriptor)
{
    int m = std::min(descriptor.width, descriptor.height);
    if (descriptor.slices > 5)
        m = std::min(m, descriptor.slices);
    return std::max(4.0, 0.1 * m);
}

FakeImageFrame FakeImageFrame::compute(const ImageDescriptor& descriptor, int counter, int imageIndex,
                                       Random::Generator& generator)
{
    FakeImageFrame frame;
    frame.descriptor_ = descriptor;
    frame.counter_ = counter;

    const double cell = cellSize(descriptor);
    frame.cellX_ = cellTable(descriptor.width, cell);
    frame.cellY_ = cellTable(descriptor.height, cell);
    frame.cellZ_ = cellTable(descriptor.slices, cell);
    for (int n = 0; n < 4; ++n)
        frame.background_[static_cast<std::size_t>(n)] = static_cast<float>(0.3 * (100.0 * n));
    for (int ch = 0; ch < kMaxChannels; ++ch)
        frame.colourTerm_[static_cast<std::size_t>(ch)] = static_cast<float>(0.7 * kColour[static_cast<std::size_t>(ch)]);

    const double w = descriptor.width;
    const double h = descriptor.height;
    const double s = descriptor.slices;
    int m = std::min(descriptor.width, descriptor.height);
    if (descriptor.slices > 5)
        m = std::min(m, descriptor.slices);

    // Disc 0: radius between 0.32 and 1.0 half diagonals, period 180 frames; each further image of a
    // record moves it along the diagonal by a fifth of the smallest extent.
    const double angle = counter * std::numbers::pi / 180.0;
    const double halfDiagonal = 0.5 * std::sqrt(w * w + h * h + s * s);
    const double largeRadius = (0.66 + 0.34 * std::sin(2.0 * angle)) * halfDiagonal;
    const double offset = 0.2 * m * imageIndex;
    frame.discs_[0] = makeDisc(std::fmod(w / 2.0 + offset, w), std::fmod(h / 2.0 + offset, h),
                               std::fmod(offset + s / 2.0, s), largeRadius);

    // Discs 1 to 4: between 4.2 and 7.8 pixels, period 120 frames, at seeded places.
    const double smallRadius = (1.0 + 0.3 * std::cos(3.0 * counter * std::numbers::pi / 180.0)) * 6.0;
    for (int i = 1; i < kDiscCount; ++i) {
        const double x = generator.uniformDouble(0.0, w);
        const double y = generator.uniformDouble(0.0, h);
        const double z = generator.uniformDouble(0.0, s);
        frame.discs_[static_cast<std::size_t>(i)] = makeDisc(x, y, z, smallRadius);
    }
    return frame;
}

int FakeImageFrame::channels() const
{
    return std::clamp(descriptor_.channels, 0, kMaxChannels);
}

float FakeImageFrame::value(int x, int y, int z, int channel) const
{
    const int n = cellX_[static_cast<std::size_t>(x)] + cellY_[static_cast<std::size_t>(y)] +
                  cellZ_[static_cast<std::size_t>(z)];
    float v = background_[static_cast<std::size_t>(n)];
    for (const Disc& disc : discs_) {
        const float dx = static_cast<float>(x) - disc.cx;
        const float dy = static_cast<float>(y) - disc.cy;
        const float dz = static_cast<float>(z) - disc.cz;
        const float d2 = dx * dx + dy * dy + dz * dz;
        v = v + (d2 < disc.r2 ? d2 * disc.gain + colourTerm_[static_cast<std::size_t>(channel)] : 0.0f);
    }
    return v;
}

float FakeImageFrame::lowest(int pixelType)
{
    switch (pixelType) {
    case ImageDescriptor::kByte:
        return -128.0f;
    case ImageDescriptor::kShort:
        return -32768.0f;
    case ImageDescriptor::kInt:
        return -2147483648.0f;
    case ImageDescriptor::kFloat:
    case ImageDescriptor::kDouble:
        return -3.402823466e38f;
    default:  // unsigned types
        return 0.0f;
    }
}

float FakeImageFrame::highest(int pixelType)
{
    switch (pixelType) {
    case ImageDescriptor::kByte:
        return 127.0f;
    case ImageDescriptor::kUByte:
        return 255.0f;
    case ImageDescriptor::kShort:
        return 32767.0f;
    case ImageDescriptor::kUShort:
        return 65535.0f;
    case ImageDescriptor::kInt:
        return 2147483520.0f;  // largest float below 2^31
    case ImageDescriptor::kUInt:
        return 4294967040.0f;  // largest float below 2^32
    default:
        return 3.402823466e38f;
    }
}

}  // namespace Corvexis
