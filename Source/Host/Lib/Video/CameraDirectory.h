#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace Corvexis {

// The host's directory of camera back-ends: a plug-in that drives cameras publishes each back-end under
// its name with a function that lists the back-end's devices now, so that the host (and its command
// line) can show cameras without knowing the plug-in's classes. Opening a camera stays the plug-in's
// business (through its algorithms).
//
// Threading: every operation is thread-safe; listers run on the calling thread outside the lock.
class CameraDirectory
{
public:
    struct Format
    {
        int index = 0;             // the back-end's number for the format
        std::uint64_t width = 0;   // pixels
        std::uint64_t height = 0;  // pixels
        double fps = 0.0;          // frames per second
        std::uint64_t bitsPerPixel = 0;
        std::string codec;  // pixel format, e.g. "YUYV", "MJPG", "RGB3"
    };

    struct Device
    {
        std::string name;  // for people
        std::string path;  // the device's unique identifier within its back-end
        std::vector<Format> formats;
    };

    using Lister = std::function<std::vector<Device>()>;

    static CameraDirectory& get();

    // Publishes (or replaces) a back-end; an empty name or lister is ignored.
    void publish(const std::string& backend, Lister lister);
    // Withdraws a back-end, as a plug-in must before its code is unloaded.
    void withdraw(const std::string& backend);
    // Published back-ends, sorted by name.
    std::vector<std::string> backends() const;
    // The devices of `backend` now; empty for an unknown back-end or when its lister throws.
    std::vector<Device> devices(const std::string& backend) const;

private:
    CameraDirectory() = default;

    mutable std::mutex mutex_;
    // guarded by mutex_
    std::unordered_map<std::string, Lister> listers_;
};

}  // namespace Corvexis
