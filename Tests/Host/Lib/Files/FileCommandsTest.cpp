#include "Host/Lib/Files/FileCommands.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "FilesTestData.h"
#include "Host/Core/Log.h"
#include "Host/Lib/Files/CorvexisFile.h"
#include "Host/Lib/Files/CorvexisImage.h"
#include "Host/Lib/Files/DicomFile.h"
#include "Host/Lib/Files/MetaImageExport.h"

namespace Corvexis {
namespace {

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// The "key = value" lines of a MetaImage header.
std::map<std::string, std::string> headerFields(const std::string& file)
{
    std::map<std::string, std::string> fields;
    std::istringstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find(" = ");
        if (eq == std::string::npos)
            break;
        fields[line.substr(0, eq)] = line.substr(eq + 3);
        if (line.rfind("ElementDataFile", 0) == 0)
            break;
    }
    return fields;
}

std::string pythonWithVtk()
{
    for (const char* python : {"/usr/bin/python3", "python3"})
        if (FilesTest::runCommand(std::string(python) + " -c 'import vtk'").status == 0)
            return python;
    return {};
}

std::string hex(const void* data, std::size_t n)
{
    static const char* digits = "0123456789abcdef";
    std::string text;
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < n; ++i) {
        text += digits[p[i] >> 4];
        text += digits[p[i] & 15];
    }
    return text;
}

std::unique_ptr<TrackedSharedImageSet> trackedSet(int pixelType, int channels)
{
    auto tracked =
        std::make_unique<TrackedSharedImageSet>(std::move(*FilesTest::imageSet(pixelType, channels, 3)));
    auto ts = std::make_unique<TrackingSequence>();
    ts->setTrackerId(TrackerID("probe"));
    for (int i = 0; i < 4; ++i) {
        Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
        m(0, 3) = 10.0 * i;
        ts->add(m, 1.0 + i * 0.05, i == 3 ? 0.0 : 1.0);
    }
    tracked->addTracking(std::move(ts));
    return tracked;
}

TEST(MetaImageExport, VtksReaderGivesTheSamePixelsAndTheHeaderHoldsPerFrameTimesAndPoses)
{
    const std::string python = pythonWithVtk();
    if (python.empty())
        GTEST_SKIP() << "no Python with VTK (python3-vtk9) to read the file back";
    FilesTest::TemporaryDirectory dir;
    for (auto [type, channels, vtkType] :
         {std::make_tuple(ImageDescriptor::kUByte, 1, 3), std::make_tuple(ImageDescriptor::kShort, 1, 4),
          std::make_tuple(ImageDescriptor::kUByte, 3, 3)}) {
        const auto set = trackedSet(type, channels);
        const std::string path = dir.file("seq.mha");
        std::string error;
        ASSERT_TRUE(Files::writeMetaImage(*set, nullptr, path, &error)) << error;

        const std::string script =
            "import struct, vtk\n"
            "r = vtk.vtkMetaImageReader()\n"
            "r.SetFileName('" +
            path +
            "')\n"
            "r.Update()\n"
            "o = r.GetOutput()\n"
            "print(*o.GetDimensions(), *o.GetSpacing(), o.GetScalarType(), o.GetNumberOfScalarComponents())\n"
            "a = o.GetPointData().GetScalars()\n"
            "v = [a.GetValue(i) for i in range(a.GetNumberOfValues())]\n"
            "print(struct.pack('<%d%s' % (len(v), {3: 'B', 4: 'h'}[o.GetScalarType()]), *v).hex())\n";
        {
            std::ofstream(dir.file("read.py")) << script;
        }
        const FilesTest::CommandResult r = FilesTest::runCommand(python + " " + dir.file("read.py"));
        ASSERT_EQ(r.status, 0) << r.output;
        std::istringstream lines(r.output);
        std::string shape;
        std::string pixels;
        std::getline(lines, shape);
        std::getline(lines, pixels);
        EXPECT_EQ(shape, "7 5 3 0.25 0.5 1.0 " + std::to_string(vtkType) + " " + std::to_string(channels));
        std::string expected;
        for (int i = 0; i < set->size(); ++i)
            expected += hex(set->get(i)->mem()->data(), set->get(i)->mem()->byteSize());
        EXPECT_EQ(pixels, expected);

        const auto fields = headerFields(readAll(path));
        EXPECT_EQ(fields.at("DimSize"), "7 5 3");
        EXPECT_EQ(fields.at("ElementType"), type == ImageDescriptor::kShort ? "MET_SHORT" : "MET_UCHAR");
        EXPECT_EQ(fields.at("UltrasoundImageOrientation"), "MF");
        // Frame 1 at 1033.3 ms: its pose lies between the samples at 1.0 s and 1.05 s.
        EXPECT_EQ(std::stod(fields.at("Seq_Frame0001_Timestamp")), *set->timestamp(1) / 1000.0);
        const Eigen::Matrix4d pose = set->frameMatrix(1);
        std::istringstream poseText(fields.at("Seq_Frame0001_ProbeToTrackerTransform"));
        for (int k = 0; k < 16; ++k) {
            double v = 0;
            poseText >> v;
            EXPECT_EQ(v, pose(k / 4, k % 4)) << k;
        }
        EXPECT_NEAR(pose(0, 3), 6.66, 1e-9);
        EXPECT_EQ(fields.at("Seq_Frame0001_ProbeToTrackerTransformStatus"), "OK");
        EXPECT_EQ(fields.at("Seq_Frame0002_ImageStatus"), "OK");
        EXPECT_EQ(fields.count("Seq_Frame0003_Timestamp"), 0u);
    }
}

