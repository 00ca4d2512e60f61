#include "Host/Lib/Files/FileCommands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>

#include "Host/Core/Mesh.h"
#include "Host/Core/PointCloud.h"
#include "Host/Core/PropertiesData.h"
#include "Host/Core/TrackingSequence.h"
#include "Host/Lib/Files/CorvexisFile.h"
#include "Host/Lib/Files/CorvexisImage.h"
#include "Host/Lib/Files/DicomFile.h"
#include "Host/Lib/Files/MetaImageExport.h"
#include "Host/Lib/SharedImageSet.h"
#include "Host/Lib/TrackedSharedImageSet.h"

namespace Corvexis::Files {

namespace {

enum class Format
{
    Unknown,
    DataFile,
    LiveFile,
    Dicom,
};

bool fail(std::string* error, const std::string& what)
{
    if (error)
        *error = what;
    return false;
}

Format detect(const std::string& path, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fail(error, "cannot open " + path + ": " + std::strerror(errno));
        return Format::Unknown;
    }
    char head[132] = {};
    in.read(head, sizeof(head));
    const auto got = static_cast<std::size_t>(in.gcount());
    const ByteBufferView view(head, got);
    if (CorvexisFile::hasSignature(view))
        return Format::DataFile;
    if (CorvexisImage::hasSignature(view))
        return Format::LiveFile;
    if (got >= 132 && std::memcmp(head + 128, "DICM", 4) == 0)
        return Format::Dicom;
    fail(error, path + " is not a data file, a live image file or a DICOM file");
    return Format::Unknown;
}

std::string fixed(double v, int decimals)
{
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%.*f", decimals, v);
    return buffer;
}

// "12345 bytes" below 1 MB, else "153.60 MB".
std::string megabytes(double bytes)
{
    if (bytes < 1e6)
        return fixed(bytes, 0) + " bytes";
    return fixed(bytes / 1e6, 2) + " MB";
}

// " times a-b s, mean r Hz" for sorted times in seconds; "" for fewer than one.
std::string timeSpan(const std::vector<double>& seconds)
{
    if (seconds.empty())
        return ", no times";
    std::string text = ", times " + fixed(seconds.front(), 3) + " - " + fixed(seconds.back(), 3) + " s";
    const double span = seconds.back() - seconds.front();
    if (seconds.size() > 1 && span > 0)
        text += ", mean rate " + fixed(static_cast<double>(seconds.size() - 1) / span, 2) + " Hz";
    return text;
}

void describeSet(const SharedImageSet& set, std::ostream& out)
{
    out << "  frames " << set.size();
    if (!set.empty()) {
        const ImageDescriptor& d = set.get(0)->descriptor();
        out << ", " << d.width << " x " << d.height << " x " << d.slices << ", " << d.channels
            << (d.channels == 1 ? " channel" : " channels") << ", " << ImageDescriptor::typeName(d.pixelType)
            << ", spacing " << d.spacing.x() << " x " << d.spacing.y() << " x " << d.spacing.z() << " mm";
    }
    out << ", " << megabytes(static_cast<double>(set.byteSize()));
    std::vector<double> times;
    for (int i = 0; i < set.size(); ++i)
        if (auto t = set.timestamp(i))
            times.push_back(*t / 1000.0);
    out << (times.size() == static_cast<std::size_t>(set.size())
                ? timeSpan(times)
                : std::string(", not every frame has a time"));
    const std::string modality = Data::modalityString(set.modality());
    if (!modality.empty())
        out << ", modality " << modality;
    out << "\n";
}

void describeTracking(const TrackingSequence& ts, std::ostream& out, const std::string& indent)
{
    const TrackerID& id = ts.trackerId();
    out << indent << "instrument \"" << id.ID() << "\"";
    if (!id.name().empty())
        out << " (" << id.name() << ")";
    out << ": " << ts.size() << " samples";
    std::vector<double> times;
    for (const auto& s : ts.samples())
        times.push_back(s.timeSec);
    out << timeSpan(times) << "\n";
}

void describeItem(std::size_t index, const Data& item, std::ostream& out)
{
    out << "item " << index << ": " << Data::kindString(item.kind()) << " \"" << item.name() << "\"\n";
    if (auto* tracked = dynamic_cast<const TrackedSharedImageSet*>(&item)) {
        describeSet(*tracked, out);
        for (int i = 0; i < tracked->numTracking(); ++i)
            describeTracking(*tracked->tracking(i), out, "  tracking: ");
    } else if (auto* set = dynamic_cast<const SharedImageSet*>(&item)) {
        describeSet(*set, out);
    } else if (auto* ts = dynamic_cast<const TrackingSequence*>(&item)) {
        describeTracking(*ts, out, "  ");
    } else if (auto* mesh = dynamic_cast<const Mesh*>(&item)) {
        out << "  " << mesh->numberOfVertices() << " vertices, " << mesh->numberOfFaces() << " faces\n";
    } else if (auto* cloud = dynamic_cast<const PointCloud*>(&item)) {
        out << "  " << cloud->numberOfPoints() << " points\n";
    } else if (auto* block = dynamic_cast<const PropertiesData*>(&item)) {
        out << "  property block \"" << block->properties().name() << "\", "
            << block->properties().paramCount() << " parameters, " << block->properties().subPropertiesCount()
            << " sub-blocks\n";
    }
}

// The items of any of the three formats; the live and DICOM files give one image set.
std::optional<OwningDataList> loadAny(const std::string& path, std::string* error)
{
    const Format format = detect(path, error);
    OwningDataList items;
    switch (format) {
        case Format::DataFile: {
            CorvexisFile file;
            auto loaded = file.load(path);
            if (!loaded)
                fail(error, path + ": " + file.lastError());
            return loaded;
        }
        case Format::LiveFile: {
            std::string why;
            auto set = CorvexisImage::load(path, nullptr, &why);
            if (!set) {
                fail(error, path + ": " + why);
                return std::nullopt;
            }
            items.add(std::move(set));
            return items;
        }
        case Format::Dicom: {
            std::string why;
            auto set = DicomFile::load(path, &why);
            if (!set) {
                fail(error, why);
                return std::nullopt;
            }
            items.add(std::move(set));
            return items;
        }
        case Format::Unknown:
            break;
    }
    return std::nullopt;
}

}  // namespace

