#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "Host/Core/OwningDataList.h"

// What the host application's file commands do, as library functions (the commands only parse their
// arguments and print the error):
//     corvexis info FILE              -> Files::describeFile(FILE, std::cout, &error)
//     corvexis export FILE --to X.mha -> Files::exportMetaImage(FILE, X.mha, std::cout, &error)
// Both recognise a data file (.cvx), a live image file (.bin, also a ".part" left by a crash) and a
// DICOM file by their first bytes, whatever their names. Thread-safe (separate files and streams).
namespace Corvexis::Files {

// Writes a description of what the file holds: per item its kind and name, size in bytes, pixel type,
// frames, time span and mean rate; for tracking the instrument and its samples; damaged items by index
// and offset; whether the file is complete. False with *error naming the reason when the file cannot be
// read at all.
bool describeFile(const std::string& path, std::ostream& out, std::string* error = nullptr);

// Writes the file's first image set with its tracking (the set's own, else the file's first tracking
// sequence) as a MetaImage sequence to `outputPath`, and one summary line to `out`. False with *error.
bool exportMetaImage(const std::string& inputPath, const std::string& outputPath, std::ostream& out,
                     std::string* error = nullptr);

// Loads every item of a data file, or the one image set of a live image file or a DICOM file. Empty
// with *error naming the reason when the file cannot be read at all.
std::optional<OwningDataList> loadDataFile(const std::string& path, std::string* error = nullptr);

}  // namespace Corvexis::Files
