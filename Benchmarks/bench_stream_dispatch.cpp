// Cost of emitting one record on Stream::signalStreamData to 1, 4 and 16 receivers, including the
// stream's own rate meter (connected to every stream). Each receiver touches the record so the call is
// not optimised away.
//
// Prints FIGURE stream_dispatch_ns_rN <value> ns for N = 1, 4, 16 (ns per emission, all receivers).

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "Stream/Framework/Stream.h"
#include "Stream/Framework/StreamData.h"

using namespace Corvexis;

namespace {

class Record : public StreamData
{
public:
    explicit Record(Stream* s) : StreamData(s) {}
    std::unique_ptr<StreamData> clone() const override { return std::make_unique<Record>(*this); }
};

// A stream that only emits; hooks succeed, no worker thread.
class EmittingStream : public Stream
{
public:
    EmittingStream() : Stream("dispatch") {}
    ~EmittingStream() override { close(); }
    Kind kind() const override { return Kind::ImageStream; }
    ThreadingMode threadingMode() const override { return ThreadingMode::NoWorkerThread; }
    void emit(const std::shared_ptr<const StreamData>& d) { signalStreamData.emitSignal(d); }

protected:
    bool openImpl() override { return true; }
    bool closeImpl() override { return true; }
    bool startImpl() override { return true; }
    bool stopImpl() override { return true; }
    std::optional<WorkContinuation> doWork() override { return std::nullopt; }
};

double measure(int receivers)
{
    EmittingStream stream;
    stream.start();
    std::atomic<std::uint64_t> sink{0};
    std::vector<SignalConnection> connections;
    for (int i = 0; i < receivers; ++i)
        connections.push_back(stream.signalStreamData.connect([&sink](std::shared_ptr<const StreamData> d) {
            sink.fetch_add(d->timestampArrival(), std::memory_order_relaxed);
        }));
    auto record = std::make_shared<Record>(&stream);
    constexpr int kIterations = 400'000;
    double best = 1e300;
    for (int repeat = 0; repeat < 5; ++repeat) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kIterations; ++i) {
            record->setTimestampArrival(static_cast<std::uint64_t>(i) * 33);  // a steady 30 Hz for the meter
            stream.emit(record);
        }
        const double ns =
            std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, ns / kIterations);
    }
    for (auto& c : connections)
        c.disconnect();
    if (sink.load() == 0)
        std::printf("# receivers saw nothing\n");
    return best;
}

}  // namespace

int main()
{
    for (int receivers : {1, 4, 16})
        std::printf("FIGURE stream_dispatch_ns_r%d %.1f ns\n", receivers, measure(receivers));
    return 0;
}
