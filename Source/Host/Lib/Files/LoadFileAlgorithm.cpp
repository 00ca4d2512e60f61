#include "Host/Lib/Files/LoadFileAlgorithm.h"

#include "Host/Core/DataList.h"
#include "Host/Core/Log.h"
#include "Host/Lib/Files/FileCommands.h"

namespace Corvexis {

LoadFileAlgorithm::LoadFileAlgorithm()
{
    filename.setAttribute("label", "data file (.cvx), live image file (.bin) or DICOM file to load");
}

LoadFileAlgorithm::~LoadFileAlgorithm() = default;

bool LoadFileAlgorithm::createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
{
    if (inputs.size() != 0)
        return false;
    if (algorithm != nullptr)
        *algorithm = std::make_unique<LoadFileAlgorithm>();
    return true;
}

void LoadFileAlgorithm::compute()
{
    const std::string path = filename.value().empty() ? location() : filename.value();
    if (path.empty()) {
        Log::log(Log::Level::Error, "LoadFileAlgorithm", "No file name given");
        setStatus(Status::InvalidInput);
        return;
    }
    std::string error;
    std::optional<OwningDataList> items = Files::loadDataFile(path, &error);
    if (!items) {
        Log::log(Log::Level::Error, "LoadFileAlgorithm", error);
        setStatus(Status::Error);
        return;
    }
    items_ = std::move(*items);
    setStatus(Status::Success);
    signalOutputChanged.emitSignal();
}

OwningDataList LoadFileAlgorithm::takeOutput()
{
    return std::move(items_);
}

}  // namespace Corvexis
