#pragma once

// Shared pieces of the encoder and decoder tests: a packet sink for the encoder's callback and an image
// sink for the decoder's signal, both waited on with deadlines.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "Host/Core/ByteBuffer.h"
#include "Host/Core/MemImage.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/Video/VideoDecoder.h"
#include "Stream/Video/VideoEncoder.h"
#include "Stream/Video/VideoPacketHeader.h"
#include "Support/TestUtil.h"
#include "Support/VideoTestTools.h"

namespace Corvexis::Test {

struct ReceivedPacket
{
    std::unique_ptr<ByteBuffer> bytes;
    bool firstAfterConfiguration = false;
    VideoPacketHeader header;
};

class PacketSink
{
public:
    VideoEncoder::PacketCallback callback()
    {
        return [this](std::unique_ptr<ByteBuffer> packet, bool first) {
            ReceivedPacket received;
            received.header = VideoPacketHeader::read(packet->view()).value_or(VideoPacketHeader{-1});
            received.bytes = std::move(packet);
            received.firstAfterConfiguration = first;
            std::lock_guard lock(mutex_);
            packets_.push_back(std::move(received));
        };
    }
    std::size_t count() const
    {
        std::lock_guard lock(mutex_);
        return packets_.size();
    }
    bool waitFor(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(30)) const
    {
        return waitUntil([&] { return count() >= n; }, timeout);
    }
    const ReceivedPacket& at(std::size_t i) const
    {
        std::lock_guard lock(mutex_);
        return packets_.at(i);
    }
    std::unique_ptr<ByteBuffer> copy(std::size_t i) const
    {
        return std::make_unique<ByteBuffer>(*at(i).bytes);
    }

private:
    mutable std::mutex mutex_;
    std::vector<ReceivedPacket> packets_;
};

class ImageSink
{
public:
    explicit ImageSink(VideoDecoder& decoder)
    {
        connection_ = decoder.signalImageDecoded.connect([this](std::shared_ptr<SharedImage> image) {
            std::lock_guard lock(mutex_);
            images_.push_back(std::move(image));
        });
    }
    ~ImageSink() { connection_.disconnect(); }
    std::size_t count() const
    {
        std::lock_guard lock(mutex_);
        return images_.size();
    }
    bool waitFor(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(30)) const
    {
        return waitUntil([&] { return count() >= n; }, timeout);
    }
    std::shared_ptr<SharedImage> at(std::size_t i) const
    {
        std::lock_guard lock(mutex_);
        return images_.at(i);
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<SharedImage>> images_;
    SignalConnection connection_;
};

// Feeds one frame at a time and waits for its packet, so that every frame is encoded (none replaced).
inline bool encodeOneByOne(VideoEncoder& encoder, PacketSink& sink, int width, int height, int channels,
                           int first, int count,
                           std::vector<std::unique_ptr<TypedImage<std::uint8_t>>>* inputs = nullptr)
{
    for (int i = first; i < first + count; ++i) {
        auto frame = makePatternFrame(width, height, channels, i);
        if (inputs != nullptr)
            inputs->push_back(frame->cloneTyped());
        const std::size_t before = sink.count();
        encoder.feedFrame(std::move(frame));
        if (!sink.waitFor(before + 1))
            return false;
    }
    return true;
}

}  // namespace Corvexis::Test
