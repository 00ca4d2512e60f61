#include "Stream/Framework/ThreadSafeInstruments.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "Host/Core/Log.h"

namespace Corvexis {
namespace {

using Registry = ThreadSafeInstruments<UnusedSpecial>;
constexpr auto kPose = InstrumentModification::PoseData;
constexpr auto kMain = InstrumentModification::MainInstrument;
constexpr auto kSet = InstrumentModification::Instruments;

std::vector<std::string> ids(const Registry& r)
{
    std::vector<std::string> result;
    for (const auto& t : r.instruments())
        result.push_back(t.id.ID());
    return result;
}

bool logged(Log::ScopedCapture& capture, const std::string& text)
{
    return capture.sink().contains(Log::Level::Error, "ThreadSafeInstruments", text);
}

TEST(ThreadSafeInstruments, PrefixNumberingFillsTheSmallestFreeNumber)
{
    Registry r;
    for (int i = 0; i < 3; ++i)
        r.createWithPrefix("P", "n", "m", true);
    EXPECT_EQ(ids(r), (std::vector<std::string>{"P0", "P1", "P2"}));
    r.remove("P1");
    std::string created;
    r.createWithPrefix("P", "again", "m", false, nullptr, &created);
    EXPECT_EQ(created, "P1");
    const auto again = r.find("P1");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->id.name(), "again");
    EXPECT_EQ(again->id.modelNumber(), "m");
    EXPECT_FALSE(again->active);
    // Numbers are decimal without leading zeros and sort byte-wise: P10 comes before P2.
    for (int i = 0; i < 8; ++i)
        r.createWithPrefix("P", "n", "m", true);
    EXPECT_EQ(ids(r).at(2), "P10");
}

TEST(ThreadSafeInstruments, CreateFlagsAndDuplicateRefusal)
{
    Log::ScopedCapture capture;
    Registry r;
    EXPECT_EQ(r.create(TrackerID("b", "B"), true), kSet | kMain);
    EXPECT_EQ(r.mainId(), "b");
    EXPECT_EQ(r.create(TrackerID("c"), true), InstrumentModifications(kSet));
    EXPECT_EQ(r.create(TrackerID("b", "other"), true), InstrumentModifications());
    EXPECT_TRUE(logged(capture, "create: Instrument with ID b already exists"));
    EXPECT_EQ(r.find("b")->id.name(), "B");
    // An instrument sorting before the main one shifts the main's position but not its identity.
    EXPECT_EQ(r.create(TrackerID("a"), true), InstrumentModifications(kSet));
    EXPECT_EQ(r.mainId(), "b");
    EXPECT_EQ(r.mainIndex(), 1u);
}

TEST(ThreadSafeInstruments, RemovingTheMainMovesItToTheFirstRemaining)
{
    Log::ScopedCapture capture;
    Registry r;
    r.create(TrackerID("m", "mid"), true);
    r.create(TrackerID("z", "last"), true);
    r.create(TrackerID("c", "first"), true);
    EXPECT_EQ(r.setMainById("z"), InstrumentModifications(kMain));
    EXPECT_EQ(r.mainIndex(), 2u);
    EXPECT_EQ(r.remove("m"), InstrumentModifications(kSet));  // not main: main stays, index shifts
    EXPECT_EQ(r.mainId(), "z");
    EXPECT_EQ(r.mainIndex(), 1u);
    EXPECT_EQ(r.remove("z"), kSet | kMain);
    EXPECT_EQ(r.mainId(), "c");
    EXPECT_EQ(r.mainName(), "first");
    EXPECT_EQ(r.remove("c"), kSet | kMain);
    EXPECT_EQ(r.mainId(), "");
    EXPECT_EQ(r.mainName(), "");
    EXPECT_FALSE(r.mainInstrument());
    EXPECT_EQ(r.remove("c"), InstrumentModifications());
    EXPECT_TRUE(logged(capture, "remove: Instrument with ID c not found"));
}

TEST(ThreadSafeInstruments, MainSelectionByIndexAndId)
{
    Log::ScopedCapture capture;
    Registry r;
    EXPECT_EQ(r.setMain(0), InstrumentModifications());
    EXPECT_TRUE(logged(capture, "Index 0 exceeds size of instruments"));
    r.create(TrackerID("a"), true);
    r.create(TrackerID("b", "Bee"), true);
    EXPECT_EQ(r.setMain(1), InstrumentModifications(kMain));
    EXPECT_EQ(r.mainId(), "b");
    EXPECT_EQ(r.mainInstrument()->id.name(), "Bee");
    EXPECT_EQ(r.setMain(1), InstrumentModifications());
    EXPECT_EQ(r.setMainById("b"), InstrumentModifications());
    EXPECT_EQ(r.setMainById("x"), InstrumentModifications());
    EXPECT_TRUE(logged(capture, "setMainById: Instrument with ID x not found"));
    EXPECT_EQ(r.setMainById("a"), InstrumentModifications(kMain));
    EXPECT_EQ(r.mainIndex(), 0u);
    EXPECT_EQ(r.clear(), kSet | kMain);
    EXPECT_EQ(r.clear(), InstrumentModifications());
    EXPECT_EQ(r.size(), 0u);
}

TEST(ThreadSafeInstruments, ActivationGivesNoFlagsAndUnknownIdsAreLogged)
{
    Log::ScopedCapture capture;
    Registry r;
    r.create(TrackerID("a"), true);
    r.setActive("a", false);
    EXPECT_FALSE(r.isActive("a"));
    EXPECT_FALSE(r.find("a")->active);
    r.setActive("q", true);
    EXPECT_TRUE(logged(capture, "setActive: Instrument with ID q not found"));
    EXPECT_FALSE(r.isActive("q"));
    EXPECT_TRUE(logged(capture, "isActive: Instrument with ID q not found"));
}

TEST(ThreadSafeInstruments, UpdateAndPrepareUpdate)
{
    Log::ScopedCapture capture;
    Registry r;
    r.create(TrackerID("a"), true);
    r.create(TrackerID("b"), true);
    Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
    pose(0, 3) = 7.0;
    EXPECT_EQ(r.update("a", pose, 0.5, 100, 3), InstrumentModifications(kPose));
    EXPECT_EQ(r.update("a", pose, 0.5, 100, 3), InstrumentModifications(kPose));  // also when unchanged
    EXPECT_EQ(r.update("nope", pose, 0.5, 100, 3), InstrumentModifications());
    EXPECT_TRUE(capture.sink().records().empty());
    const auto a = *r.find("a");
    EXPECT_EQ(a.matrix, pose);
    EXPECT_EQ(a.quality, 0.5);
    EXPECT_EQ(a.timestamp, 100u);
    EXPECT_EQ(a.status, 3);

    EXPECT_EQ(r.prepareUpdate(200), InstrumentModifications(kPose));
    for (const auto& t : r.instruments()) {
        EXPECT_TRUE(t.matrix.isIdentity(0.0));
        EXPECT_EQ(t.quality, 0.0);
        EXPECT_EQ(t.status, 0);
        EXPECT_EQ(t.timestamp, 200u);
    }
    EXPECT_EQ(r.prepareUpdate(200), InstrumentModifications());
}

TEST(ThreadSafeInstruments, ModifyClassifiesAndRefusesIdentifierChanges)
{
    Log::ScopedCapture capture;
    Registry r;
    r.create(TrackerID("a", "m1", "A"), true);
    EXPECT_EQ(r.modify("a", [](TrackingInstrument& t) { t.id.setName("renamed"); }),
              InstrumentModifications(kSet));
    EXPECT_EQ(r.modify("a", [](TrackingInstrument& t) { t.id.setModelNumber("m2"); }),
              InstrumentModifications(kSet));
    EXPECT_EQ(r.modify("a", [](TrackingInstrument& t) { t.status = 4; }), InstrumentModifications(kPose));
    EXPECT_EQ(r.modify("a", [](TrackingInstrument& t) { t.active = false; }), InstrumentModifications());
    EXPECT_EQ(r.modify("a", [](TrackingInstrument&) {}), InstrumentModifications());
    EXPECT_EQ(r.modify("missing", [](TrackingInstrument& t) { t.quality = 1; }), InstrumentModifications());

    const auto before = *r.find("a");
    EXPECT_EQ(r.modify("a",
                       [](TrackingInstrument& t) {
                           t.id.setID("b");
                           t.quality = 0.9;
                       }),
              InstrumentModifications());
    EXPECT_TRUE(logged(capture, "ID must not be modified. TrackingInstrument is reset to state before modification"));
    EXPECT_EQ(*r.find("a"), before);
    EXPECT_FALSE(r.find("b"));

    // A throwing callable leaves the stored instrument as it was.
    EXPECT_THROW(r.modify("a",
                          [](TrackingInstrument& t) {
                              t.quality = 0.1;
                              throw std::runtime_error("no");
                          }),
                 std::runtime_error);
    EXPECT_EQ(*r.find("a"), before);
}

TEST(ThreadSafeInstruments, ModifyAllCombinesTheFlagsOfEveryInstrument)
{
    Log::ScopedCapture capture;
    Registry r;
    r.create(TrackerID("a"), true);
    r.create(TrackerID("b"), true);
    r.create(TrackerID("c"), true);
    std::vector<std::string> visited;
    const auto flags = r.modifyAll([&](const std::string& id, TrackingInstrument& t) {
        visited.push_back(id);
        if (id == "a")
            t.timestamp = 5;
        else if (id == "b")
            t.id.setName("bee");
        else
            t.id.setID("zzz");  // refused, but the others keep their changes
    });
    EXPECT_EQ(flags, kPose | kSet);
    EXPECT_EQ(visited, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(r.find("a")->timestamp, 5u);
    EXPECT_EQ(r.find("b")->id.name(), "bee");
    EXPECT_TRUE(r.find("c"));
    EXPECT_EQ(capture.sink().count(Log::Level::Error, "ThreadSafeInstruments",
                                   "ID must not be modified. TrackingInstrument is reset to state before modification"),
              1u);
    EXPECT_EQ(r.modifyAll([](const std::string&, TrackingInstrument&) {}), InstrumentModifications());
}

TEST(ThreadSafeInstruments, SpecialObjectsLiveAndDieWithTheirInstrument)
{
    struct Counted
    {
        explicit Counted(int& alive) : alive_(alive) { ++alive_; }
        ~Counted() { --alive_; }
        int& alive_;
        int value = 0;
    };
    int alive = 0;
    {
        ThreadSafeInstruments<Counted> r;
        r.create(TrackerID("a"), true, std::make_unique<Counted>(alive));
        r.createWithPrefix("x", "n", "", true, std::make_unique<Counted>(alive));
        EXPECT_EQ(alive, 2);
        bool found = false;
        r.modifyWithSpecial("a", [](TrackingInstrument&, Counted* c) { c->value = 42; }, &found);
        EXPECT_TRUE(found);
        EXPECT_TRUE(r.visit("a", [](const TrackingInstrument&, const Counted* c) { EXPECT_EQ(c->value, 42); }));
        EXPECT_FALSE(r.visit("q", [](const TrackingInstrument&, const Counted*) {}));
        r.remove("a");
        EXPECT_EQ(alive, 1);
    }
    EXPECT_EQ(alive, 0);
}

}  // namespace
}  // namespace Corvexis
