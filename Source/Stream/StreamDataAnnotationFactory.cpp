#include "Stream/StreamDataAnnotationFactory.h"

#include "Stream/Framework/OutStream.h"
#include "Stream/IGTL/IgtlImageStream.h"
#include "Stream/IGTL/IgtlTrackingStream.h"

namespace Corvexis {

StreamDataAnnotationFactory::StreamDataAnnotationFactory() = default;

StreamDataAnnotationFactory::~StreamDataAnnotationFactory() = default;

std::string StreamDataAnnotationFactory::description(Data::Kind kind)
{
    switch (kind) {
        case Data::Kind::ImageStream:
        case Data::Kind::VolumeStream:
        case Data::Kind::EncodedImageStream:
            return "Image Stream";
        case Data::Kind::TrackingStream:
            return "Tracking Stream";
        case Data::Kind::PolyDataStream:
            return "PolyData Stream";
        default:
            return {};
    }
}

std::string StreamDataAnnotationFactory::icon(Data::Kind kind)
{
    switch (kind) {
        case Data::Kind::ImageStream:
        case Data::Kind::EncodedImageStream:
            return "IconImageStream.png";
        case Data::Kind::VolumeStream:
            return "IconVolumeStream.png";
        case Data::Kind::TrackingStream:
            return "IconTrackingStream.png";
        case Data::Kind::PolyDataStream:
            return "IconPolyDataStream.png";
        default:
            return {};
    }
}

DataAnnotation::Attribute StreamDataAnnotationFactory::stateAttribute(Stream::State state)
{
    switch (state) {
        case Stream::State::Running:
            return {"AttributeStreamRunning.png", "Stream Running"};
        case Stream::State::Paused:
            return {"AttributeStreamPaused.png", "Stream Paused"};
        case Stream::State::Open:
            return {"AttributeStreamOpen.png", "Stream Open"};
        case Stream::State::Closed:
            return {"AttributeStreamClosed.png", "Stream Closed"};
        default:
            return {"AttributeStreamTransition.png", "Stream In Transition"};
    }
}

std::optional<DataAnnotation::Attribute> StreamDataAnnotationFactory::modalityAttribute(
    Data::Modality modality)
{
    switch (modality) {
        case Data::Modality::Xray:
            return DataAnnotation::Attribute{"AttributeModalityXR.png", "X-Ray"};
        case Data::Modality::CT:
            return DataAnnotation::Attribute{"AttributeModalityCT.png", "Computed Tomography"};
        case Data::Modality::MR:
            return DataAnnotation::Attribute{"AttributeModalityMR.png", "MRI"};
        case Data::Modality::Ultrasound:
            return DataAnnotation::Attribute{"AttributeModalityUS.png", "Ultrasound"};
        case Data::Modality::NM:
            return DataAnnotation::Attribute{"AttributeModalityNM.png", "Nuclear Medicine"};
        case Data::Modality::Label:
            return DataAnnotation::Attribute{"AttributeModalityLAB.png", "Label Map"};
        case Data::Modality::DistanceMap:
            return DataAnnotation::Attribute{"AttributeModalityDIS.png", "Distance Map"};
        default:
            return std::nullopt;
    }
}

std::optional<DataAnnotation> StreamDataAnnotationFactory::annotate(const Data& data) const
{
    const auto* stream = dynamic_cast<const Stream*>(&data);
    if (stream == nullptr)
        return std::nullopt;
    const Data::Kind kind = stream->kind();
    DataAnnotation annotation;
    // Out-streams and OpenIGTLink input streams share their kind with other streams; the description
    // tells them apart.
    if (dynamic_cast<const IGTL::IgtlImageStream*>(stream))
        annotation.description = "IGTLink Image Stream";
    else if (dynamic_cast<const IGTL::IgtlTrackingStream*>(stream))
        annotation.description = "IGTLink Tracking Stream";
    else if (dynamic_cast<const OutStream*>(stream) && kind == Data::Kind::ImageStream)
        annotation.description = "Image OutStream";
    else if (dynamic_cast<const OutStream*>(stream) && kind == Data::Kind::TrackingStream)
        annotation.description = "Tracking OutStream";
    else
        annotation.description = description(kind);
    if (annotation.description.empty())
        annotation.description = "Stream";
    annotation.icon = icon(kind);
    annotation.attributes.push_back(stateAttribute(stream->currentState()));
    if (kind == Data::Kind::ImageStream || kind == Data::Kind::VolumeStream) {
        if (auto modality = modalityAttribute(stream->modality()))
            annotation.attributes.push_back(*modality);
    }
    return annotation;
}

}  // namespace Corvexis
