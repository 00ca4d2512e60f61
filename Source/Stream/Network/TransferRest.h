#pragma once

#include <cstddef>

#include <boost/system/error_code.hpp>

namespace Corvexis::Network {

// Completion condition for asio::async_write that offers the socket everything still to be written in
// each write call. Asio's own conditions (transfer_all, transfer_exactly) offer at most 64 KiB per
// call, which costs a 1 MiB message sixteen system calls instead of one (or a few, when the socket
// buffer fills). Stateless apart from the size; any thread.
class TransferRest
{
public:
    explicit TransferRest(std::size_t totalBytes) : totalBytes_(totalBytes) {}

    // Bytes to offer next; 0 ends the write (done, or failed).
    std::size_t operator()(const boost::system::error_code& ec, std::size_t transferred) const
    {
        return ec || transferred >= totalBytes_ ? 0 : totalBytes_ - transferred;
    }

private:
    std::size_t totalBytes_;
};

}  // namespace Corvexis::Network
