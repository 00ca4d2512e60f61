#include "Stream/Simulated/FakeImageStream.h"

#include <chrono>
#include <cmath>
#include <string>
#include <utility>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/Core/Properties.h"
#include "Host/Core/Random.h"
#include "Host/Core/SettingsSchema.h"
#include "Host/Core/VitalsDataComponent.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/GlImage.h"
#include "Host/Lib/SharedImage.h"
#include "Host/Lib/SharedImageSet.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Simulated/FakeImageCpuPainter.h"
#include "Stream/Simulated/FakeImageFrame.h"
#include "Stream/Simulated/FakeImageGlPainter.h"

namespace Corvexis {

namespace {

constexpr std::string_view kCategory = "FakeImageStream";
constexpr const char* kName = "Fake Image Stream";

double gaussian(double f, double centre, double width)
{
    const double t = (f - centre) / width;
    return std::exp(-(t * t));
}

}  // namespace

FakeImageStream::FakeImageStream() : FakeImageStream(100, 100, 1, 1) {}

FakeImageStream::FakeImageStream(int width, int height, int slices, int channels)
    : ImageStream(kName), glPainter_(std::make_unique<FakeImageGlPainter>())
{
    ImageDescriptor descriptor(ImageDescriptor::kUByte, width, height, slices, channels);
    descriptor = limited(descriptor);
    {
        std::lock_guard lock(mutex_);
        descriptor_ = descriptor;
        rebuildImageList();
    }
    setKind(kindOf(descriptor));
    vitalsPhase_ = Random::Generator::global().uniformDouble(0.0, 1.0);
    fps.setAttribute("min", "0.1");
    fps.setAttribute("max", "1000");
}

FakeImageStream::FakeImageStream(std::unique_ptr<MemImage> image)
    : ImageStream(kName), glPainter_(std::make_unique<FakeImageGlPainter>())
{
    ImageDescriptor descriptor;
    {
        std::lock_guard lock(mutex_);
        if (image) {
            descriptor_ = limited(image->descriptor());
            images_.clear();
            if (descriptor_.channels == image->channels())
                images_.push_back(std::make_shared<SharedImage>(std::move(image)));
            else
                rebuildImageList();
        } else {
            Log::log(Log::Level::Error, kCategory,
                     "No image given; painting 100 x 100 unsigned bytes instead");
            descriptor_ = ImageDescriptor(ImageDescriptor::kUByte, 100, 100, 1, 1);
            rebuildImageList();
        }
        numImages_ = 1;
        descriptor = descriptor_;
    }
    setKind(kindOf(descriptor));
    fps.setAttribute("min", "0.1");
    fps.setAttribute("max", "1000");
}

FakeImageStream::~FakeImageStream()
{
    close();
}

ImageDescriptor FakeImageStream::limited(ImageDescriptor descriptor)
{
    if (descriptor.channels > FakeImageFrame::kMaxChannels) {
        Log::log(Log::Level::Warning, kCategory,
                 "The simulated picture has colours for at most 4 channels; using 4 instead of " +
                     std::to_string(descriptor.channels));
        descriptor.channels = FakeImageFrame::kMaxChannels;
    }
    return descriptor;
}

Data::Kind FakeImageStream::kindOf(const ImageDescriptor& descriptor)
{
    return descriptor.slices < 2 ? Kind::ImageStream : Kind::VolumeStream;
}

ImageDescriptor FakeImageStream::descriptor() const
{
    std::lock_guard lock(mutex_);
    return descriptor_;
}

void FakeImageStream::setDescriptor(const ImageDescriptor& descriptor)
{
    const ImageDescriptor accepted = limited(descriptor);
    {
        std::lock_guard lock(mutex_);
        descriptor_ = accepted;
        rebuildImageList();
    }
    setKind(kindOf(accepted));
}

int FakeImageStream::width() const
{
    std::lock_guard lock(mutex_);
    return descriptor_.width;
}

int FakeImageStream::height() const
{
    std::lock_guard lock(mutex_);
    return descriptor_.height;
}

void FakeImageStream::setImageSize(int width, int height, int slices, int channels)
{
    ImageDescriptor accepted;
    {
        std::lock_guard lock(mutex_);
        ImageDescriptor changed = descriptor_;
        changed.width = width;
        changed.height = height;
        changed.slices = slices;
        changed.channels = channels;
        descriptor_ = limited(changed);
        rebuildImageList();
        accepted = descriptor_;
    }
    setKind(kindOf(accepted));
}

void FakeImageStream::setSpacing(const Eigen::Vector3d& spacing)
{
    if (!spacing.allFinite() || (spacing.array() <= 0.0).any()) {
        Log::log(Log::Level::Warning, kCategory, "Spacing must be finite and positive; keeping the old one");
        return;
    }
    std::lock_guard lock(mutex_);
    descriptor_.spacing = spacing;
    for (const auto& image : images_)
        image->setSpacing(spacing);
}

int FakeImageStream::numImages() const
{
    std::lock_guard lock(mutex_);
    return numImages_;
}

void FakeImageStream::setNumImages(int count)
{
    std::lock_guard lock(mutex_);
    numImages_ = std::max(count, 0);
    rebuildImageList();
}

FakeImageStream::EmittedImageRepresentation FakeImageStream::emittedImageRepresentation() const
{
    std::lock_guard lock(mutex_);
    return representation_;
}

void FakeImageStream::setEmittedImageRepresentation(EmittedImageRepresentation representation)
{
    std::lock_guard lock(mutex_);
    representation_ = representation;
}

bool FakeImageStream::getEmitVitalsData() const
{
    std::lock_guard lock(mutex_);
    return emitVitals_;
}

void FakeImageStream::setEmitVitalsData(bool emitVitals)
{
    std::lock_guard lock(mutex_);
    emitVitals_ = emitVitals;
}

std::optional<Stream::Ticks> FakeImageStream::framePeriod(double framesPerSecond)
{
    if (!std::isfinite(framesPerSecond) || framesPerSecond <= 0.0)
        return std::nullopt;
    const double periodMs = 1000.0 / framesPerSecond;
    const double periodUs = std::trunc(periodMs * 1000.0);
    if (periodUs > 1e15)  // far beyond any useful rate; keeps the tick count in range
        return std::nullopt;
    return Ticks(static_cast<std::int64_t>(periodUs) * 10);
}

double FakeImageStream::ecg(double seconds)
{
    const double f = std::fmod(seconds, 1.0);
    return 0.15 * gaussian(f, 0.10, 0.025) - 0.25 * gaussian(f, 0.20, 0.016) +
           1.0 * gaussian(f, 0.22, 0.012) - 0.35 * gaussian(f, 0.24, 0.016) + 0.25 * gaussian(f, 0.40, 0.05);
}

std::shared_ptr<SharedImage> FakeImageStream::newImage(bool inMemory) const
{
    auto image = std::make_shared<SharedImage>(descriptor_,
                                               inMemory ? Image::Location::Memory : Image::Location::OpenGL);
    if (image->isEmpty())
        return nullptr;  // logged by SharedImage
    return image;
}

void FakeImageStream::rebuildImageList()
{
    images_.clear();
    if (!descriptor_.isValid()) {
        Log::log(Log::Level::Error, kCategory, "Cannot paint images of " + descriptor_.toString());
        return;
    }
    const bool inMemory =
        representation_ == EmittedImageRepresentation::MemImage || !GL::ContextManager::get().isAvailable();
    for (int k = 0; k < numImages_; ++k) {
        auto image = newImage(inMemory);
        if (!image)
            return;
        images_.push_back(std::move(image));
    }
}

bool FakeImageStream::paintImage(std::shared_ptr<SharedImage>& image, const FakeImageFrame& frame)
{
    bool memoryOnly = representation_ == EmittedImageRepresentation::MemImage;
    if (!memoryOnly && !GL::ContextManager::get().isAvailable()) {
        if (!warnedNoOpenGl_)
            Log::log(Log::Level::Warning, kCategory,
                     "OpenGL is not available; painting main-memory images instead");
        warnedNoOpenGl_ = true;
        memoryOnly = true;
    }

    // Emitted records share these images; one that a consumer still holds (or shares through a shallow
    // clone) is left to it, and the frame is painted into a new one. Consumers that let go of their
    // records in time keep this from allocating.
    if (image.use_count() > 1 || image->sharesStorage()) {
        auto replacement = newImage(memoryOnly);
        if (!replacement)
            return false;
        replacement->setSpacing(image->spacing(), image->isMetric());
        image = std::move(replacement);
    }

    if (memoryOnly) {
        // A texture would be downloaded (its stale pixels) before painting: start over in main memory.
        if (image->hasGl() || !image->hasMem()) {
            auto replacement = newImage(true);
            if (!replacement)
                return false;
            replacement->setSpacing(image->spacing(), image->isMetric());
            image = std::move(replacement);
        }
        MemImage* mem = image->mem();
        if (mem == nullptr || !FakeImageCpuPainter::paint(*mem, frame))
            return false;
        image->markChanged(Image::Location::Memory);
        return true;
    }

    if (!image->hasGl()) {
        auto replacement = newImage(false);
        if (!replacement)
            return false;
        replacement->setSpacing(image->spacing(), image->isMetric());
        image = std::move(replacement);
    }
    GlImage* gl = image->gl();
    if (gl == nullptr)
        return false;
    GlPaintPath path = glPaintPath_;
    if (path == GlPaintPath::Automatic)
        path = GL::ContextManager::get().isSoftwareRenderer() ? GlPaintPath::CpuUpload
                                                              : GlPaintPath::ComputeShader;
    if (path != glPathInUse_) {
        glPathInUse_ = path;
        Log::log(Log::Level::Info, kCategory,
                 path == GlPaintPath::CpuUpload
                     ? "Painting graphics-card images in main memory and uploading them (graphics device: " +
                           GL::ContextManager::get().renderer() + ")"
                     : "Painting graphics-card images with the compute shader (graphics device: " +
                           GL::ContextManager::get().renderer() + ")");
    }
    if (path == GlPaintPath::CpuUpload) {
        // On a software rasteriser the shader runs on the CPU as well, many times slower than the
        // vectorised painter; the upload is a plain copy there.
        const ImageDescriptor& d = descriptor_;
        if (!uploadScratch_ || uploadScratch_->descriptor().pixelType != d.pixelType ||
            uploadScratch_->descriptor().width != d.width ||
            uploadScratch_->descriptor().height != d.height ||
            uploadScratch_->descriptor().slices != d.slices ||
            uploadScratch_->descriptor().channels != d.channels)
            uploadScratch_ = MemImage::create(d, false);
        if (!uploadScratch_ || !FakeImageCpuPainter::paint(*uploadScratch_, frame) ||
            !gl->upload(*uploadScratch_))
            return false;
    } else if (!glPainter_->paint(*gl, frame)) {
        return false;
    }
    image->markChanged(Image::Location::OpenGL);
    if (representation_ == EmittedImageRepresentation::GlImage)
        image->makeExclusive(Image::Location::OpenGL);
    else
        image->syncMem();  // into the main-memory copy kept from the previous frame
    return true;
}

FakeImageStream::GlPaintPath FakeImageStream::glPaintPath() const
{
    std::lock_guard lock(mutex_);
    return glPaintPath_;
}

void FakeImageStream::setGlPaintPath(GlPaintPath path)
{
    std::lock_guard lock(mutex_);
    glPaintPath_ = path;
}

FakeImageStream::GlPaintPath FakeImageStream::glPaintPathInUse() const
{
    std::lock_guard lock(mutex_);
    return glPathInUse_;
}

std::unique_ptr<SharedImageSet> FakeImageStream::updateImage()
{
    auto set = std::make_unique<SharedImageSet>();
    // Seeded anew for every record: the small discs stay where they are from frame to frame.
    Random::Generator generator(0);
    const int counter = frameCounter_.load();
    for (std::size_t k = 0; k < images_.size(); ++k) {
        const FakeImageFrame frame =
            FakeImageFrame::compute(descriptor_, counter, static_cast<int>(k), generator);
        if (!paintImage(images_[k], frame))
            Log::log(Log::Level::Error, kCategory, "Painting image " + std::to_string(k) + " failed");
        set->add(images_[k]);
    }
    return set;
}

void FakeImageStream::addVitalsToImage(ImageStreamData& record)
{
    using Vitals = VitalsDataComponent;
    const std::int64_t recordTicks = static_cast<std::int64_t>(record.timestampArrival()) * 10000;
    std::vector<Vitals::Sample> samples;
    if (!vitalsStarted_) {
        samples.push_back(
            {Vitals::TimePoint(Vitals::Ticks(recordTicks)), ecg(recordTicks / 1e7 + vitalsPhase_)});
    } else {
        const double step = kVitalsSamplePeriodS * 1e7;  // ticks
        if (recordTicks > lastVitalsTicks_)
            samples.reserve(
                static_cast<std::size_t>(static_cast<double>(recordTicks - lastVitalsTicks_) / step));
        // Offsets from the last sample in integers: tick counts since 1970 exceed a double's exact range.
        for (std::int64_t i = 1;; ++i) {
            const std::int64_t ticks =
                lastVitalsTicks_ + static_cast<std::int64_t>(static_cast<double>(i) * step);
            if (ticks >= recordTicks)
                break;
            samples.push_back({Vitals::TimePoint(Vitals::Ticks(ticks)), ecg(ticks / 1e7 + vitalsPhase_)});
        }
    }
    if (!samples.empty()) {
        lastVitalsTicks_ = samples.back().time.time_since_epoch().count();
        vitalsStarted_ = true;
    }
    auto vitals = std::make_unique<Vitals>();
    vitals->addTimeSeries(Vitals::VitalsKind::Ecg, std::move(samples));
    record.components().add(std::move(vitals));
}

std::optional<Stream::WorkContinuation> FakeImageStream::doWork()
{
    const auto t0 = std::chrono::time_point_cast<Ticks>(std::chrono::system_clock::now());
    const double rate = fps.value();
    setRequestedRate(std::isfinite(rate) && rate > 0.0 ? rate : 0.0);
    const std::optional<Ticks> period = framePeriod(rate);
    if (!period) {
        // Nothing sensible to pace by; look again a little later instead of spinning.
        return WorkContinuation{t0 + std::chrono::duration_cast<Ticks>(std::chrono::milliseconds(100))};
    }

    std::shared_ptr<ImageStreamData> record;
    {
        std::lock_guard lock(mutex_);
        const auto paintBegin = std::chrono::steady_clock::now();
        std::unique_ptr<SharedImageSet> set = updateImage();
        noteWorkStep(glPathInUse_ == GlPaintPath::ComputeShader ? "painting (compute shader)"
                     : glPathInUse_ == GlPaintPath::CpuUpload   ? "painting (main memory + upload)"
                                                                : "painting",
                     std::chrono::steady_clock::now() - paintBegin);
        record = std::make_shared<ImageStreamData>(this, std::move(*set));
        record->setTimestampArrival(std::chrono::system_clock::now());
        record->setTimestampDevice(record->timestampArrival());
        if (emitVitals_)
            addVitalsToImage(*record);
        else
            vitalsStarted_ = false;  // the trace restarts when vitals are switched on again
    }
    frameCounter_.store((frameCounter_.load() + 1) % kCounterPeriod);
    signalStreamData.emitSignal(std::shared_ptr<const StreamData>(std::move(record)));
    return WorkContinuation{t0 + *period};
}

void FakeImageStream::configuration(Properties* properties) const
{
    if (properties == nullptr)
        return;
    ImageStream::configuration(properties);
    std::lock_guard lock(mutex_);
    descriptor_.configuration(properties->addSubProperties("descriptor"));
    properties->setParam("numImages", numImages_);
    properties->setParam("emittedImageRepresentation", static_cast<int>(representation_));
    properties->setParam("emitVitalsData", emitVitals_);
}

void FakeImageStream::configure(const Properties* properties)
{
    if (properties == nullptr)
        return;
    ImageStream::configure(properties);
    ImageDescriptor accepted;
    {
        std::lock_guard lock(mutex_);
        ImageDescriptor descriptor = descriptor_;
        if (const Properties* block = properties->subProperties("descriptor")) {
            descriptor.configure(block);
        } else {
            // The older flat form.
            descriptor = ImageDescriptor(ImageDescriptor::kUByte, 1, 1, 1, 1);
            properties->getParam("width", descriptor.width);
            properties->getParam("height", descriptor.height);
            properties->getParam("slices", descriptor.slices);
            properties->getParam("channels", descriptor.channels);
            properties->getParam("spacing", descriptor.spacing);
        }
        descriptor_ = limited(descriptor);

        int count = numImages_;
        if (properties->getParam("numImages", count))
            numImages_ = std::max(count, 0);
        int representation = 0;
        if (properties->getParam("emittedImageRepresentation", representation)) {
            if (representation >= 0 && representation <= 2)
                representation_ = static_cast<EmittedImageRepresentation>(representation);
            else
                Log::log(Log::Level::Warning, kCategory,
                         "Unknown emittedImageRepresentation " + std::to_string(representation) +
                             "; keeping the current one");
        }
        properties->getParam("emitVitalsData", emitVitals_);
        rebuildImageList();
        accepted = descriptor_;
    }
    setKind(kindOf(accepted));
}

void FakeImageStream::describeSettings(Properties* schema) const
{
    if (schema == nullptr)
        return;
    ImageStream::describeSettings(schema);
    const ImageDescriptor current = descriptor();
    Properties* block = schema->addSubProperties("descriptor");
    SettingsSchema::add(*block, "pixelType", current.pixelType, "OpenGL type code of the pixels");
    block->setParamAttribute("pixelType", "min", std::to_string(ImageDescriptor::kByte));
    block->setParamAttribute("pixelType", "max", std::to_string(ImageDescriptor::kFloat));
    for (const char* key : {"width", "height", "slices", "channels"}) {
        const int value = std::string(key) == "width"    ? current.width
                          : std::string(key) == "height" ? current.height
                          : std::string(key) == "slices" ? current.slices
                                                         : current.channels;
        SettingsSchema::add(*block, key, value);
        block->setParamAttribute(key, "min", "1");
    }
    block->setParamAttribute("channels", "max", "4");
    SettingsSchema::add(*block, "spacing", current.spacing, "mm");
    SettingsSchema::add(*schema, "numImages", numImages(), "images per record");
    schema->setParamAttribute("numImages", "min", "0");
    SettingsSchema::add(*schema, "emittedImageRepresentation", static_cast<int>(emittedImageRepresentation()));
    schema->setParamAttribute("emittedImageRepresentation", "values", "MemImage, GlImage, MemImage + GlImage");
    SettingsSchema::add(*schema, "emitVitalsData", getEmitVitalsData(), "add a simulated ECG to every record");
}

}  // namespace Corvexis
