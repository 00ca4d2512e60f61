#include "Host/Lib/Files/DicomFile.h"

#include <charconv>
#include <cstring>
#include <ctime>
#include <optional>
#include <vector>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>

#include "Host/Core/MemImage.h"
#include "Host/Lib/Files/AtomicFileWriter.h"
#include "Host/Lib/SharedImageSet.h"

namespace Corvexis::DicomFile {

namespace {

bool fail(std::string* error, const std::string& what)
{
    if (error)
        *error = what;
    return false;
}

std::string modalityCode(Data::Modality m)
{
    switch (m) {
        case Data::Modality::Ultrasound:
            return "US";
        case Data::Modality::CT:
            return "CT";
        case Data::Modality::MR:
            return "MR";
        case Data::Modality::NM:
            return "NM";
        case Data::Modality::Xray:
            return "DX";
        default:
            return "OT";
    }
}

Data::Modality modalityOf(const std::string& code)
{
    if (code == "US")
        return Data::Modality::Ultrasound;
    if (code == "CT")
        return Data::Modality::CT;
    if (code == "MR")
        return Data::Modality::MR;
    if (code == "NM")
        return Data::Modality::NM;
    if (code == "DX" || code == "CR" || code == "XA")
        return Data::Modality::Xray;
    return Data::Modality::None;
}

// A decimal string of at most 16 characters (the limit of the DS representation), as exact as fits.
std::string decimal(double v)
{
    char buffer[64];
    auto r = std::to_chars(buffer, buffer + sizeof(buffer), v);
    if (r.ptr - buffer <= 16)
        return std::string(buffer, r.ptr);
    for (int precision = 15; precision > 0; --precision) {
        r = std::to_chars(buffer, buffer + sizeof(buffer), v, std::chars_format::general, precision);
        if (r.ptr - buffer <= 16)
            return std::string(buffer, r.ptr);
    }
    return "0";
}

std::string newUid()
{
    char uid[100];
    dcmGenerateUniqueIdentifier(uid, SITE_INSTANCE_UID_ROOT);
    return uid;
}

// The first element that could not be set, for the error message.
thread_local std::string failedElement;

bool put(DcmItem& item, const DcmTagKey& tag, const std::string& value)
{
    const OFCondition c = item.putAndInsertOFStringArray(tag, value.c_str());
    if (c.bad() && failedElement.empty())
        failedElement = DcmTag(tag).getTagName() + std::string(": ") + c.text();
    return c.good();
}

}  // namespace

bool save(const SharedImageSet& set, const std::string& path, const std::string& patientName,
          std::string* error)
{
    if (set.empty())
        return fail(error, "the image set has no frames");
    const ImageDescriptor first = set.get(0)->descriptor();
    if (first.pixelType != ImageDescriptor::kUByte || (first.channels != 1 && first.channels != 3) ||
        first.slices != 1)
        return fail(error, "DICOM export supports 8-bit grey or RGB 2-D frames, not " + first.toString());
    const std::size_t frameBytes = first.byteSize();
    std::vector<std::uint8_t> pixels;
    pixels.reserve(frameBytes * set.size() + 1);
    for (int i = 0; i < set.size(); ++i) {
        const SharedImage& frame = *set.get(i);
        const ImageDescriptor& d = frame.descriptor();
        if (d.pixelType != first.pixelType || d.width != first.width || d.height != first.height ||
            d.channels != first.channels || d.slices != 1)
            return fail(error, "frame " + std::to_string(i) + " differs in size or type from the first");
        const MemImage* mem = frame.mem();
        if (!mem)
            return fail(error, "the pixels of frame " + std::to_string(i) + " are not available");
        const auto* p = static_cast<const std::uint8_t*>(mem->data());
        pixels.insert(pixels.end(), p, p + frameBytes);
    }
    if (pixels.size() % 2 != 0)
        pixels.push_back(0);  // pixel data has an even length

    const bool ultrasound = set.modality() == Data::Modality::Ultrasound;
    const bool rgb = first.channels == 3;
    const char* sopClass = ultrasound ? UID_UltrasoundMultiframeImageStorage
                           : rgb      ? UID_MultiframeTrueColorSecondaryCaptureImageStorage
                                      : UID_MultiframeGrayscaleByteSecondaryCaptureImageStorage;

    char date[16];
    char time[16];
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::gmtime_r(&now, &tm);
    std::strftime(date, sizeof(date), "%Y%m%d", &tm);
    std::strftime(time, sizeof(time), "%H%M%S", &tm);

    DcmFileFormat file;
    DcmDataset& ds = *file.getDataset();
    failedElement.clear();
    const std::string instanceUid = newUid();
    bool ok = put(ds, DCM_SpecificCharacterSet, "ISO_IR 192") && put(ds, DCM_SOPClassUID, sopClass) &&
              put(ds, DCM_SOPInstanceUID, instanceUid) && put(ds, DCM_InstanceCreationDate, date) &&
              put(ds, DCM_InstanceCreationTime, time) && put(ds, DCM_PatientName, patientName) &&
              put(ds, DCM_PatientID, "") && put(ds, DCM_PatientBirthDate, "") &&
              put(ds, DCM_PatientSex, "") && put(ds, DCM_StudyInstanceUID, newUid()) &&
              put(ds, DCM_StudyDate, date) && put(ds, DCM_StudyTime, time) &&
              put(ds, DCM_ReferringPhysicianName, "") && put(ds, DCM_StudyID, "") &&
              put(ds, DCM_AccessionNumber, "") && put(ds, DCM_Modality, modalityCode(set.modality())) &&
              put(ds, DCM_SeriesInstanceUID, newUid()) && put(ds, DCM_SeriesNumber, "1") &&
              put(ds, DCM_Laterality, "") && put(ds, DCM_Manufacturer, "Corvexis") &&
              put(ds, DCM_InstanceNumber, "1") && put(ds, DCM_PatientOrientation, "") &&
              put(ds, DCM_ContentDate, date) && put(ds, DCM_ContentTime, time) &&
              put(ds, DCM_SeriesDescription, set.name());
    if (ultrasound) {
        ok = ok && put(ds, DCM_ImageType, "ORIGINAL\\PRIMARY") && put(ds, DCM_LossyImageCompression, "00");
    } else {
        ok = ok && put(ds, DCM_ConversionType, "WSD") && put(ds, DCM_BurnedInAnnotation, "NO") &&
             put(ds, DCM_ImageType, "DERIVED\\SECONDARY");
        if (!rgb)  // grey secondary capture states its (identity) value mapping
            ok = ok && put(ds, DCM_PresentationLUTShape, "IDENTITY") && put(ds, DCM_RescaleIntercept, "0") &&
                 put(ds, DCM_RescaleSlope, "1") && put(ds, DCM_RescaleType, "US");
    }
    ok = ok && ds.putAndInsertUint16(DCM_SamplesPerPixel, rgb ? 3 : 1).good() &&
         put(ds, DCM_PhotometricInterpretation, rgb ? "RGB" : "MONOCHROME2") &&
         ds.putAndInsertUint16(DCM_Rows, static_cast<Uint16>(first.height)).good() &&
         ds.putAndInsertUint16(DCM_Columns, static_cast<Uint16>(first.width)).good() &&
         ds.putAndInsertUint16(DCM_BitsAllocated, 8).good() &&
         ds.putAndInsertUint16(DCM_BitsStored, 8).good() && ds.putAndInsertUint16(DCM_HighBit, 7).good() &&
         ds.putAndInsertUint16(DCM_PixelRepresentation, 0).good() &&
         put(ds, DCM_NumberOfFrames, std::to_string(set.size())) &&
         put(ds, DCM_PixelSpacing, decimal(first.spacing.y()) + "\\" + decimal(first.spacing.x()));
    if (rgb)
        ok = ok && ds.putAndInsertUint16(DCM_PlanarConfiguration, 0).good();

    // Frame times: the Frame Time Vector holds the increments (the first is 0), the Frame Delay the
    // first frame's time. A set without times says so by omitting both.
    if (set.hasTimestamps()) {
        std::string vector = "0";
        for (int i = 1; i < set.size(); ++i)
            vector += "\\" + decimal(*set.timestamp(i) - *set.timestamp(i - 1));
        ok = ok && ds.putAndInsertTagKey(DCM_FrameIncrementPointer, DCM_FrameTimeVector).good() &&
             put(ds, DCM_FrameTimeVector, vector) && put(ds, DCM_FrameDelay, decimal(*set.timestamp(0)));
    } else {
        const double frameTime = 1000.0 / 30.0;
        ok = ok && ds.putAndInsertTagKey(DCM_FrameIncrementPointer, DCM_FrameTime).good() &&
             put(ds, DCM_FrameTime, decimal(frameTime));
    }
    ok = ok &&
         ds.putAndInsertUint8Array(DCM_PixelData, pixels.data(), static_cast<unsigned long>(pixels.size()))
             .good();
    if (!ok)
        return fail(error, "cannot build the DICOM data set (" + failedElement + ")");

    Files::AtomicFileWriter writer;
    if (!writer.open(path))
        return fail(error, writer.error());
    writer.closeFd();
    const OFCondition status =
        file.saveFile(writer.temporaryPath().c_str(), EXS_LittleEndianExplicit, EET_ExplicitLength,
                      EGL_recalcGL, EPD_noChange, 0, 0, EWM_createNewMeta);
    if (status.bad())
        return fail(error, "cannot write " + path + ": " + status.text());
    if (!writer.commit())
        return fail(error, writer.error());
    return true;
}

std::unique_ptr<SharedImageSet> load(const std::string& path, std::string* error)
{
    DcmFileFormat file;
    const OFCondition status = file.loadFile(path.c_str());
    if (status.bad()) {
        fail(error, "cannot read " + path + " as DICOM: " + status.text());
        return nullptr;
    }
    DcmDataset& ds = *file.getDataset();
    Uint16 rows = 0;
    Uint16 columns = 0;
    Uint16 samples = 1;
    Uint16 bits = 0;
    Uint16 planar = 0;
    Sint32 frames = 1;
    if (ds.findAndGetUint16(DCM_Rows, rows).bad() || ds.findAndGetUint16(DCM_Columns, columns).bad() ||
        ds.findAndGetUint16(DCM_BitsAllocated, bits).bad()) {
        fail(error, path + ": image size or bit depth missing");
        return nullptr;
    }
    ds.findAndGetUint16(DCM_SamplesPerPixel, samples);
    ds.findAndGetUint16(DCM_PlanarConfiguration, planar);
    ds.findAndGetSint32(DCM_NumberOfFrames, frames);
    if (bits != 8 || (samples != 1 && samples != 3) || rows == 0 || columns == 0 || frames < 1 ||
        planar != 0) {
        fail(error, path + ": only uncompressed 8-bit grey or interleaved RGB frames are read");
        return nullptr;
    }
    const Uint8* data = nullptr;
    unsigned long length = 0;
    if (ds.findAndGetUint8Array(DCM_PixelData, data, &length).bad() || data == nullptr) {
        fail(error, path + ": no uncompressed pixel data");
        return nullptr;
    }
    ImageDescriptor d(ImageDescriptor::kUByte, columns, rows, 1, samples);
    const std::size_t frameBytes = d.byteSize();
    if (length / frameBytes < static_cast<unsigned long>(frames)) {
        fail(error, path + ": pixel data is shorter than its frames");
        return nullptr;
    }
    OFString spacingY;
    OFString spacingX;
    if (ds.findAndGetOFString(DCM_PixelSpacing, spacingY, 0).good() &&
        ds.findAndGetOFString(DCM_PixelSpacing, spacingX, 1).good()) {
        const double sx = std::atof(spacingX.c_str());
        const double sy = std::atof(spacingY.c_str());
        if (sx > 0 && sy > 0)
            d.spacing = Eigen::Vector3d(sx, sy, 1.0);
    }
    std::vector<double> times;
    Float64 delay = 0;
    const bool hasVector = ds.findAndGetFloat64(DCM_FrameTimeVector, delay, 0).good();
    if (hasVector) {
        Float64 start = 0;
        ds.findAndGetFloat64(DCM_FrameDelay, start);
        double t = start;
        for (Sint32 i = 0; i < frames; ++i) {
            Float64 step = 0;
            if (ds.findAndGetFloat64(DCM_FrameTimeVector, step, static_cast<unsigned long>(i)).bad()) {
                times.clear();
                break;
            }
            t = i == 0 ? start : t + step;
            times.push_back(t);
        }
    }

    auto set = std::make_unique<SharedImageSet>();
    OFString text;
    if (ds.findAndGetOFString(DCM_SeriesDescription, text).good())
        set->setName(text.c_str());
    if (ds.findAndGetOFString(DCM_Modality, text).good())
        set->setModality(modalityOf(text.c_str()));
    if (ds.findAndGetOFStringArray(DCM_PatientName, text).good())
        set->properties().setParam("patientName", std::string(text.c_str()));
    set->reserve(static_cast<std::size_t>(frames));
    for (Sint32 i = 0; i < frames; ++i) {
        std::unique_ptr<MemImage> mem = MemImage::create(d, false);
        if (!mem) {
            fail(error, path + ": out of memory");
            return nullptr;
        }
        std::memcpy(mem->data(), data + static_cast<std::size_t>(i) * frameBytes, frameBytes);
        auto frame = std::make_shared<SharedImage>(std::move(mem));
        frame->setModality(set->modality());
        set->add(std::move(frame), times.size() == static_cast<std::size_t>(frames)
                                       ? std::optional<double>(times[static_cast<std::size_t>(i)])
                                       : std::nullopt);
    }
    return set;
}

}  // namespace Corvexis::DicomFile
