#pragma once

#include <igtlTransformMessage.h>

namespace Corvexis::IGTL {

// "TRACKING_CVX", this system's own tracking message: a TRANSFORM body followed by the instrument's
// quality. Body of 52 bytes: the 12 big-endian 32-bit floats of TRANSFORM (rotation column by column,
// then the translation), then the quality as one big-endian 32-bit float. Peers that do not know the
// type skip it by its header like any unknown message.
//
// Threading: caller synchronises (an igtl message object).
class TrackingMessage : public igtl::TransformMessage
{
public:
    typedef TrackingMessage Self;
    typedef igtl::TransformMessage Superclass;
    typedef igtl::SmartPointer<Self> Pointer;
    typedef igtl::SmartPointer<const Self> ConstPointer;

    igtlTypeMacro(Corvexis::IGTL::TrackingMessage, igtl::TransformMessage);
    igtlNewMacro(Corvexis::IGTL::TrackingMessage);

    static constexpr int kBodySize = 52;

    // NaN until set or received.
    float quality() const { return quality_; }
    void setQuality(float quality) { quality_ = quality; }

protected:
    TrackingMessage();
    ~TrackingMessage() override;

    int GetBodyPackSize() override;
    int PackBody() override;
    int UnpackBody() override;

private:
    float quality_;
};

}  // namespace Corvexis::IGTL
