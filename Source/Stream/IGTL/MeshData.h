#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "Host/Core/Mesh.h"
#include "Host/Core/Signal.h"
#include "Stream/IGTL/DataDevice.h"

namespace Corvexis::IGTL {

struct ParsedMessage;

// A Mesh bound to a connection. As input it takes over the contents of every POLYDATA message of its
// device name (its own name is kept); as output, sendData() sends a given Mesh.
//
// Threading: incoming contents are applied on the receiver thread under dataMutex_; read them through
// withMesh() from other threads. signalUpdated is emitted on the receiver thread, without the lock.
class MeshData : public DataDevice, public Mesh
{
public:
    MeshData(Connection* connection, const std::string& deviceName, bool input = true);
    ~MeshData() override;

    static std::vector<std::string> supportedIgtlTypes();
    bool isInput() const { return input_; }

    // Calls `f` with the contents under the lock. Thread-safe.
    template <typename F>
    void withMesh(F&& f) const
    {
        std::lock_guard lock(dataMutex_);
        f(static_cast<const Mesh&>(*this));
    }
    std::size_t updates() const;  // thread-safe

    // False unless `data` is a Mesh and it was sent. Calling thread.
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
