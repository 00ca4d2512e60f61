#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include "Stream/Video/RemoteStreamSettingDouble.h"
#include "Stream/Video/VideoStreamSettings.h"

namespace Corvexis {

// The region of interest of a remote sender's camera. It keeps the region and its increment, minimum
// and maximum last received (setLocal) and changes the remote region by a request "setRoiSettings" with
// "x", "y", "w", "h", waiting kSetTimeoutMs for "setRoiSettingsSuccess". Reading a limit never received
// logs "... ROI is not set, use setLocal before calling" and gives an empty region.
//
// Threading: thread-safe; setRegion blocks for at most kSetTimeoutMs. Log category
// "Stream.RemoteVideoStream".
class ROISettings : public VideoStreamSettings::RegionOfInterest
{
public:
    using Region = VideoStreamSettings::Region;
    static constexpr int kSetTimeoutMs = 300;

    // `requester` must stay callable while this object lives (the remote stream that made it).
    explicit ROISettings(RemoteSettingsRequester requester);

    void setLocal(const Region& region, const Region& increment, const Region& minimum,
                  const Region& maximum);

    bool setRegion(const Region& region) override;
    Region region() const override;
    Region increment() const override;
    Region minimum() const override;
    Region maximum() const override;

private:
    Region read(const std::optional<Region>& field, const char* message) const;

    const RemoteSettingsRequester requester_;
    mutable std::mutex mutex_;
    // guarded by mutex_
    std::optional<Region> region_;
    std::optional<Region> increment_;
    std::optional<Region> minimum_;
    std::optional<Region> maximum_;
};

}  // namespace Corvexis
