#include "Host/Core/Data.h"

#include <algorithm>
#include <array>
#include <cctype>

#include <Eigen/LU>

#include "Host/Core/Log.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "Data";

struct ModalityName
{
    Data::Modality modality;
    const char* name;
};

constexpr std::array<ModalityName, 10> kModalityNames{{
    {Data::Modality::None, ""},
    {Data::Modality::Xray, "X-Ray"},
    {Data::Modality::CT, "CT"},
    {Data::Modality::MR, "MR"},
    {Data::Modality::Ultrasound, "Ultrasound"},
    {Data::Modality::Video, "Video"},
    {Data::Modality::NM, "NM"},
    {Data::Modality::Oct, "OCT"},
    {Data::Modality::Label, "Label"},
    {Data::Modality::DistanceMap, "Distance Map"},
}};

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The inverse of `m`, or empty when `m` is not finite or not invertible.
std::optional<Eigen::Matrix4d> checkedInverse(const Eigen::Matrix4d& m)
{
    if (!m.allFinite())
        return std::nullopt;
    Eigen::Matrix4d inverse;
    bool invertible = false;
    m.computeInverseWithCheck(inverse, invertible);
    if (!invertible || !inverse.allFinite())
        return std::nullopt;
    return inverse;
}

}  // namespace

Data::Data(std::string name) : name_(std::move(name)) {}

Data::Data(const Data& other) : components_(other.components_)
{
    std::lock_guard lock(other.mutex_);
    name_ = other.name_;
    matrixToWorld_ = other.matrixToWorld_;
}

Data& Data::operator=(const Data& other)
{
    if (this == &other)
        return *this;
    std::string name;
    Eigen::Matrix4d matrix;
    {
        std::lock_guard lock(other.mutex_);
        name = other.name_;
        matrix = other.matrixToWorld_;
    }
    {
        std::lock_guard lock(mutex_);
        name_ = std::move(name);
        matrixToWorld_ = matrix;
    }
    components_ = other.components_;
    return *this;
}

Data::~Data() = default;

Data::Modality Data::modality() const
{
    return Modality::None;
}

std::string Data::name() const
{
    std::lock_guard lock(mutex_);
    return name_;
}

void Data::setName(const std::string& name)
{
    std::lock_guard lock(mutex_);
    name_ = name;
}

int Data::matrixConvention() const
{
    return kMatrixToWorld;
}

void Data::setMatrixToWorld(const Eigen::Matrix4d& m)
{
    if (!checkedInverse(m)) {
        Log::log(Log::Level::Warning, kCategory,
                 "Refusing a pose matrix that is not finite or not invertible");
        return;
    }
    std::lock_guard lock(mutex_);
    matrixToWorld_ = m;
}

void Data::setMatrixFromWorld(const Eigen::Matrix4d& m)
{
    std::optional<Eigen::Matrix4d> inverse = checkedInverse(m);
    if (!inverse) {
        Log::log(Log::Level::Warning, kCategory,
                 "Refusing a pose matrix that is not finite or not invertible");
        return;
    }
    std::lock_guard lock(mutex_);
    matrixToWorld_ = *inverse;
}

Eigen::Matrix4d Data::matrixToWorld() const
{
    std::lock_guard lock(mutex_);
    return matrixToWorld_;
}

Eigen::Matrix4d Data::matrixFromWorld() const
{
    // The stored matrix passed checkedInverse when it was set, so its inverse exists.
    return matrixToWorld().inverse();
}

Eigen::Matrix4d Data::matrix() const
{
    return matrixConvention() == kMatrixFromWorld ? matrixFromWorld() : matrixToWorld();
}

void Data::setMatrix(const Eigen::Matrix4d& m)
{
    if (matrixConvention() == kMatrixFromWorld)
        setMatrixFromWorld(m);
    else
        setMatrixToWorld(m);
}

bool Data::isAnnotationType() const
{
    return false;
}

Geometry::AlignedBox Data::bounds() const
{
    return {};
}

std::string Data::modalityString(Modality modality)
{
    for (const auto& entry : kModalityNames) {
        if (entry.modality == modality)
            return entry.name;
    }
    return "Unknown";
}

std::optional<Data::Modality> Data::modalityFromString(std::string_view text)
{
    if (equalsIgnoringCase(text, "None"))
        return Modality::None;
    for (const auto& entry : kModalityNames) {
        if (equalsIgnoringCase(text, entry.name))
            return entry.modality;
    }
    return std::nullopt;
}

std::string Data::kindString(Kind kind)
{
    switch (kind) {
        case Kind::Unknown:
            return "Unknown";
        case Kind::Image:
            return "Image";
        case Kind::Volume:
            return "Volume";
        case Kind::ImageSet:
            return "Image Set";
        case Kind::VolumeSet:
            return "Volume Set";
        case Kind::ImageStream:
            return "Image Stream";
        case Kind::VolumeStream:
            return "Volume Stream";
        case Kind::Mesh:
            return "Mesh";
        case Kind::PointCloud:
            return "Point Cloud";
        case Kind::TrackingStream:
            return "Tracking Stream";
        case Kind::TrackingSequence:
            return "Tracking Sequence";
        case Kind::TrackedImageSet:
            return "Tracked Image Set";
        case Kind::Compound:
            return "Compound";
        case Kind::PolyDataStream:
            return "Poly-Data Stream";
        case Kind::EncodedImageStream:
            return "Encoded Image Stream";
    }
    return "Unknown";
}

}  // namespace Corvexis
