#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <stdexcept>

#include <boost/asio/buffer.hpp>

#include "Host/Core/ByteBuffer.h"

namespace Corvexis::Network {

// Lets a WebSocket read fill a ByteBuffer directly (the dynamic-buffer interface of Asio and Beast:
// prepare, commit, data, consume), so that a received binary message is handed over without another
// copy. Growing the ByteBuffer never zero-fills, and its capacity grows geometrically.
// Refers to the ByteBuffer it was given, which must outlive it. Caller synchronises.
class ByteBufferDynamicBuffer
{
public:
    using const_buffers_type = boost::asio::const_buffer;
    using mutable_buffers_type = boost::asio::mutable_buffer;

    explicit ByteBufferDynamicBuffer(ByteBuffer& storage) : storage_(storage) { storage_.clear(); }

    // Readable bytes.
    std::size_t size() const { return storage_.size(); }
    std::size_t max_size() const { return std::numeric_limits<std::size_t>::max() / 2; }
    std::size_t capacity() const { return storage_.capacity(); }

    const_buffers_type data() const { return {storage_.data(), storage_.size()}; }
    mutable_buffers_type data() { return {storage_.data(), storage_.size()}; }

    // `n` writable bytes after the readable ones; they become readable with commit().
    mutable_buffers_type prepare(std::size_t n)
    {
        if (n > max_size() - readable_)
            throw std::length_error("ByteBufferDynamicBuffer too long");
        // Reads come in pieces of a few KiB; doubling keeps the copies of a growing message linear.
        if (readable_ + n > storage_.capacity())
            storage_.reserve(std::max(readable_ + n, 2 * storage_.capacity()));
        storage_.resize(readable_ + n);
        return {storage_.data() + readable_, n};
    }

    void commit(std::size_t n)
    {
        readable_ += std::min(n, storage_.size() - readable_);
        storage_.resize(readable_);
    }

    void consume(std::size_t n)
    {
        n = std::min(n, readable_);
        if (n < readable_)
            std::memmove(storage_.data(), storage_.data() + n, readable_ - n);
        readable_ -= n;
        storage_.resize(readable_);
    }

private:
    ByteBuffer& storage_;
    std::size_t readable_ = 0;
};

}  // namespace Corvexis::Network
