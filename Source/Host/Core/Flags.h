#pragma once

#include <type_traits>

namespace Corvexis {

// A set of values of the enumeration E, each of which names one bit (1, 2, 4, ...). A plain value;
// caller synchronises.
template <typename E>
requires std::is_enum_v<E>
class Flags
{
public:
    using Underlying = std::make_unsigned_t<std::underlying_type_t<E>>;

    constexpr Flags() = default;
    constexpr Flags(E flag) : bits_(static_cast<Underlying>(flag)) {}  // NOLINT: implicit by design

    // Builds a set from raw bits, for values read back from storage.
    static constexpr Flags fromBits(Underlying bits)
    {
        Flags f;
        f.bits_ = bits;
        return f;
    }

    constexpr Underlying bits() const { return bits_; }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr explicit operator bool() const { return bits_ != 0; }
    // True when every bit of `flag` is set (an enumerator of value 0 is never set).
    constexpr bool testFlag(E flag) const
    {
        const auto b = static_cast<Underlying>(flag);
        return b != 0 && (bits_ & b) == b;
    }
    constexpr Flags& setFlag(E flag, bool on = true)
    {
        const auto b = static_cast<Underlying>(flag);
        bits_ = on ? (bits_ | b) : (bits_ & static_cast<Underlying>(~b));
        return *this;
    }

    constexpr Flags& operator|=(Flags other)
    {
        bits_ |= other.bits_;
        return *this;
    }
    constexpr Flags& operator&=(Flags other)
    {
        bits_ &= other.bits_;
        return *this;
    }
    friend constexpr Flags operator|(Flags a, Flags b) { return a |= b; }
    friend constexpr Flags operator&(Flags a, Flags b) { return a &= b; }
    friend constexpr bool operator==(Flags a, Flags b) { return a.bits_ == b.bits_; }

private:
    Underlying bits_ = 0;
};

}  // namespace Corvexis
