#pragma once

#include "Host/Core/Data.h"

namespace Corvexis {

class StreamData;

// The far end of an out-stream: a link that carries records (or whole data items) out of the
// application, for example to a network peer. An out-stream only borrows its connection.
//
// Threading: out-streams call sendStreamData on whichever thread emitted the record (a forwarder, a
// recorder), possibly several at once, so implementations make every operation thread-safe.
class OutputConnection
{
public:
    OutputConnection() = default;
    OutputConnection(const OutputConnection&) = default;
    OutputConnection& operator=(const OutputConnection&) = default;
    virtual ~OutputConnection();

    // Thread-safe.
    virtual bool openConnection() = 0;
    // Thread-safe.
    virtual bool closeConnection() = 0;
    // Thread-safe.
    virtual bool isConnected() const = 0;
    // Sends a whole data item; the default sends nothing. Thread-safe.
    virtual void sendData(const Data& data);
    // Sends one record; the default sends nothing. Thread-safe.
    virtual void sendStreamData(const StreamData& data);
    // True if records of streams of this kind can be sent. Thread-safe.
    virtual bool isCompatible(Data::Kind kind) const = 0;
};

}  // namespace Corvexis
