#pragma once

#include <optional>

#include "Host/Core/ByteBuffer.h"
#include "Host/Core/DataList.h"
#include "Host/Core/OwningDataList.h"

// Whole data items (images, meshes, tracking sequences, property blocks) as one binary message for the
// byte-buffer transports. A message is a 48-byte header of six unsigned 64-bit little-endian fields
//     0 reserved (0) | 8 framework major | 16 minor | 24 patch | 32 item count | 40 payload size
// followed by the items in the host's data-file format.
//
// Both functions are thread-safe: their only shared state is the set of foreign versions already warned
// about, guarded by its own mutex.
namespace Corvexis::Serialization {

inline constexpr std::size_t kHeaderBytes = 48;

// The message of `items`; no value (logged) when an item cannot be written.
std::optional<ByteBuffer> dataToByteBuffer(const DataList& items);
// The items of `message` (the caller owns them). An empty list for a message without payload or of the
// wrong size; no value when the payload cannot be read at all. A message from another framework
// version is read anyway, with a warning once per version.
std::optional<OwningDataList> dataFromByteBuffer(const ByteBufferView& message);

}  // namespace Corvexis::Serialization