std::optional<OwningDataList> loadDataFile(const std::string& path, std::string* error)
{
    return loadAny(path, error);
}

bool describeFile(const std::string& path, std::ostream& out, std::string* error)
{
    const Format format = detect(path, error);
    if (format == Format::Unknown)
        return false;
    std::ifstream sizeProbe(path, std::ios::binary | std::ios::ate);
    const auto fileBytes = static_cast<double>(sizeProbe.tellg());
    if (format == Format::DataFile) {
        CorvexisFile file;
        std::optional<OwningDataList> items = file.load(path);
        if (!items)
            return fail(error, path + ": " + file.lastError());
        out << path << ": data file, format " << file.fileMajor() << "." << file.fileMinor() << ", "
            << megabytes(fileBytes) << ", " << items->size() << " intact item(s)"
            << (file.isComplete() ? "" : ", INCOMPLETE (" + file.lastError() + ")") << "\n";
        std::size_t next = 0;
        for (std::size_t i = 0; i < items->size(); ++i) {
            // Items and damage reports share the file's item numbering.
            while (std::any_of(file.damagedItems().begin(), file.damagedItems().end(),
                               [next](const auto& d) { return d.index == next; }))
                ++next;
            describeItem(next++, *(*items)[i], out);
        }
        for (const auto& d : file.damagedItems())
            out << "item " << d.index << ": DAMAGED " << d.kind << " at offset " << d.offset << ": "
                << d.reason << "\n";
        return true;
    }
    if (format == Format::LiveFile) {
        CorvexisImage::ReadInfo info;
        std::string why;
        auto set = CorvexisImage::load(path, &info, &why);
        if (!set)
            return fail(error, path + ": " + why);
        out << path << ": live image file, " << megabytes(fileBytes) << ", "
            << (info.complete ? "closed" : "NOT CLOSED (recording was interrupted; intact frames shown)");
        if (info.compressed && info.storedPixelBytes > 0)
            out << ", compressed "
                << fixed(static_cast<double>(info.rawPixelBytes) / static_cast<double>(info.storedPixelBytes),
                         2)
                << ":1";
        if (info.damagedFrames > 0)
            out << ", " << info.damagedFrames << " DAMAGED frame(s) skipped";
        out << "\n";
        describeItem(0, *set, out);
        return true;
    }
    std::string why;
    auto set = DicomFile::load(path, &why);
    if (!set)
        return fail(error, why);
    out << path << ": DICOM file, " << megabytes(fileBytes) << ", patient \""
        << set->properties().param("patientName", "") << "\"\n";
    describeItem(0, *set, out);
    return true;
}

bool exportMetaImage(const std::string& inputPath, const std::string& outputPath, std::ostream& out,
                     std::string* error)
{
    std::optional<OwningDataList> items = loadAny(inputPath, error);
    if (!items)
        return false;
    const DataList list = items->dataList();
    const auto* set = list.first<SharedImageSet>();
    if (!set)
        return fail(error, inputPath + " holds no image set");
    const TrackingSequence* tracking = nullptr;
    if (auto* tracked = dynamic_cast<const TrackedSharedImageSet*>(set))
        tracking = tracked->tracking(0);
    if (!tracking)
        tracking = list.first<TrackingSequence>();
    std::string why;
    if (!writeMetaImage(*set, tracking, outputPath, &why))
        return fail(error, why);
    out << "wrote " << outputPath << ": " << set->size() << " frames"
        << (tracking ? " with the poses of \"" + tracking->trackerId().displayName() + "\""
                     : std::string(", no tracking"))
        << "\n";
    return true;
}

}  // namespace Corvexis::Files
