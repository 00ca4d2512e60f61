#pragma once

#include <string>

namespace Corvexis::Image {

// Where a representation of an image lives. Only main memory and the graphics card exist in this host;
// the other values are names that callers may pass and must refuse.
enum class Location : int
{
    Empty = 0,   // no storage
    Memory = 1,  // main memory (MemImage)
    OpenGL = 2,  // graphics card (GlImage)
    OpenCL = 3,  // not supported
    Custom = 6,  // not supported
};

// How SharedImage and SharedImageSet copies treat pixel storage. Metadata (descriptor, spacing,
// modality, matrix, data components) is always copied.
enum class CloneOptions : int
{
    // A deep copy of every representation that is up to date in the source, in the same locations.
    Deep = 0,
    // A deep copy in main memory only; the source is brought up to date in main memory first.
    DeepMemory = 1,
    // A deep copy on the graphics card only; the source is brought up to date there first.
    DeepOpenGL = 2,
    // New storage of the same layout in every location where the source is up to date, without copying
    // pixels: main memory is zero-filled, graphics-card contents are undefined.
    Allocate = 3,
    // Shares the source's pixel storage (no pixel copy): pixels written through one are seen through
    // the other. Which representations exist and are up to date is tracked per copy, so a copy that
    // writes pixels and calls markChanged/makeExclusive does not update the other's bookkeeping.
    Shallow = 4,
};

// "Empty", "Memory", "OpenGL", "OpenCL", "Custom", or "Invalid (<n>)".
std::string locationName(Location location);

}  // namespace Corvexis::Image
