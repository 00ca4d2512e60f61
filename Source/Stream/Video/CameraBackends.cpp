#include "Stream/Video/CameraBackends.h"

#include <memory>
#include <string>

#include "Host/Lib/Video/CameraDirectory.h"
#include "Stream/Video/SyntheticCameraStream.h"
#include "Stream/Video/V4l2CameraStream.h"
#include "Stream/Video/VideoCameraIoFactory.h"

namespace Corvexis {

namespace {

CameraDirectory::Lister listerOf(const std::string& backend)
{
    return [backend] {
        std::vector<CameraDirectory::Device> devices;
        for (const auto& info : VideoCameraIoFactory::get().devices(backend)) {
            CameraDirectory::Device device{info.displayString, info.devicePath, {}};
            for (const auto& f : info.formats)
                device.formats.push_back(CameraDirectory::Format{f.formatIndex, f.width, f.height, f.fps,
                                                                 f.bitsPerPixel, f.codec});
            devices.push_back(std::move(device));
        }
        return devices;
    };
}

}  // namespace

void CameraBackends::registerAll()
{
    auto& factory = VideoCameraIoFactory::get();
    factory.registerBackend(
        SyntheticCameraStream::kBackendName, [] { return SyntheticCameraStream::enumerateDevices(); },
        [](const std::string& path) -> std::unique_ptr<VideoCameraStream> {
            return std::make_unique<SyntheticCameraStream>(path);
        });
    factory.registerBackend(
        V4l2CameraStream::kBackendName, [] { return V4l2CameraStream::enumerateDevices(); },
        [](const std::string& path) -> std::unique_ptr<VideoCameraStream> {
            return std::make_unique<V4l2CameraStream>(path);
        });
    for (const char* name : {SyntheticCameraStream::kBackendName, V4l2CameraStream::kBackendName})
        CameraDirectory::get().publish(name, listerOf(name));
}

void CameraBackends::unregisterAll()
{
    for (const char* name : {SyntheticCameraStream::kBackendName, V4l2CameraStream::kBackendName}) {
        CameraDirectory::get().withdraw(name);
        VideoCameraIoFactory::get().unregisterBackend(name);
    }
}

}  // namespace Corvexis
