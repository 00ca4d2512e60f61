#include "Stream/GUI/TrackingStreamDisplay.h"

#include <filesystem>
#include <fstream>

#include <fmt/format.h>

#include "Stream/Framework/TrackingStream.h"
#include "Stream/Framework/TrackingStreamData.h"
#include "Stream/Simulated/FakeTrackingStream.h"

namespace Corvexis {

TrackingStreamDisplay::TrackingStreamDisplay(TrackingStream& stream)
    : StreamDisplay(stream), tracking_(stream)
{
}

std::string TrackingStreamDisplay::detail() const
{
    const auto record = latest();
    const auto* data = dynamic_cast<const TrackingStreamData*>(record.get());
    const bool running = tracking_.currentState() == Stream::State::Running;
    if ((data == nullptr || data->instruments().empty()) && running) {
        // The simulated tracker starts without devices; say how to give it some.
        if (dynamic_cast<const FakeTrackingStream*>(&tracking_) != nullptr)
            return "  | no instruments: add one with --action addOscillatingDevice (or addSweepDevice, "
                   "addConstantDevice), or a Devices block in the configuration (see 'corvexis show')";
        return "  | no instruments";
    }
    if (data == nullptr)
        return "  | no poses yet";
    // Streams that list devices instead of registering instruments have no main instrument: their
    // record's first instrument stands in.
    const auto devices = tracking_.devices();
    const bool listsDevices = !devices.empty() && !tracking_.queryInstrument(devices.front().id.ID());
    const auto recorded = data->instruments();
    const std::string mainId = !listsDevices          ? tracking_.mainInstrumentId()
                               : recorded.empty() ? std::string()
                                                  : recorded.front().id.ID();
    const std::optional<TrackingInstrument> main = data->instrument(mainId);
    if (!main)
        return "  | main instrument '" + mainId + "' not in the newest record";
    const Eigen::Vector3d p = main->matrix.block<3, 1>(0, 3);
    return fmt::format("  | main {} at ({:.2f}, {:.2f}, {:.2f}) mm, quality {:.2f}", main->id.name(), p.x(),
                       p.y(), p.z(), main->quality);
}

bool TrackingStreamDisplay::snapshot(const std::string& directory, std::vector<std::string>* written,
                                     std::string* error)
{
    const auto record = latest();
    const auto* data = dynamic_cast<const TrackingStreamData*>(record.get());
    if (data == nullptr)
        return true;
    const std::string path =
        (std::filesystem::path(directory) / (fileNameOf(stream().name()) + ".tracking.txt")).string();
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << "# " << stream().name() << ", arrival " << formatTimestamp(data->timestampArrival()) << "\n";
        out << "# id, name, active, quality, then the pose (instrument to tracker, mm) row by row\n";
        for (const TrackingInstrument& instrument : data->instruments()) {
            out << fmt::format("instrument {} \"{}\" active {} quality {:.4f}\n", instrument.id.ID(),
                               instrument.id.name(), instrument.active ? "true" : "false",
                               instrument.quality);
            for (int r = 0; r < 4; ++r)
                out << fmt::format("  {:.6f} {:.6f} {:.6f} {:.6f}\n", instrument.matrix(r, 0),
                                   instrument.matrix(r, 1), instrument.matrix(r, 2), instrument.matrix(r, 3));
        }
        out.flush();
        if (!out) {
            std::filesystem::remove(temporary);
            if (error != nullptr)
                *error = path + ": cannot write the file";
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        if (error != nullptr)
            *error = path + ": " + ec.message();
        return false;
    }
    if (written != nullptr)
        written->push_back(path);
    return true;
}

}  // namespace Corvexis
