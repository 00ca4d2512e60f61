#include "Stream/IGTL/TrackingMessage.h"

#include <cstdint>
#include <cstring>
#include <limits>

#include "Stream/IGTL/MessageTypeNames.h"

namespace Corvexis::IGTL {

TrackingMessage::TrackingMessage() : quality_(std::numeric_limits<float>::quiet_NaN())
{
    m_DefaultBodyType = MessageTypeNames::kTrackingCvx;
}

TrackingMessage::~TrackingMessage() = default;

int TrackingMessage::GetBodyPackSize()
{
    return kBodySize;
}

namespace {

void putFloat(unsigned char* out, float value)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<unsigned char>(bits >> (24 - 8 * i));
}

float getFloat(const unsigned char* in)
{
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits = (bits << 8) | in[i];
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace

// The body is written and read here in full (the transform part as TRANSFORM lays it out: the rotation
// column by column, then the translation), so nothing depends on how the base class packs its own.
int TrackingMessage::PackBody()
{
    AllocatePack(kBodySize);
    int k = 0;
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 3; ++row)
            putFloat(m_Body + 4 * k++, matrix[row][column]);
    putFloat(m_Body + 48, quality_);
    return 1;
}

int TrackingMessage::UnpackBody()
{
    if (GetPackBodySize() < kBodySize)
        return 0;
    int k = 0;
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 3; ++row)
            matrix[row][column] = getFloat(m_Body + 4 * k++);
    matrix[3][0] = matrix[3][1] = matrix[3][2] = 0.0f;
    matrix[3][3] = 1.0f;
    quality_ = getFloat(m_Body + 48);
    return 1;
}

}  // namespace Corvexis::IGTL
