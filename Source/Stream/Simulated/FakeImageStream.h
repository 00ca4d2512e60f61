#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <Eigen/Core>

#include "Host/Core/ImageDescriptor.h"
#include "Host/Core/Parameter.h"
#include "Stream/Framework/ImageStream.h"

namespace Corvexis {

class FakeImageFrame;
class FakeImageGlPainter;
class ImageStreamData;
class MemImage;
class SharedImage;
class SharedImageSet;

// An image stream without a device: every work cycle paints a synthetic test picture (a grid with one
// large and four small pulsating discs, see FakeImageFrame) into each image of its image list and emits
// them as one ImageStreamData, optionally with a simulated ECG trace (VitalsDataComponent).
//
// Painting: main-memory images by the vectorised main-memory painter (FakeImageCpuPainter); graphics-card
// images by the fastest path of the machine: the compute shader (FakeImageGlPainter) on a real graphics
// card, but the main-memory painter and one upload when the graphics device is a software rasteriser
// (GL::ContextManager::isSoftwareRenderer), where the shader runs on the CPU too, far more slowly. Both
// give identical pixels. The path is logged (information) when first taken and after every change, and
// glPaintPathInUse() tells it.
// Representation MemImage paints in main memory only; GlImage on the graphics card only; MemAndGlImage on the
// graphics card followed by a download into the image's main-memory copy. Without OpenGL every representation
// falls back to main memory (one warning). The image list is reused from frame to frame (records share
// it shallowly), so only a change of descriptor or image count allocates.
//
// Channels: the picture has a colour for four channels; descriptors with more channels are limited to
// 4 by every setter and by configure, with a warning under "FakeImageStream".
//
// Threads: hooks and doWork run on the worker thread; setters, accessors, configure and configuration
// are thread-safe and take mutex_, which painting holds for the whole frame, so a change takes effect at
// the next frame and never meets a half-built image list. Records are emitted after mutex_ is released,
// and signalKindChanged (from setters and configure) is emitted after it too.
//
// Destruction closes the stream.
class FakeImageStream : public ImageStream
{
public:
    // Stored as an integer in the configuration.
    enum class EmittedImageRepresentation : int
    {
        MemImage = 0,       // "MemImage"
        GlImage = 1,        // "GlImage"
        MemAndGlImage = 2,  // "MemImage + GlImage"
    };

    // How graphics-card images are painted.
    enum class GlPaintPath : int
    {
        Automatic = 0,      // CpuUpload on a software rasteriser, else ComputeShader
        ComputeShader = 1,  // FakeImageGlPainter
        CpuUpload = 2,      // FakeImageCpuPainter into main memory, then one upload
    };

    // Frame counter period; the counter is the animation angle in degrees.
    static constexpr int kCounterPeriod = 360;
    // ECG samples per second of the simulated vitals.
    static constexpr double kVitalsSamplePeriodS = 1.0 / 300.0;

    // 100 x 100 pixels, one slice, one channel, unsigned bytes, 30 fps.
    FakeImageStream();
    // Unsigned bytes of the given extents and channels (limited to 4); draws the ECG phase from the host's
    // global generator.
    FakeImageStream(int width, int height, int slices, int channels);
    // Takes the image over as the only entry of the image list, with its descriptor; the ECG phase is 0.
    // A null image is refused with an error, and the stream paints the default 100 x 100 descriptor.
    explicit FakeImageStream(std::unique_ptr<MemImage> image);
    ~FakeImageStream() override;

    // The descriptor of the painted images. Hides ImageStream::descriptor() (the last emitted frame's),
    // which stays reachable as ImageStream::descriptor(). Thread-safe.
    ImageDescriptor descriptor() const;
    // Replaces the descriptor (channels limited to 4), updates the kind and rebuilds the image list.
    // Thread-safe.
    void setDescriptor(const ImageDescriptor& descriptor);
    int width() const;   // thread-safe
    int height() const;  // thread-safe
    // Sets the four extents of the descriptor (channels limited to 4), updates the kind and rebuilds the
    // image list. Thread-safe.
    void setImageSize(int width, int height, int slices, int channels);
    // Sets the spacing (mm) of every image in the list and of the descriptor, without rebuilding; values
    // that are not finite and positive are refused with a warning. Thread-safe.
    void setSpacing(const Eigen::Vector3d& spacing);

