#include "Stream/GUI/ImageStreamDisplay.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>

#include <QImage>

#include "Host/Core/MemImage.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Framework/Stream.h"

namespace Corvexis {

namespace {

template <typename T>
void window(const MemImage& image, std::vector<std::uint8_t>& out)
{
    const auto* values = static_cast<const T*>(image.data());
    const std::size_t count = out.size();
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < count; ++i) {
        const double v = static_cast<double>(values[i]);
        if (!std::isfinite(v))
            continue;
        low = std::min(low, v);
        high = std::max(high, v);
    }
    const double range = high - low;
    for (std::size_t i = 0; i < count; ++i) {
        const double v = static_cast<double>(values[i]);
        if (!std::isfinite(v) || !(range > 0)) {
            out[i] = 0;
            continue;
        }
        out[i] = static_cast<std::uint8_t>(std::clamp((v - low) / range * 255.0 + 0.5, 0.0, 255.0));
    }
}

}  // namespace

QImage ImageStreamDisplay::toQImage(const MemImage& image)
{
    const int width = image.width();
    const int height = image.height();
    const int channels = image.channels();
    if (width <= 0 || height <= 0 || channels <= 0 || image.data() == nullptr)
        return {};
    // The first slice: slices follow each other, channels are interleaved.
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * channels);
    switch (image.pixelType()) {
        case ImageDescriptor::kUByte:
            std::memcpy(bytes.data(), image.data(), bytes.size());
            break;
        case ImageDescriptor::kByte:
            window<std::int8_t>(image, bytes);
            break;
        case ImageDescriptor::kUShort:
            window<std::uint16_t>(image, bytes);
            break;
        case ImageDescriptor::kShort:
            window<std::int16_t>(image, bytes);
            break;
        case ImageDescriptor::kUInt:
            window<std::uint32_t>(image, bytes);
            break;
        case ImageDescriptor::kInt:
            window<std::int32_t>(image, bytes);
            break;
        case ImageDescriptor::kFloat:
            window<float>(image, bytes);
            break;
        case ImageDescriptor::kDouble:
            window<double>(image, bytes);
            break;
        default:
            return {};
    }
    const QImage::Format format = channels == 3   ? QImage::Format_RGB888
                                  : channels == 4 ? QImage::Format_RGBA8888
                                                  : QImage::Format_Grayscale8;
    QImage picture(width, height, format);
    const int outChannels = channels == 3 || channels == 4 ? channels : 1;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = picture.scanLine(y);
        const std::uint8_t* source = bytes.data() + static_cast<std::size_t>(y) * width * channels;
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < outChannels; ++c)
                row[x * outChannels + c] = source[x * channels + c];
    }
    return picture;
}

bool ImageStreamDisplay::snapshot(const std::string& directory, std::vector<std::string>* written,
                                  std::string* error)
{
    const auto* record = dynamic_cast<const ImageStreamData*>(latest().get());
    if (record == nullptr)
        return true;
    const auto images = record->images();
    const std::string base = fileNameOf(stream().name());
    for (std::size_t i = 0; i < images.size(); ++i) {
        if (!images[i])
            continue;
        const MemImage* mem = images[i]->mem();
        const QImage picture = mem != nullptr ? toQImage(*mem) : QImage();
        const std::string name = images.size() == 1 ? base + ".png" : base + "-" + std::to_string(i) + ".png";
        const std::string path = (std::filesystem::path(directory) / name).string();
        if (picture.isNull()) {
            if (error != nullptr)
                *error = path + ": the frame has no pixels that can be shown";
            return false;
        }
        // Written under a temporary name and renamed, so no partial picture stands under the real name.
        const std::string temporary = path + ".part";
        if (!picture.save(QString::fromStdString(temporary), "PNG")) {
            std::filesystem::remove(temporary);
            if (error != nullptr)
                *error = path + ": cannot write the PNG file";
            return false;
        }
        std::error_code ec;
        std::filesystem::rename(temporary, path, ec);
        if (ec) {
            if (error != nullptr)
                *error = path + ": " + ec.message();
            return false;
        }
        if (written != nullptr)
            written->push_back(path);
    }
    return true;
}

}  // namespace Corvexis
