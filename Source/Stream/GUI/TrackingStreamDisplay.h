#pragma once

#include <string>
#include <vector>

#include "Stream/GUI/StreamDisplay.h"

namespace Corvexis {

class TrackingStream;

// A tracking stream on a host view. The status line adds the main instrument's position (mm) and
// quality in the newest record, or how to add instruments when there are none; the snapshot is a text
// file "<stream>.tracking.txt" with every instrument of the newest record and its pose. Threading as
// StreamDisplay.
class TrackingStreamDisplay : public StreamDisplay
{
public:
    explicit TrackingStreamDisplay(TrackingStream& stream);

    bool snapshot(const std::string& directory, std::vector<std::string>* written,
                  std::string* error) override;

protected:
    std::string detail() const override;

private:
    TrackingStream& tracking_;
};

}  // namespace Corvexis
