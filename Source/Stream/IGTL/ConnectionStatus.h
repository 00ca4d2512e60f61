#pragma once

namespace Corvexis::IGTL {

// Where a connection's link stands. The numbers are shown to people and stored; never renumber.
enum class ConnectionStatus : int
{
    Disconnected = 0,
    Connected = 1,
    WaitingForClient = 3,  // a server between openConnection() and the arrival of a client
};

}  // namespace Corvexis::IGTL
