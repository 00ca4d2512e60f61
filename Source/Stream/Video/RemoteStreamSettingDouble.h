#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Host/Core/Properties.h"
#include "Stream/Video/VideoStreamSettings.h"

namespace Corvexis {

// Sends a control request and waits up to `timeoutMs` for the reply; null when none came.
using RemoteSettingsRequester =
    std::function<std::unique_ptr<Properties>(const Properties& request, int timeoutMs)>;

// A numeric camera control of a remote sender (Interface: VideoStreamSettings::Exposure, Framerate or
// Gain). It keeps the values last received (setLocal) and changes the remote value by a request
// "set<Name>" with "value", waiting kSetTimeoutMs for "set<Name>Success". Reading a value that was
// never received logs "<Name> RemoteStream ... is not set, use setLocal before calling" and gives 0.
//
// Threading: thread-safe; setValue blocks for at most kSetTimeoutMs. Log category
// "Stream.RemoteVideoStream".
template <typename Interface>
class RemoteStreamSettingDouble : public Interface
{
public:
    static constexpr int kSetTimeoutMs = 300;

    // `requester` must stay callable while this object lives (the remote stream that made it).
    explicit RemoteStreamSettingDouble(RemoteSettingsRequester requester);

    // Stores the values received from the sender.
    void setLocal(double value, double minimum, double maximum);

    bool setValue(double value) override;
    double value() const override;
    double minimum() const override;
    double maximum() const override;

private:
    double read(const std::optional<double>& field, const char* what) const;

    const RemoteSettingsRequester requester_;
    mutable std::mutex mutex_;
    // guarded by mutex_
    std::optional<double> value_;
    std::optional<double> minimum_;
    std::optional<double> maximum_;
};

using RemoteStreamExposure = RemoteStreamSettingDouble<VideoStreamSettings::Exposure>;
using RemoteStreamFramerate = RemoteStreamSettingDouble<VideoStreamSettings::Framerate>;
using RemoteStreamGain = RemoteStreamSettingDouble<VideoStreamSettings::Gain>;

extern template class RemoteStreamSettingDouble<VideoStreamSettings::Exposure>;
extern template class RemoteStreamSettingDouble<VideoStreamSettings::Framerate>;
extern template class RemoteStreamSettingDouble<VideoStreamSettings::Gain>;

}  // namespace Corvexis
