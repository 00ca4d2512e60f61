#pragma once

#include <memory>
#include <string>

namespace Corvexis {

class SharedImageSet;

// Image sets as multi-frame DICOM files, written and read through DCMTK. Supported frames: 8-bit
// grey (one channel) and 8-bit RGB (three channels), all of one size. An ultrasound set becomes an
// Ultrasound Multi-frame Image, any other a Multi-frame Secondary Capture image with the set's modality.
// Each file carries the patient name, the pixel spacing, and the frame times as the Frame Time Vector
// (milliseconds between frames) with the first frame's time as the Frame Delay.
//
// Writing goes through a temporary file renamed on success, so the path never holds a partial file.
// All functions are thread-safe (separate files).
namespace DicomFile {

// False with *error for an empty set, unsupported frames or a write failure.
bool save(const SharedImageSet& set, const std::string& path, const std::string& patientName,
          std::string* error = nullptr);

// The frames, times, spacing and modality of a file written by save() (or any multi-frame 8-bit
// grey or RGB file without compression); the patient name goes into the set's property
// "patientName". Null with *error otherwise.
std::unique_ptr<SharedImageSet> load(const std::string& path, std::string* error = nullptr);

}  // namespace DicomFile

}  // namespace Corvexis
