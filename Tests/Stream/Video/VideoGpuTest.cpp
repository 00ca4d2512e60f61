#include "Stream/Video/ColorConverter.h"

#include <gtest/gtest.h>

#include "Host/GL/ContextManager.h"
#include "Host/GL/GlImage.h"
#include "VideoCodecTestSupport.h"

namespace Corvexis {
namespace {

// Hardware decoding with the CUDA kernel writing into a GL texture, against the software path that
// decodes the same packets into main memory. Needs the kernel built in, a CUDA device and OpenGL;
// elsewhere it reports itself skipped with the reason.
TEST(VideoGpuTest, HardwareDecodeIntoTextureMatchesTheSoftwarePath)
{
    if (!ColorConverter::gpuKernelAvailable())
        GTEST_SKIP() << "built without the CUDA kernel (no CUDA toolkit was found at configure time)";
    if (!GL::ContextManager::get().isAvailable())
        GTEST_SKIP() << "no OpenGL: " << GL::ContextManager::get().unavailableReason();
    Corvexis::Test::PacketSink sink;
    {
        VideoEncoder encoder(sink.callback());
        ASSERT_TRUE(encoder.start(VideoEncoder::Codec::LibaomAv1, 30, VideoEncoder::Preset::HighQuality));
        ASSERT_TRUE(Corvexis::Test::encodeOneByOne(encoder, sink, 640, 480, 3, 0, 4));
    }
    VideoDecoder hardware;
    Corvexis::Test::ImageSink hardwareImages(hardware);
    ASSERT_TRUE(hardware.start());
    VideoDecoder software;
    software.setUseHardwareAcceleration(false);
    Corvexis::Test::ImageSink softwareImages(software);
    ASSERT_TRUE(software.start());
    for (int i = 0; i < 4; ++i) {
        hardware.feedByteBuffer(sink.copy(i));
        software.feedByteBuffer(sink.copy(i));
    }
    ASSERT_TRUE(hardwareImages.waitFor(4));
    ASSERT_TRUE(softwareImages.waitFor(4));
    if (!hardware.hardwareAccelerationUsed())
        GTEST_SKIP() << "no CUDA device for FFmpeg's hardware decoder on this machine";
    for (int i = 1; i < 4; ++i) {
        const auto gpu = hardwareImages.at(i);
        ASSERT_TRUE(gpu->hasGl());
        ASSERT_EQ(gpu->channels(), 4);
        std::unique_ptr<MemImage> rgba = gpu->gl()->download();
        ASSERT_TRUE(rgba);
        const MemImage* rgb = softwareImages.at(i)->mem();
        std::vector<std::uint8_t> dropped(rgb->byteSize());
        const auto* in = static_cast<const std::uint8_t*>(rgba->data());
        for (std::size_t p = 0; p < dropped.size() / 3; ++p)
            for (int c = 0; c < 3; ++c)
                dropped[3 * p + c] = in[4 * p + c];
        // Two conversions of the same pictures (the kernel's exact matrix, the scaler's fixed point).
        EXPECT_GT(Corvexis::Test::psnr(dropped.data(), static_cast<const std::uint8_t*>(rgb->data()),
                                       dropped.size()),
                  35.0)
            << "frame " << i;
    }
}

}  // namespace
}  // namespace Corvexis
