#include "Stream/Network/StreamReceiveBuffer.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/asio/buffer.hpp>

#include "Host/Core/ByteBuffer.h"

namespace Corvexis::Network {
namespace {

// What a scattered socket read would do: `bytes` of a known pattern spread over the prepared buffers in
// order. Returns the pattern written.
template <typename T>
std::string fill(StreamReceiveBuffer<T>& receive, std::size_t bytes, char seed)
{
    std::string written(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i)
        written[i] = static_cast<char>(seed + i * 7);
    const auto buffers = receive.prepare();
    EXPECT_EQ(boost::asio::buffer_size(buffers),
              StreamReceiveBuffer<T>::kSlots * StreamReceiveBuffer<T>::kMessageBytes);
    EXPECT_EQ(boost::asio::buffer_copy(buffers, boost::asio::buffer(written)), bytes);
    return written;
}

template <typename T>
std::vector<std::string> delivered(StreamReceiveBuffer<T>& receive, std::size_t bytes)
{
    std::vector<std::string> messages;
    receive.deliver(bytes, [&](std::shared_ptr<const T> message) {
        messages.emplace_back(reinterpret_cast<const char*>(message->data()), message->size());
    });
    return messages;
}

template <typename T>
class StreamReceiveBufferTest : public ::testing::Test
{
};
using MessageTypes = ::testing::Types<std::string, ByteBuffer>;
TYPED_TEST_SUITE(StreamReceiveBufferTest, MessageTypes);

TYPED_TEST(StreamReceiveBufferTest, AReadIsCutIntoMessagesOfAtMost8192BytesInOrder)
{
    using Buffer = StreamReceiveBuffer<TypeParam>;
    Buffer receive;
    // Sizes around the cut and the copy threshold, a full read, and reads after earlier ones, so that
    // slots handed over and slots kept are both filled again.
    const std::vector<std::size_t> reads = {20000,
                                            1,
                                            Buffer::kMessageBytes,
                                            Buffer::kMessageBytes + Buffer::kCopyBelowBytes - 1,
                                            Buffer::kMessageBytes + Buffer::kCopyBelowBytes,
                                            Buffer::kSlots * Buffer::kMessageBytes,
                                            3 * Buffer::kMessageBytes - 1,
                                            100};
    char seed = 1;
    for (const std::size_t bytes : reads) {
        SCOPED_TRACE(bytes);
        const std::string written = fill(receive, bytes, seed++);
        const auto messages = delivered(receive, bytes);
        ASSERT_EQ(messages.size(), (bytes + Buffer::kMessageBytes - 1) / Buffer::kMessageBytes);
        std::string joined;
        for (std::size_t i = 0; i < messages.size(); ++i) {
            const std::size_t expected =
                i + 1 < messages.size() ? Buffer::kMessageBytes : bytes - i * Buffer::kMessageBytes;
            EXPECT_EQ(messages[i].size(), expected) << "message " << i;
            joined += messages[i];
        }
        EXPECT_EQ(joined, written);
    }
}

TYPED_TEST(StreamReceiveBufferTest, DeliveredMessagesStayIntactWhileTheBufferReadsOn)
{
    StreamReceiveBuffer<TypeParam> receive;
    std::vector<std::shared_ptr<const TypeParam>> held;
    std::vector<std::string> expected;
    // Long and short pieces: long ones are the read buffers themselves, short ones copies.
    for (const std::size_t bytes :
         {std::size_t{30000}, std::size_t{50}, std::size_t{9000}, std::size_t{70000}}) {
        const std::string written = fill(receive, bytes, static_cast<char>(bytes));
        std::size_t at = 0;
        receive.deliver(bytes, [&](std::shared_ptr<const TypeParam> message) {
            held.push_back(message);
            expected.push_back(written.substr(at, message->size()));
            at += message->size();
        });
        EXPECT_EQ(at, bytes);
    }
    // Every message still holds what was read into it, although the slots were prepared again since.
    fill(receive, StreamReceiveBuffer<TypeParam>::kSlots * StreamReceiveBuffer<TypeParam>::kMessageBytes, 99);
    ASSERT_EQ(held.size(), expected.size());
    for (std::size_t i = 0; i < held.size(); ++i) {
        ASSERT_EQ(held[i]->size(), expected[i].size()) << i;
        EXPECT_EQ(std::memcmp(held[i]->data(), expected[i].data(), expected[i].size()), 0) << i;
        // A short piece is a message of its own size, not a slot of 8192 bytes.
        if (expected[i].size() < StreamReceiveBuffer<TypeParam>::kCopyBelowBytes) {
            EXPECT_LT(held[i]->capacity(), StreamReceiveBuffer<TypeParam>::kMessageBytes) << i;
        }
    }
}

}  // namespace
}  // namespace Corvexis::Network
