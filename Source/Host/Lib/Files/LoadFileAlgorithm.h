#pragma once

#include <memory>
#include <string>

#include "Host/Core/OwningDataList.h"
#include "Host/Core/Parameter.h"
#include "Host/Lib/IoAlgorithm.h"

namespace Corvexis {

class DataList;

// "IO;Load Data File": reads a data file (.cvx), a live image file (.bin, or a ".part" left by a
// crash) or a DICOM file, recognised by its first bytes, and hands over every item it holds: image sets,
// tracked image sets, tracking sequences, meshes, point clouds, property blocks. Workspaces use it to
// feed recorded data to later steps (playback, processing). Setting "filename".
//
// compute() fails (status Error, the reason logged at error level under "LoadFileAlgorithm") when the
// file cannot be read at all; items the file holds that are damaged are left out, as the readers do.
// Threading: caller synchronises, as every algorithm.
class LoadFileAlgorithm : public IoAlgorithm
{
public:
    LoadFileAlgorithm();
    ~LoadFileAlgorithm() override;

    // Takes no inputs.
    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm);

    void compute() override;
    OwningDataList takeOutput() override;

    Parameter<std::string> filename{"filename", std::string(), this};

private:
    OwningDataList items_;
};

}  // namespace Corvexis
