#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Host/Core/ImageDescriptor.h"
#include "Host/Core/MemImage.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/Framework/ImageStream.h"
#include "Stream/Framework/ImageStreamData.h"

namespace Corvexis::Test {

// An image stream without a worker whose frames the test emits itself, on the calling thread.
class ManualImageStream : public ImageStream
{
public:
    explicit ManualImageStream(const std::string& name = "manual") : ImageStream(name) {}
    ~ManualImageStream() override { close(); }

    ThreadingMode threadingMode() const override { return ThreadingMode::NoWorkerThread; }
    using ImageStream::setKind;

    // A main-memory image of `desc` whose bytes are all `value`.
    static std::shared_ptr<SharedImage> makeImage(const ImageDescriptor& desc, std::uint8_t value = 0,
                                                  Data::Modality modality = Data::Modality::None)
    {
        auto image = std::make_shared<SharedImage>(desc, Image::Location::Memory);
        std::memset(image->mem()->data(), value, image->mem()->byteSize());
        image->markChanged(Image::Location::Memory);
        image->setModality(modality);
        return image;
    }

    // Emits one record of the given images with arrival time `arrivalMs`.
    void emitImages(const std::vector<std::shared_ptr<SharedImage>>& images, std::uint64_t arrivalMs = 0)
    {
        auto record = std::make_shared<ImageStreamData>(this);
        std::vector<std::shared_ptr<const SharedImage>> constImages(images.begin(), images.end());
        record->setImages(constImages);
        record->setTimestampArrival(arrivalMs);
        record->setTimestampDevice(arrivalMs);
        signalStreamData.emitSignal(record);
    }
    void emitFrame(const ImageDescriptor& desc, std::uint8_t value = 0, std::uint64_t arrivalMs = 0,
                   Data::Modality modality = Data::Modality::None)
    {
        emitImages({makeImage(desc, value, modality)}, arrivalMs);
    }

protected:
    bool openImpl() override { return true; }
    bool closeImpl() override { return true; }
    bool startImpl() override { return true; }
    bool stopImpl() override { return true; }
    std::optional<WorkContinuation> doWork() override { return std::nullopt; }
};

// First byte of the main-memory pixels of frame `index` of a set-like image.
inline int firstByte(const SharedImage& image)
{
    const MemImage* mem = image.mem();
    return mem ? static_cast<const std::uint8_t*>(mem->data())[0] : -1;
}

}  // namespace Corvexis::Test
