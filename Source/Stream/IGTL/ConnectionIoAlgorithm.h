#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "Host/Core/Parameter.h"
#include "Stream/Framework/StreamIoAlgorithm.h"

namespace Corvexis::IGTL {

class Connection;

// "IO;Streaming;IGTLink Connection": makes a Connection from its parameters ("Connection Name", "Host
// Name", "Port", "Is Server", "Crc Check", "reconnect"), names it, opens and starts it, and hands it to
// the host. A client that cannot reach its server is an error and produces no output; a server is a
// success as soon as it waits for its client.
//
// Ownership: the algorithm owns the connection until the host takes it. Threading: compute, configure
// and takeOutput are caller synchronises; stream() is thread-safe.
class ConnectionIoAlgorithm : public StreamIoAlgorithm
{
public:
    ConnectionIoAlgorithm();
    ~ConnectionIoAlgorithm() override;

    // Only for an empty input list.
    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm);

    void compute() override;
    Stream* stream() const override;
    void resetStream() override;
    bool opensStream() const override { return true; }
    bool startsStream() const override { return true; }

    Parameter<std::string> connectionName{"Connection Name", "IGTLink Connection", this};
    Parameter<std::string> hostName{"Host Name", "localhost", this};
    Parameter<int> port{"Port", 18944, this};
    Parameter<bool> isServer{"Is Server", false, this};
    Parameter<bool> crcCheck{"Crc Check", false, this};
    Parameter<bool> reconnect{"reconnect", false, this};

protected:
    std::unique_ptr<Stream> releaseStream() override;

private:
    mutable std::mutex mutex_;
    // guarded by mutex_
    std::unique_ptr<Connection> owned_;
    Connection* current_ = nullptr;
};

}  // namespace Corvexis::IGTL
