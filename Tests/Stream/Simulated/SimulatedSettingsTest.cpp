// The settings the simulated streams describe must cover every key they write, with defaults that are
// the values of a fresh stream, so that hosts can check settings against them.

#include <gtest/gtest.h>

#include "Host/Core/SettingsSchema.h"
#include "Stream/Simulated/FakeImageStream.h"
#include "Stream/Simulated/FakePolyDataStream.h"
#include "Stream/Simulated/FakeTrackingStream.h"

namespace Corvexis {
namespace {

// Every key and block of `written` is described by `schema`, and every value is accepted by it.
void expectDescribed(const Properties& schema, const Properties& written, const std::string& where)
{
    for (const auto& key : written.paramNames()) {
        ASSERT_TRUE(schema.hasParam(key)) << where << key;
        std::string accepted;
        EXPECT_TRUE(SettingsSchema::accepts(schema, key, *written.paramText(key), &accepted))
            << where << key << "=" << *written.paramText(key) << " (" << accepted << ")";
    }
    for (const Properties* block : written.subProperties()) {
        const Properties* described = schema.subProperties(block->name());
        ASSERT_NE(described, nullptr) << where << block->name();
        if (described->attribute("repeated") != "true") {
            expectDescribed(*described, *block, where + block->name() + ".");
            continue;
        }
        for (const Properties* entry : block->subProperties()) {
            const Properties* kind = described->subProperties(entry->name());
            ASSERT_NE(kind, nullptr) << where << block->name() << "." << entry->name();
            expectDescribed(*kind, *entry, where + block->name() + "." + entry->name() + ".");
        }
    }
}

TEST(SimulatedSettingsTest, ImageStreamDescribesWhatItWrites)
{
    FakeImageStream stream;
    Properties schema;
    stream.describeSettings(&schema);
    Properties written;
    stream.configuration(&written);
    expectDescribed(schema, written, "");
    EXPECT_EQ(*schema.subProperties("descriptor")->paramText("width"), "100");
    EXPECT_EQ(schema.paramAttribute("fps", "min"), "0.1");
    // The limits the host enforces.
    EXPECT_FALSE(SettingsSchema::accepts(schema, "fps", "0"));
    EXPECT_FALSE(SettingsSchema::accepts(*schema.subProperties("descriptor"), "channels", "5"));
    EXPECT_FALSE(SettingsSchema::accepts(schema, "emittedImageRepresentation", "3"));
}

TEST(SimulatedSettingsTest, TrackingStreamDescribesEveryDeviceKind)
{
    FakeTrackingStream stream;
    stream.addDevice(std::make_unique<FakeTrackingStream::OscillatingDevice>());
    stream.addDevice(std::make_unique<FakeTrackingStream::SweepDevice>());
    stream.addDevice(std::make_unique<FakeTrackingStream::ConstantDevice>());
    Properties schema;
    stream.describeSettings(&schema);
    Properties written;
    stream.configuration(&written);
    ASSERT_EQ(written.subProperties("Devices")->subProperties().size(), 3u);
    expectDescribed(schema, written, "");
    EXPECT_EQ(schema.subProperties("Devices")->attribute("repeated"), "true");
}

TEST(SimulatedSettingsTest, PolyDataStreamDescribesWhatItWrites)
{
    FakePolyDataStream stream;
    Properties schema;
    stream.describeSettings(&schema);
    Properties written;
    stream.configuration(&written);
    expectDescribed(schema, written, "");
}

}  // namespace
}  // namespace Corvexis
