#pragma once

namespace Corvexis {

// The camera back-ends of this plug-in ("Synthetic" and "V4L2"): registered with VideoCameraIoFactory
// and published in the host's CameraDirectory at plug-in initialisation, and removed from both when the
// plug-in goes (their code lives in this library). Caller synchronises (the host's main thread).
class CameraBackends
{
public:
    static void registerAll();
    static void unregisterAll();
};

}  // namespace Corvexis