TEST(MetaImageExport, ExportsFromAnyOfTheThreeFormatsAndRefusesVolumes)
{
    FilesTest::TemporaryDirectory dir;
    const auto set = trackedSet(ImageDescriptor::kUByte, 1);
    CorvexisFile file;
    ASSERT_TRUE(file.save(DataList{set.get()}, dir.file("in.cvx")));
    std::ostringstream out;
    std::string error;
    ASSERT_TRUE(Files::exportMetaImage(dir.file("in.cvx"), dir.file("out.mha"), out, &error)) << error;
    EXPECT_EQ(out.str(), "wrote " + dir.file("out.mha") + ": 3 frames with the poses of \"probe\"\n");
    EXPECT_EQ(headerFields(readAll(dir.file("out.mha"))).count("Seq_Frame0002_ProbeToTrackerTransform"), 1u);

    CorvexisImage live;
    ASSERT_TRUE(live.open(dir.file("live.bin"), *set, true));
    for (int i = 0; i < set->size(); ++i)
        live.append(*set->get(i), set->timestamp(i));
    ASSERT_TRUE(live.close());
    ASSERT_TRUE(Files::exportMetaImage(dir.file("live.bin"), dir.file("live.mha"), out, &error)) << error;
    EXPECT_EQ(headerFields(readAll(dir.file("live.mha"))).count("Seq_Frame0000_ProbeToTrackerTransform"), 0u);

    const auto volume = FilesTest::imageSet(ImageDescriptor::kUShort, 1, 1, 3);
    EXPECT_FALSE(Files::writeMetaImage(*volume, nullptr, dir.file("v.mha"), &error));
    EXPECT_NE(error.find("2-D"), std::string::npos);
    EXPECT_FALSE(Files::exportMetaImage(dir.file("absent.cvx"), dir.file("x.mha"), out, &error));
    EXPECT_NE(error.find("absent.cvx"), std::string::npos);
}

TEST(FileCommands, DescribeNamesItemsTimesDamageAndInterruptedRecordings)
{
    Log::ScopedCapture quiet;
    FilesTest::TemporaryDirectory dir;
    OwningDataList items;
    items.add(FilesTest::imageSet(ImageDescriptor::kUByte, 1, 4));
    items.add(FilesTest::trackingSequence(31));
    items.add(FilesTest::mesh());
    ByteBuffer bytes;
    CorvexisFile file;
    ASSERT_TRUE(file.save(items.dataList(), bytes));
    // Damage the mesh (the last item, just before the 28-byte end chunk).
    bytes[bytes.size() - 28 - 10] ^= 1;
    {
        std::ofstream(dir.file("d.cvx"), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::ostringstream out;
    std::string error;
    ASSERT_TRUE(Files::describeFile(dir.file("d.cvx"), out, &error)) << error;
    const std::string text = out.str();
    EXPECT_NE(text.find("data file, format 1.0"), std::string::npos) << text;
    EXPECT_NE(text.find("item 0: Image Set \"set UByte\""), std::string::npos) << text;
    EXPECT_NE(text.find("frames 4, 7 x 5 x 1, 1 channel, UByte"), std::string::npos) << text;
    EXPECT_NE(text.find("times 1.000 - 1.100 s, mean rate 30.03 Hz"), std::string::npos) << text;
    EXPECT_NE(
        text.find("instrument \"probe-1\" (Probe): 31 samples, times 10.000 - 11.000 s, mean rate 30.00 Hz"),
        std::string::npos)
        << text;
    EXPECT_NE(text.find("item 2: DAMAGED mesh at offset"), std::string::npos) << text;

    // A live file whose recording was interrupted.
    CorvexisImage live;
    const auto set = FilesTest::imageSet(ImageDescriptor::kUByte, 1, 2);
    ASSERT_TRUE(live.open(dir.file("l.bin"), *set, false));
    live.append(*set->get(0), 0.0);
    out.str("");
    ASSERT_TRUE(Files::describeFile(dir.file("l.bin.part"), out, &error)) << error;
    EXPECT_NE(out.str().find("live image file"), std::string::npos);
    EXPECT_NE(out.str().find("NOT CLOSED"), std::string::npos);
    EXPECT_NE(out.str().find("frames 1"), std::string::npos) << out.str();
    live.close();

    ASSERT_TRUE(DicomFile::save(*set, dir.file("x.dcm"), "Roe^Rita"));
    out.str("");
    ASSERT_TRUE(Files::describeFile(dir.file("x.dcm"), out, &error)) << error;
    EXPECT_NE(out.str().find("DICOM file"), std::string::npos);
    EXPECT_NE(out.str().find("Roe^Rita"), std::string::npos);
    EXPECT_NE(out.str().find("frames 2"), std::string::npos);

    {
        std::ofstream(dir.file("junk")) << "GIF89a this is not ours at all";
    }
    EXPECT_FALSE(Files::describeFile(dir.file("junk"), out, &error));
    EXPECT_NE(error.find("is not a data file"), std::string::npos);
    EXPECT_FALSE(Files::describeFile(dir.file("missing.cvx"), out, &error));
    EXPECT_NE(error.find("No such file"), std::string::npos);
    bytes[9] = 7;  // major version 7 << 8
    {
        std::ofstream(dir.file("newer.cvx"), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), 64);
    }
    EXPECT_FALSE(Files::describeFile(dir.file("newer.cvx"), out, &error));
    EXPECT_NE(error.find("newer"), std::string::npos) << error;
}

}  // namespace
}  // namespace Corvexis
