// corvexis list-cameras [BACKEND]: every camera back-end the plug-ins published, with its devices and
// their formats, numbered as the camera input algorithm's "formatIdx" counts them.

#include <algorithm>
#include <iostream>

#include <fmt/format.h>

#include "Apps/corvexis/CommandLine.h"
#include "Apps/corvexis/CommandRegistry.h"
#include "Apps/corvexis/HostApplication.h"
#include "Host/Lib/Video/CameraDirectory.h"

namespace Corvexis {
namespace {

std::string rateText(double fps)
{
    return fps > 0.0 ? fmt::format("{:g} fps", fps) : std::string("rate unknown");
}

void printBackend(const std::string& backend)
{
    const auto devices = CameraDirectory::get().devices(backend);
    std::cout << "Back-end " << backend << ": " << devices.size()
              << (devices.size() == 1 ? " device\n" : " devices\n");
    for (const auto& device : devices) {
        std::cout << fmt::format("  \"{}\"  devicePath={}\n", device.name, device.path);
        for (std::size_t i = 0; i < device.formats.size(); ++i) {
            const auto& f = device.formats[i];
            const std::string size = fmt::format("{}x{}", f.width, f.height);
            std::cout << fmt::format("    formatIdx={:<3} {:<10} {:<10} {}", i, size, rateText(f.fps),
                                     f.codec.empty() ? "?" : f.codec);
            if (f.bitsPerPixel > 0)
                std::cout << fmt::format("  {} bpp", f.bitsPerPixel);
            std::cout << "\n";
        }
        if (device.formats.empty())
            std::cout << "    (no formats)\n";
    }
}

int listCameras(HostApplication&, const CommandLine& line)
{
    const auto backends = CameraDirectory::get().backends();
    if (!line.arguments.empty()) {
        const std::string& wanted = line.arguments.front();
        if (std::find(backends.begin(), backends.end(), wanted) == backends.end()) {
            std::string known;
            for (const auto& name : backends)
                known += (known.empty() ? "" : ", ") + name;
            return HostApplication::error("unknown camera back-end '" + wanted +
                                          "' (known: " + (known.empty() ? "none" : known) + ")");
        }
        printBackend(wanted);
        return 0;
    }
    if (backends.empty()) {
        std::cout << "(no camera back-ends: no loaded plug-in drives cameras)\n";
        return 0;
    }
    for (const auto& backend : backends)
        printBackend(backend);
    return 0;
}

const CommandRegistration kListCameras({.name = "list-cameras",
                                        .arguments = "[BACKEND]",
                                        .summary = "camera back-ends with their devices and formats",
                                        .argumentsHint = "at most one back-end name",
                                        .minArguments = 0,
                                        .maxArguments = 1,
                                        .run = listCameras});

}  // namespace
}  // namespace Corvexis
