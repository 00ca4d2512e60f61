#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Host/Core/Signal.h"
#include "Host/Lib/SharedImageSet.h"
#include "Stream/IGTL/DataDevice.h"

namespace Corvexis::IGTL {

struct ParsedMessage;

// An image set bound to a connection. As input it follows the IMAGE messages of its device name: an
// image of the same layout as the current one updates it in place, any other replaces it. As output,
// sendData() sends every image of a SharedImageSet in order, each with its own time stamp (ms).
//
// Threading: incoming images are applied on the receiver thread under dataMutex_; read the set through
// withImages() from other threads (the set itself is caller synchronises). signalImageUpdated is
// emitted on the receiver thread after each update, without the lock.
class ImageData : public SharedImageSet, public DataDevice
{
public:
    ImageData(Connection* connection, const std::string& deviceName, bool input);
    ~ImageData() override;

    static std::vector<std::string> supportedIgtlTypes();
    bool isInput() const { return input_; }

    // Calls `f` with the set under the lock. Thread-safe.
    template <typename F>
    void withImages(F&& f) const
    {
        std::lock_guard lock(dataMutex_);
        f(static_cast<const SharedImageSet&>(*this));
    }
    // Number of IMAGE messages applied so far. Thread-safe.
    std::size_t updates() const;

    // False (with "Failed to send image" under "IgtlImageData" for a failed image) unless `data` is a
    // SharedImageSet whose images were all sent; an empty set is true. Calling thread.
    bool sendData(const Data* data) const override;

    Signal<> signalImageUpdated;

private:
    bool onMessage(const ParsedMessage& message);

    const bool input_;
    mutable std::mutex dataMutex_;
    // guarded by dataMutex_ (with the set's frames)
    std::size_t updates_ = 0;
};

}  // namespace Corvexis::IGTL