    int numImages() const;  // thread-safe
    // Negative values count as 0. Rebuilds the image list. Thread-safe.
    void setNumImages(int count);

    EmittedImageRepresentation emittedImageRepresentation() const;                  // thread-safe
    void setEmittedImageRepresentation(EmittedImageRepresentation representation);  // thread-safe

    GlPaintPath glPaintPath() const;        // thread-safe; Automatic by default
    void setGlPaintPath(GlPaintPath path);  // thread-safe; takes effect at the next frame
    // The path the last graphics-card frame took (ComputeShader or CpuUpload), Automatic before the
    // first. Thread-safe.
    GlPaintPath glPaintPathInUse() const;

    bool getEmitVitalsData() const;           // thread-safe
    void setEmitVitalsData(bool emitVitals);  // thread-safe

    // Frames per second, saved as "fps". Thread-safe (a Parameter).
    Parameter<double> fps{"fps", 30.0, this};

    // The counter of the next frame, 0 to 359. Thread-safe.
    int frameCounter() const { return frameCounter_.load(); }
    // The ECG phase in seconds added to every sample time. Thread-safe (fixed at construction).
    double vitalsPhase() const { return vitalsPhase_; }

    // The interval between frame starts: 1000 / fps ms, truncated to whole microseconds. Empty for a
    // rate that is not finite and positive.
    static std::optional<Ticks> framePeriod(double framesPerSecond);
    // The simulated ECG (mV) at `seconds`: one beat per second, P, Q, R, S and T waves as Gaussians.
    static double ecg(double seconds);

    bool supportsPausing() const override { return true; }

    // "fps" first, then sub-block "descriptor", "numImages", "emittedImageRepresentation",
    // "emitVitalsData". Thread-safe.
    void configuration(Properties* properties) const override;
    // Reads what configuration() writes. Without a "descriptor" block the older flat keys "width",
    // "height", "slices", "channels" and "spacing" are read over a 1 x 1 x 1 single-channel unsigned-byte
    // descriptor. Then updates the kind and rebuilds the image list. Thread-safe.
    void configure(const Properties* properties) override;
    // "fps", the "descriptor" block, "numImages", "emittedImageRepresentation" and "emitVitalsData", with
    // their limits. Thread-safe.
    void describeSettings(Properties* schema) const override;

protected:
    // Nothing to open or close: every hook succeeds. Worker thread.
    bool openImpl() override { return true; }
    bool closeImpl() override { return true; }
    bool startImpl() override { return true; }
    bool stopImpl() override { return true; }
    bool pauseImpl() override { return true; }
    bool resumeImpl() override { return true; }
    // Paints and emits one record; the next call is due one frame period after this one began. Worker
    // thread.
    std::optional<WorkContinuation> doWork() override;

private:
    // Channels above 4 become 4, with a warning.
    static ImageDescriptor limited(ImageDescriptor descriptor);
    static Kind kindOf(const ImageDescriptor& descriptor);

    // The next three need mutex_ held.
    void rebuildImageList();
    std::unique_ptr<SharedImageSet> updateImage();
    void addVitalsToImage(ImageStreamData& record);
    std::shared_ptr<SharedImage> newImage(bool inMemory) const;
    bool paintImage(std::shared_ptr<SharedImage>& image, const FakeImageFrame& frame);

    // Incremented modulo 360 by the worker after every frame.
    std::atomic<int> frameCounter_{0};
    // Drawn in the size constructor, 0 otherwise; read-only afterwards.
    double vitalsPhase_ = 0.0;

    mutable std::mutex mutex_;
    // guarded by mutex_
    ImageDescriptor descriptor_;
    EmittedImageRepresentation representation_ = EmittedImageRepresentation::GlImage;
    int numImages_ = 1;
    std::vector<std::shared_ptr<SharedImage>> images_;
    bool emitVitals_ = false;
    bool vitalsStarted_ = false;
    std::int64_t lastVitalsTicks_ = 0;  // 100-ns ticks since 1970 of the last ECG sample
    std::unique_ptr<FakeImageGlPainter> glPainter_;
    bool warnedNoOpenGl_ = false;
    GlPaintPath glPaintPath_ = GlPaintPath::Automatic;
    GlPaintPath glPathInUse_ = GlPaintPath::Automatic;
    // Main-memory frame painted for an upload (CpuUpload), reused while the descriptor stays.
    std::unique_ptr<MemImage> uploadScratch_;
};

}  // namespace Corvexis
