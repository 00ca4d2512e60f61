#include "Host/Core/ByteBuffer.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace Corvexis {

ByteBufferView ByteBufferView::subview(std::size_t offset, std::size_t count) const
{
    if (offset >= size_)
        return {};
    return {data_ + offset, std::min(count, size_ - offset)};
}

bool operator==(ByteBufferView a, ByteBufferView b)
{
    return a.size_ == b.size_ && (a.size_ == 0 || std::memcmp(a.data_, b.data_, a.size_) == 0);
}

ByteBuffer::ByteBuffer(std::size_t size)
{
    resize(size);
}

ByteBuffer::ByteBuffer(const ByteBuffer& other)
{
    copyFrom(other.data(), other.size());
}

ByteBuffer& ByteBuffer::operator=(const ByteBuffer& other)
{
    if (this != &other)
        copyFrom(other.data(), other.size());
    return *this;
}

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(std::move(other.data_)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0))
{
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept
{
    data_ = std::move(other.data_);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    return *this;
}

void ByteBuffer::reserve(std::size_t capacity)
{
    if (capacity <= capacity_)
        return;
    // Default-initialised on purpose: the bytes are about to be written.
    std::unique_ptr<std::uint8_t[]> grown(new std::uint8_t[capacity]);
    if (size_ > 0)
        std::memcpy(grown.get(), data_.get(), size_);
    data_ = std::move(grown);
    capacity_ = capacity;
}

void ByteBuffer::resize(std::size_t size)
{
    if (size > capacity_)
        reserve(std::max(size, capacity_ + capacity_ / 2));
    size_ = size;
}

void ByteBuffer::copyFrom(const void* data, std::size_t size)
{
    size_ = 0;
    append(data, size);
}

void ByteBuffer::append(const void* data, std::size_t size)
{
    if (size == 0)
        return;
    const std::size_t at = size_;
    resize(size_ + size);
    std::memcpy(data_.get() + at, data, size);
}

}  // namespace Corvexis
