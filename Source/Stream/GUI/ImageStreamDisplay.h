#pragma once

#include <string>
#include <vector>

#include "Stream/GUI/StreamDisplay.h"

class QImage;

namespace Corvexis {

class MemImage;

// An image stream on a host view. Its snapshot is the newest frame: one PNG file per image of the
// newest record, "<stream>.png" (or "<stream>-<index>.png" when a record holds several images).
// Threading as StreamDisplay.
class ImageStreamDisplay : public StreamDisplay
{
public:
    using StreamDisplay::StreamDisplay;

    bool snapshot(const std::string& directory, std::vector<std::string>* written,
                  std::string* error) override;

    // The first slice of `image` as an 8-bit picture: unsigned bytes as they are, other pixel types
    // windowed linearly from the slice's smallest to its largest value onto 0 to 255 (a constant slice
    // gives 0). One channel gives grey, three RGB, four RGBA; two channels keep the first as grey. A null
    // image for an empty or unknown pixel type.
    static QImage toQImage(const MemImage& image);
};

}  // namespace Corvexis
