#include "Stream/Video/VideoPacketHeader.h"

#include <gtest/gtest.h>

#include <vector>

namespace Corvexis {
namespace {

TEST(VideoPacketHeaderTest, WireBytesAreLittleEndianAtTheirOffsets)
{
    VideoPacketHeader header;
    header.codec = 6;
    header.frameIndex = 0x01020304;
    header.sendTimeMs = -2;  // signed: two's complement on the wire
    header.width = 640;
    header.height = 480;
    header.payloadSize = 3;
    std::vector<std::uint8_t> bytes(VideoPacketHeader::kSize + 3, 0xEE);
    header.write(bytes.data());
    const std::vector<std::uint8_t> expected = {6,    0,    0,    0,    4,    3,    2,    1, 0xFE, 0xFF,
                                                0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 2, 0,    0,
                                                0xE0, 1,    0,    0,    3,    0,    0,    0};
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 28), expected);
    EXPECT_EQ(bytes[28], 0xEE) << "the header must not touch the payload";

    const auto read = VideoPacketHeader::read(ByteBufferView(bytes.data(), bytes.size()));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->codec, 6);
    EXPECT_EQ(read->frameIndex, 0x01020304);
    EXPECT_EQ(read->sendTimeMs, -2);
    EXPECT_EQ(read->width, 640);
    EXPECT_EQ(read->height, 480);
    EXPECT_EQ(read->payloadSize, 3);
}

TEST(VideoPacketHeaderTest, RejectsBuffersThatAreNotExactlyHeaderPlusPayload)
{
    VideoPacketHeader header;
    header.payloadSize = 4;
    std::vector<std::uint8_t> bytes(VideoPacketHeader::kSize + 4);
    header.write(bytes.data());
    EXPECT_TRUE(VideoPacketHeader::read(ByteBufferView(bytes.data(), bytes.size())));
    EXPECT_FALSE(
        VideoPacketHeader::read(ByteBufferView(bytes.data(), bytes.size() - 1)));  // truncated payload
    EXPECT_FALSE(VideoPacketHeader::read(ByteBufferView(bytes.data(), 27)));       // truncated header
    bytes.push_back(0);
    EXPECT_FALSE(VideoPacketHeader::read(ByteBufferView(bytes.data(), bytes.size())));  // trailing byte
    header.payloadSize = -1;
    header.write(bytes.data());
    EXPECT_FALSE(VideoPacketHeader::read(ByteBufferView(bytes.data(), VideoPacketHeader::kSize)));
}

}  // namespace
}  // namespace Corvexis
