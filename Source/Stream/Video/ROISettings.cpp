#include "Stream/Video/ROISettings.h"

#include "Host/Core/Log.h"

namespace Corvexis {

ROISettings::ROISettings(RemoteSettingsRequester requester) : requester_(std::move(requester)) {}

void ROISettings::setLocal(const Region& region, const Region& increment, const Region& minimum,
                           const Region& maximum)
{
    std::lock_guard lock(mutex_);
    region_ = region;
    increment_ = increment;
    minimum_ = minimum;
    maximum_ = maximum;
}

bool ROISettings::setRegion(const Region& region)
{
    Properties message("setRoiSettings");
    message.setParam("x", region.x);
    message.setParam("y", region.y);
    message.setParam("w", region.w);
    message.setParam("h", region.h);
    const auto reply = requester_ ? requester_(message, kSetTimeoutMs) : nullptr;
    if (!reply || reply->name() != "setRoiSettingsSuccess")
        return false;
    std::lock_guard lock(mutex_);
    region_ = region;
    return true;
}

ROISettings::Region ROISettings::read(const std::optional<Region>& field, const char* message) const
{
    if (field)
        return *field;
    Log::log(Log::Level::Warning, "Stream.RemoteVideoStream", message);
    return {};
}

ROISettings::Region ROISettings::region() const
{
    std::lock_guard lock(mutex_);
    // The region itself has no message of its own; it is read under the same rule as the limits.
    return read(region_, "ROI is not set, use setLocal before calling");
}

ROISettings::Region ROISettings::increment() const
{
    std::lock_guard lock(mutex_);
    return read(increment_, "increment ROI is not set, use setLocal before calling");
}

ROISettings::Region ROISettings::minimum() const
{
    std::lock_guard lock(mutex_);
    return read(minimum_, "minimum ROI is not set, use setLocal before calling");
}

ROISettings::Region ROISettings::maximum() const
{
    std::lock_guard lock(mutex_);
    return read(maximum_, "maximum ROI is not set, use setLocal before calling");
}

}  // namespace Corvexis
