#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <igtlMessageBase.h>

namespace Corvexis::IGTL {

// The registry of message classes: maps a message type text to a function that makes an empty message
// of the matching class. Created on first use with SENSOR, IMAGE, TRACKING_CVX, TRANSFORM, TDATA and
// POLYDATA, in that order; a type without a class (STATUS, anything unknown) is not convertible and its
// messages are skipped by connections.
//
// Keys are the 64-bit FNV-1a hashes of the type texts; the text is kept beside it and compared, so two
// texts that collide are told apart (the second is refused like a duplicate).
//
// Threading: every operation is thread-safe (one mutex guards the table).
class SupportedTypes
{
public:
    using Creator = std::function<igtl::MessageBase::Pointer()>;

    static SupportedTypes& instance();

    // Adds a type; a type registered before keeps its first creator, and the attempt logs "The selected
    // IGTLINK type was already registered" at error level. Thread-safe.
    bool registerType(const std::string& type, Creator creator);
    // An empty message of the registered class; null for a type without one. Thread-safe.
    igtl::MessageBase::Pointer create(std::string_view type) const;
    bool isSupported(std::string_view type) const;  // thread-safe
    // Registered types in registration order. Thread-safe.
    static std::vector<std::string> listSupported();

    static std::uint64_t hash(std::string_view text);

private:
    SupportedTypes();

    struct Entry
    {
        std::string type;
        Creator creator;
    };
    mutable std::mutex mutex_;
    // guarded by mutex_
    std::unordered_map<std::uint64_t, Entry> entries_;
    std::vector<std::string> order_;
};

}  // namespace Corvexis::IGTL
