#include "Stream/IGTL/SupportedTypes.h"

#include <igtlImageMessage.h>
#include <igtlPolyDataMessage.h>
#include <igtlSensorMessage.h>
#include <igtlTrackingDataMessage.h>
#include <igtlTransformMessage.h>

#include "Host/Core/Log.h"
#include "Stream/IGTL/MessageTypeNames.h"
#include "Stream/IGTL/TrackingMessage.h"

namespace Corvexis::IGTL {

namespace {

template <typename T>
SupportedTypes::Creator creatorOf()
{
    return [] { return igtl::MessageBase::Pointer(T::New().GetPointer()); };
}

}  // namespace

SupportedTypes::SupportedTypes()
{
    registerType(MessageTypeNames::kSensor, creatorOf<igtl::SensorMessage>());
    registerType(MessageTypeNames::kImage, creatorOf<igtl::ImageMessage>());
    registerType(MessageTypeNames::kTrackingCvx, creatorOf<TrackingMessage>());
    registerType(MessageTypeNames::kTransform, creatorOf<igtl::TransformMessage>());
    registerType(MessageTypeNames::kTData, creatorOf<igtl::TrackingDataMessage>());
    registerType(MessageTypeNames::kPolyData, creatorOf<igtl::PolyDataMessage>());
}

SupportedTypes& SupportedTypes::instance()
{
    static SupportedTypes registry;
    return registry;
}

std::uint64_t SupportedTypes::hash(std::string_view text)
{
    std::uint64_t h = 14695981039346656037ull;
    for (const char c : text) {
        h ^= static_cast<std::uint8_t>(c);
        h *= 1099511628211ull;
    }
    return h;
}

bool SupportedTypes::registerType(const std::string& type, Creator creator)
{
    if (!creator)
        return false;
    {
        std::lock_guard lock(mutex_);
        const auto [it, inserted] = entries_.try_emplace(hash(type), Entry{type, std::move(creator)});
        if (inserted) {
            order_.push_back(type);
            return true;
        }
    }
    Log::log(Log::Level::Error, "IGTL.SupportedTypes", "The selected IGTLINK type was already registered");
    return false;
}

igtl::MessageBase::Pointer SupportedTypes::create(std::string_view type) const
{
    Creator creator;
    {
        std::lock_guard lock(mutex_);
        const auto it = entries_.find(hash(type));
        if (it == entries_.end() || it->second.type != type)
            return nullptr;
        creator = it->second.creator;
    }
    return creator();
}

bool SupportedTypes::isSupported(std::string_view type) const
{
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(hash(type));
    return it != entries_.end() && it->second.type == type;
}

std::vector<std::string> SupportedTypes::listSupported()
{
    SupportedTypes& registry = instance();
    std::lock_guard lock(registry.mutex_);
    return registry.order_;
}

}  // namespace Corvexis::IGTL
