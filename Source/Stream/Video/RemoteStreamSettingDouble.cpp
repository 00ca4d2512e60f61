#include "Stream/Video/RemoteStreamSettingDouble.h"

#include "Host/Core/Log.h"

namespace Corvexis {

template <typename Interface>
RemoteStreamSettingDouble<Interface>::RemoteStreamSettingDouble(RemoteSettingsRequester requester)
    : requester_(std::move(requester))
{
}

template <typename Interface>
void RemoteStreamSettingDouble<Interface>::setLocal(double value, double minimum, double maximum)
{
    std::lock_guard lock(mutex_);
    value_ = value;
    minimum_ = minimum;
    maximum_ = maximum;
}

template <typename Interface>
bool RemoteStreamSettingDouble<Interface>::setValue(double value)
{
    const std::string request = std::string("set") + Interface::property_name;
    Properties message(request);
    message.setParam("value", value);
    const auto reply = requester_ ? requester_(message, kSetTimeoutMs) : nullptr;
    if (!reply || reply->name() != request + "Success")
        return false;
    std::lock_guard lock(mutex_);
    value_ = value;
    return true;
}

template <typename Interface>
double RemoteStreamSettingDouble<Interface>::read(const std::optional<double>& field, const char* what) const
{
    if (field)
        return *field;
    Log::log(Log::Level::Warning, "Stream.RemoteVideoStream",
             std::string(Interface::property_name) + " RemoteStream" + what +
                 " is not set, use setLocal before calling");
    return 0.0;
}

template <typename Interface>
double RemoteStreamSettingDouble<Interface>::value() const
{
    std::lock_guard lock(mutex_);
    return read(value_, " value");
}

template <typename Interface>
double RemoteStreamSettingDouble<Interface>::minimum() const
{
    std::lock_guard lock(mutex_);
    return read(minimum_, " min value");
}

template <typename Interface>
double RemoteStreamSettingDouble<Interface>::maximum() const
{
    std::lock_guard lock(mutex_);
    return read(maximum_, " max value");
}

template class RemoteStreamSettingDouble<VideoStreamSettings::Exposure>;
template class RemoteStreamSettingDouble<VideoStreamSettings::Framerate>;
template class RemoteStreamSettingDouble<VideoStreamSettings::Gain>;

}  // namespace Corvexis
