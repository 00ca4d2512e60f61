#include "Stream/Framework/TrackingStream.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Host/Core/Log.h"
#include "Stream/Framework/TrackingStreamData.h"

namespace Corvexis {
namespace {

// A registry-based tracking stream whose registry and emission the test drives directly.
class RegistryStream : public TrackingStream
{
public:
    explicit RegistryStream(const std::string& name = "tracking") : TrackingStream(name) {}
    ~RegistryStream() override { close(); }

    using TrackingStream::emitSignals;
    using TrackingStream::registry;

    bool renaming = true;
    bool selection = true;
    bool supportsInstrumentRenaming() const override { return renaming; }
    bool supportsMainInstrumentSelection() const override { return selection; }

protected:
    bool openImpl() override { return true; }
    bool closeImpl() override { return true; }
    bool startImpl() override { return true; }
    bool stopImpl() override { return true; }
    std::optional<WorkContinuation> doWork() override { return WorkContinuation{}; }
};

// The old interface: its own list through devices(), an empty registry.
class LegacyStream : public RegistryStream
{
public:
    std::vector<TrackingInstrument> devices() const override
    {
        TrackingInstrument a(TrackerID("dev-a", "A"), true);
        TrackingInstrument b(TrackerID("dev-b", "B"), false);
        return {a, b};
    }
};

// Records every signal of a tracking stream in emission order.
struct SignalLog
{
    explicit SignalLog(TrackingStream& s)
    {
        s.signalInstrumentsChanged.connect([this] { events.push_back("instruments"); });
        s.signalMainInstrumentChanged.connect([this](const std::string& id) { events.push_back("main:" + id); });
        s.signalStreamData.connect([this](const std::shared_ptr<const StreamData>& record) {
            events.push_back("data");
            records.push_back(std::dynamic_pointer_cast<const TrackingStreamData>(record));
        });
    }
    std::vector<std::string> events;
    std::vector<std::shared_ptr<const TrackingStreamData>> records;
};

TEST(TrackingStream, EmitSignalsOrderIsInstrumentsMainThenData)
{
    RegistryStream s;
    SignalLog log(s);
    const auto flags = s.registry().create(TrackerID("t0", "Tool"), true);
    s.emitSignals(flags | InstrumentModification::PoseData);
    EXPECT_EQ(log.events, (std::vector<std::string>{"instruments", "main:t0", "data"}));
    ASSERT_EQ(log.records.size(), 1u);
    ASSERT_TRUE(log.records[0]);
    EXPECT_EQ(log.records[0]->trackingStream(), &s);
    EXPECT_EQ(log.records[0]->instruments().size(), 1u);
    EXPECT_GT(log.records[0]->timestampArrival(), 0u);
    s.emitSignals({});
    EXPECT_EQ(log.events.size(), 3u);
}

TEST(TrackingStream, RenamingAndMainSelectionEmitOnTheCallingThread)
{
    Log::ScopedCapture capture;
    RegistryStream s;
    SignalLog log(s);
    s.registry().create(TrackerID("a", "A"), true);
    s.registry().create(TrackerID("b", "B"), true);
    EXPECT_EQ(s.kind(), Data::Kind::TrackingStream);

    EXPECT_EQ(s.setInstrumentName("b", "Probe"), InstrumentModifications(InstrumentModification::Instruments));
    EXPECT_EQ(s.queryInstrument("b")->id.name(), "Probe");
    EXPECT_EQ(s.setMainInstrumentById("b"), InstrumentModifications(InstrumentModification::MainInstrument));
    EXPECT_EQ(s.mainInstrumentName(), "Probe");
    EXPECT_EQ(s.mainInstrumentIndex(), 1u);
    EXPECT_EQ(s.setMainInstrument(0), InstrumentModifications(InstrumentModification::MainInstrument));
    EXPECT_EQ(s.mainInstrumentId(), "a");
    EXPECT_EQ(log.events, (std::vector<std::string>{"instruments", "main:b", "main:a"}));

    s.renaming = false;
    s.selection = false;
    EXPECT_EQ(s.setInstrumentName("a", "x"), InstrumentModifications());
    EXPECT_EQ(s.setMainInstrument(1), InstrumentModifications());
    EXPECT_EQ(s.setMainInstrumentById("b"), InstrumentModifications());
    EXPECT_TRUE(capture.sink().contains(Log::Level::Error, "TrackingStream",
                                        "Cannot set instrument name. Tracking stream does not support instrument renaming."));
    EXPECT_EQ(capture.sink().count(Log::Level::Error, "TrackingStream",
                                   "Cannot select main instrument. Tracking stream does not support main instrument "
                                   "selection."),
              2u);
    EXPECT_EQ(s.mainInstrumentId(), "a");
    EXPECT_EQ(log.events.size(), 3u);
}

TEST(TrackingStream, ActivationAndCounts)
{
    Log::ScopedCapture capture;
    RegistryStream s;
    s.registry().create(TrackerID("a"), true);
    s.registry().create(TrackerID("b"), true);
    s.setInstrumentActive("b", false);
    EXPECT_FALSE(s.isInstrumentActive("b"));
    EXPECT_TRUE(s.isInstrumentActive("a"));
    EXPECT_EQ(s.numInstruments(false), 2u);
    EXPECT_EQ(s.numInstruments(true), 1u);
    ASSERT_EQ(s.activeInstruments().size(), 1u);
    EXPECT_EQ(s.activeInstruments()[0].id.ID(), "a");
    EXPECT_FALSE(s.isInstrumentActive("zz"));
    EXPECT_TRUE(capture.sink().contains(Log::Level::Error, "TrackingStream", "Instrument with ID zz not found"));
}

TEST(TrackingStream, DescribeCountsInstrumentsBeforeTheStreamDescription)
{
    RegistryStream s;
    const std::string plain = s.describe();
    EXPECT_EQ(plain.find("instruments"), std::string::npos);
    s.registry().create(TrackerID("a"), true);
    s.registry().create(TrackerID("b"), true);
    s.registry().create(TrackerID("c"), true);
    s.setInstrumentActive("c", false);
    EXPECT_EQ(s.describe(), "3 instruments (2 active) | " + plain);
}

TEST(TrackingStream, LegacyInterfaceAnswersFromDevicesAndRefusesRegistryOperations)
{
    Log::ScopedCapture capture;
    LegacyStream s;
    SignalLog log(s);
    EXPECT_EQ(s.numInstruments(false), 2u);
    EXPECT_EQ(s.numInstruments(true), 1u);
    EXPECT_EQ(s.instruments().size(), 2u);
    EXPECT_TRUE(s.isInstrumentActive("dev-a"));
    EXPECT_FALSE(s.isInstrumentActive("dev-b"));

    EXPECT_EQ(s.mainInstrumentId(), "");
    EXPECT_EQ(s.mainInstrumentIndex(), 0u);
    EXPECT_EQ(s.mainInstrumentName(), "");
    s.setInstrumentActive("dev-a", false);
    EXPECT_EQ(s.setInstrumentName("dev-a", "x"), InstrumentModifications());
    EXPECT_EQ(s.setMainInstrument(0), InstrumentModifications());
    EXPECT_EQ(s.setMainInstrumentById("dev-a"), InstrumentModifications());
    for (const char* op : {"mainInstrumentId", "mainInstrumentIndex", "mainInstrumentName", "setInstrumentActive",
                           "setInstrumentName", "setMainInstrument", "setMainInstrumentById"}) {
        EXPECT_EQ(capture.sink().count(Log::Level::Error, "TrackingStream",
                                       std::string(op) + " function is not supported by the old interface!"),
                  1u)
            << op;
    }
    EXPECT_TRUE(log.events.empty());
    EXPECT_EQ(s.registry().size(), 0u);
}

}  // namespace
}  // namespace Corvexis
