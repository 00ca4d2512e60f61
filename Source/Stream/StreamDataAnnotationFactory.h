#pragma once

#include <optional>
#include <string>

#include "Host/Lib/DataAnnotationFactory.h"
#include "Stream/Framework/Stream.h"

namespace Corvexis {

// How streams appear in the host's data tree: a description and icon by kind (image and tracking
// out-streams and OpenIGTLink input streams have descriptions of their own), an attribute icon for the
// stream's state, and, for image streams, one for the modality. Items that are not streams are
// left to other factories. Thread-safe.
class StreamDataAnnotationFactory : public DataAnnotationFactory
{
public:
    StreamDataAnnotationFactory();
    ~StreamDataAnnotationFactory() override;

    std::optional<DataAnnotation> annotate(const Data& data) const override;

    // "Image Stream", "Tracking Stream", "PolyData Stream"; "" for kinds that are not stream kinds.
    static std::string description(Data::Kind kind);
    // "IconImageStream.png", "IconVolumeStream.png", ...; "" for kinds that are not stream kinds.
    static std::string icon(Data::Kind kind);
    // Running, Paused, Open and Closed have their own icon; every transitional state shares one.
    static DataAnnotation::Attribute stateAttribute(Stream::State state);
    // Empty for modalities without an icon (None, Video, OCT).
    static std::optional<DataAnnotation::Attribute> modalityAttribute(Data::Modality modality);
};

}  // namespace Corvexis
