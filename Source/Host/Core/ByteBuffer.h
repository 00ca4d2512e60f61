#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace Corvexis {

// A borrowed, read-only run of bytes: the view never owns what it points at and must not outlive it.
// Thread-safe as far as the bytes it points at are not written meanwhile.
class ByteBufferView
{
public:
    constexpr ByteBufferView() = default;
    constexpr ByteBufferView(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    ByteBufferView(const void* data, std::size_t size)
        : data_(static_cast<const std::uint8_t*>(data)), size_(size)
    {
    }

    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const std::uint8_t* begin() const { return data_; }
    const std::uint8_t* end() const { return data_ + size_; }
    std::uint8_t operator[](std::size_t i) const { return data_[i]; }

    // The bytes [offset, offset + count), clipped to the view; empty past its end.
    ByteBufferView subview(std::size_t offset, std::size_t count = SIZE_MAX) const;
    std::string_view asStringView() const { return {reinterpret_cast<const char*>(data_), size_}; }

    friend bool operator==(ByteBufferView a, ByteBufferView b);

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// An owned, growable block of bytes: binary network messages, encoded video packets, serialised data.
// Growing never initialises the new bytes (they are about to be overwritten), and capacity grows
// geometrically so that appending is amortised constant. Move-only in spirit but copyable where a copy
// is really wanted. Caller synchronises.
class ByteBuffer
{
public:
    ByteBuffer() = default;
    // `size` bytes, not initialised.
    explicit ByteBuffer(std::size_t size);
    ByteBuffer(const ByteBuffer& other);
    ByteBuffer& operator=(const ByteBuffer& other);
    ByteBuffer(ByteBuffer&& other) noexcept;
    ByteBuffer& operator=(ByteBuffer&& other) noexcept;
    ~ByteBuffer() = default;

    // Replaces the contents with a copy of `size` bytes at `data`.
    void copyFrom(const void* data, std::size_t size);
    void copyFrom(ByteBufferView view) { copyFrom(view.data(), view.size()); }
    // Appends a copy of `size` bytes at `data`.
    void append(const void* data, std::size_t size);
    void append(ByteBufferView view) { append(view.data(), view.size()); }

    // Grows or shrinks to `size`; bytes kept keep their values, new bytes are not initialised.
    void resize(std::size_t size);
    void reserve(std::size_t capacity);
    void clear() { size_ = 0; }

    std::uint8_t* data() { return data_.get(); }
    const std::uint8_t* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    bool empty() const { return size_ == 0; }
    std::uint8_t* begin() { return data_.get(); }
    std::uint8_t* end() { return data_.get() + size_; }
    const std::uint8_t* begin() const { return data_.get(); }
    const std::uint8_t* end() const { return data_.get() + size_; }
    std::uint8_t& operator[](std::size_t i) { return data_[i]; }
    std::uint8_t operator[](std::size_t i) const { return data_[i]; }

    ByteBufferView view() const { return {data_.get(), size_}; }
    operator ByteBufferView() const { return view(); }

    friend bool operator==(const ByteBuffer& a, const ByteBuffer& b) { return a.view() == b.view(); }

private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace Corvexis
