#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "Stream/Video/VideoCameraStream.h"

namespace Corvexis {

// The process-wide registry of camera back-ends by name ("Synthetic", "V4L2", ...). Each back-end gives
// two callables: one that lists its devices now, and one that creates a (closed) camera stream for a
// device path. The plug-in registers its back-ends at initialisation; anything may read afterwards.
//
// Threading: every operation is thread-safe. The callables run on the calling thread, outside the
// registry's lock, so a back-end's enumeration may take its time (it opens devices) and may itself use
// the factory.
class VideoCameraIoFactory
{
public:
    using DeviceInfo = VideoCameraStream::VideoCameraDeviceInfo;
    using EnumerateFunction = std::function<std::vector<DeviceInfo>()>;
    using CreateFunction = std::function<std::unique_ptr<VideoCameraStream>(const std::string& devicePath)>;

    static VideoCameraIoFactory& get();

    // False (and nothing changes) when a callable is empty or the name is empty; registering a name
    // again replaces its callables and returns true.
    bool registerBackend(const std::string& name, EnumerateFunction enumerate, CreateFunction create);
    // Removes a back-end (the plug-in does so before its code is unloaded); false when unknown.
    bool unregisterBackend(const std::string& name);

    // The registered names, sorted; with onlyWithDevices only those whose enumeration now yields at
    // least one device (which enumerates every back-end).
    std::vector<std::string> backends(bool onlyWithDevices = false) const;
    // The devices of `backend` in its own order; empty for an unknown back-end.
    std::vector<DeviceInfo> devices(const std::string& backend) const;
    // A new camera stream on `devicePath`, not yet open; null for an unknown back-end or when the
    // back-end cannot create one.
    std::unique_ptr<VideoCameraStream> openDevice(const std::string& backend,
                                                  const std::string& devicePath) const;

private:
    VideoCameraIoFactory() = default;

    struct Backend
    {
        EnumerateFunction enumerate;
        CreateFunction create;
    };

    mutable std::mutex mutex_;
    // guarded by mutex_
    std::unordered_map<std::string, Backend> backends_;
};

}  // namespace Corvexis
