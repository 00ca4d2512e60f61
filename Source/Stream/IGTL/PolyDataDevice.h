#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "Host/Core/Signal.h"
#include "Stream/IGTL/DataDevice.h"

namespace Corvexis::IGTL {

struct ParsedMessage;

// A geometry data item (Contents: Mesh or PointCloud) bound to a connection. As input it takes over the
// contents of every POLYDATA message of its device name that converts to Contents (its own name is
// kept); as output, sendData() sends a given Contents.
//
// Threading: incoming contents are applied on the receiver thread under dataMutex_; read them through
// withContents() from other threads. signalUpdated is emitted on the receiver thread, without the lock.
template <typename Contents>
class PolyDataDevice : public DataDevice, public Contents
{
public:
    PolyDataDevice(Connection* connection, const std::string& deviceName, bool input = true);
    ~PolyDataDevice() override;

    static std::vector<std::string> supportedIgtlTypes();
    bool isInput() const { return input_; }

    // Calls `f` with the contents under the lock. Thread-safe.
    template <typename F>
    void withContents(F&& f) const
    {
        std::lock_guard lock(dataMutex_);
        f(static_cast<const Contents&>(*this));
    }
    // Number of messages applied so far. Thread-safe.
    std::size_t updates() const;

    // False unless `data` is a Contents and it was sent. Calling thread.
    bool sendData(const Data* data) const override;

    Signal<> signalUpdated;

private:
    bool onMessage(const ParsedMessage& message);

    const bool input_;
    mutable std::mutex dataMutex_;
    // guarded by dataMutex_ (with the contents)
    std::size_t updates_ = 0;
};

}  // namespace Corvexis::IGTL
