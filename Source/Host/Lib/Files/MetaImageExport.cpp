#include "Host/Lib/Files/MetaImageExport.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "Host/Core/MemImage.h"
#include "Host/Core/TrackingSequence.h"
#include "Host/Lib/Files/AtomicFileWriter.h"
#include "Host/Lib/Files/ByteStreams.h"
#include "Host/Lib/SharedImageSet.h"
#include "Host/Lib/TrackedSharedImageSet.h"

namespace Corvexis::Files {

namespace {

bool fail(std::string* error, const std::string& what)
{
    if (error)
        *error = what;
    return false;
}

std::string number(double v)
{
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof(buffer), v);
    return std::string(buffer, r.ptr);
}

const char* elementType(int pixelType)
{
    switch (pixelType) {
        case ImageDescriptor::kByte:
            return "MET_CHAR";
        case ImageDescriptor::kUByte:
            return "MET_UCHAR";
        case ImageDescriptor::kShort:
            return "MET_SHORT";
        case ImageDescriptor::kUShort:
            return "MET_USHORT";
        case ImageDescriptor::kInt:
            return "MET_INT";
        case ImageDescriptor::kUInt:
            return "MET_UINT";
        case ImageDescriptor::kFloat:
            return "MET_FLOAT";
        case ImageDescriptor::kDouble:
            return "MET_DOUBLE";
        default:
            return nullptr;
    }
}

std::string matrixText(const Eigen::Matrix4d& m)
{
    std::string text;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            text += (text.empty() ? "" : " ") + number(m(r, c));
    return text;
}

}  // namespace

bool writeMetaImage(const SharedImageSet& set, const TrackingSequence* tracking, const std::string& path,
                    std::string* error)
{
    if (set.empty())
        return fail(error, "the image set has no frames");
    const ImageDescriptor first = set.get(0)->descriptor();
    const char* type = elementType(first.pixelType);
    if (!type || first.slices != 1)
        return fail(error, "MetaImage sequences hold 2-D frames, not " + first.toString());
    for (int i = 1; i < set.size(); ++i) {
        const ImageDescriptor& d = set.get(i)->descriptor();
        if (d.pixelType != first.pixelType || d.width != first.width || d.height != first.height ||
            d.channels != first.channels || d.slices != 1)
            return fail(error, "frame " + std::to_string(i) + " differs in size or type from the first");
    }
    const auto* tracked = dynamic_cast<const TrackedSharedImageSet*>(&set);
    if (!tracking && tracked)
        tracking = tracked->tracking(0);
    if (tracking && tracking->empty())
        tracking = nullptr;

    std::string h;
    auto field = [&h](const std::string& key, const std::string& value) { h += key + " = " + value + "\n"; };
    field("ObjectType", "Image");
    field("NDims", "3");
    field("AnatomicalOrientation", "RAI");
    field("BinaryData", "True");
    field("BinaryDataByteOrderMSB", "False");
    field("CenterOfRotation", "0 0 0");
    field("CompressedData", "False");
    field("DimSize", std::to_string(first.width) + " " + std::to_string(first.height) + " " +
                         std::to_string(set.size()));
    if (first.channels > 1)
        field("ElementNumberOfChannels", std::to_string(first.channels));
    field("ElementSpacing", number(first.spacing.x()) + " " + number(first.spacing.y()) + " 1");
    field("ElementType", type);
    field("Kinds", "domain domain list");
    field("Offset", "0 0 0");
    field("TransformMatrix", "1 0 0 0 1 0 0 0 1");
    field("UltrasoundImageOrientation", "MF");
    field("UltrasoundImageType", first.channels == 1 ? "BRIGHTNESS" : "RGB_COLOR");
    for (int i = 0; i < set.size(); ++i) {
        char prefix[32];
        std::snprintf(prefix, sizeof(prefix), "Seq_Frame%04d_", i);
        const std::string p = prefix;
        const std::optional<double> timeMs = set.timestamp(i);
        // Seconds; a frame without a time gets its index at 30 frames per second.
        const double seconds = timeMs ? *timeMs / 1000.0 : i / 30.0;
        field(p + "FrameNumber", std::to_string(i));
        field(p + "Timestamp", number(seconds));
        field(p + "UnfilteredTimestamp", number(seconds));
        field(p + "ImageStatus", "OK");
        if (tracking) {
            Eigen::Matrix4d pose;
            double quality = 1.0;
            if (tracked && tracking == tracked->tracking(0)) {
                pose = tracked->frameMatrix(i);
                quality = timeMs && tracked->useTimestamps()
                              ? tracking->qualityAt(seconds)
                              : tracking->quality(std::min(i, tracking->size() - 1));
            } else if (timeMs && tracking->hasTimestamps()) {
                pose = tracking->matrixAt(seconds);
                quality = tracking->qualityAt(seconds);
            } else {
                const int index = std::min(i, tracking->size() - 1);
                pose = tracking->matrix(index);
                quality = tracking->quality(index);
            }
            field(p + "ProbeToTrackerTransform", matrixText(pose));
            field(p + "ProbeToTrackerTransformStatus", quality > 0.0 ? "OK" : "INVALID");
        }
    }
    field("ElementDataFile", "LOCAL");

    AtomicFileWriter writer;
    if (!writer.open(path))
        return fail(error, writer.error());
    FileSink sink(writer.fd());
    bool ok = sink.write(h.data(), h.size());
    for (int i = 0; ok && i < set.size(); ++i) {
        const MemImage* mem = set.get(i)->mem();
        ok = mem && sink.write(mem->data(), mem->byteSize());
    }
    ok = ok && sink.flush();
    if (!ok)
        return fail(error, "cannot write " + path +
                               (sink.error() ? std::string(": ") + std::strerror(sink.error()) : ""));
    if (!writer.commit())
        return fail(error, writer.error());
    return true;
}

}  // namespace Corvexis::Files
