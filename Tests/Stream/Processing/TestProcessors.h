#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "Host/Core/MemImage.h"
#include "Host/Core/Parameter.h"
#include "Host/Lib/Algorithm.h"
#include "Host/Lib/AlgorithmFactory.h"
#include "Host/Lib/FactoryRegistry.h"
#include "Host/Lib/SequentialImageProcessor.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Framework/Stream.h"

namespace Corvexis::Test {

// Adds "amount" to every byte of 8-bit frames; frames whose first byte is in "skipFirstBytes" parity
// (odd when skipOdd is set) give no image. A gate can hold the processing of the next frame until the
// test opens it, to make a slow algorithm without sleeping.
class AddProcessor : public Algorithm, public SequentialImageProcessor
{
public:
    explicit AddProcessor(int initial) : amount("amount", initial, this) {}

    void compute() override { setStatus(Status::Success); }

    std::optional<Result> processImage(const SharedImage& image, const DataComponentList& components) override
    {
        const MemImage* in = image.mem();
        const auto* src = static_cast<const std::uint8_t*>(in->data());
        if (skipOdd.load() && src[0] % 2 == 1)
            return std::nullopt;
        {
            std::unique_lock lock(gateMutex_);
            ++started_;
            gateChanged_.notify_all();
            gateChanged_.wait(lock, [this] { return !gateClosed_; });
        }
        auto out = MemImage::create(in->descriptor(), false);
        auto* dst = static_cast<std::uint8_t*>(out->data());
        const int add = amount.value();
        for (std::size_t i = 0; i < in->byteSize(); ++i)
            dst[i] = static_cast<std::uint8_t>(src[i] + add);
        Result result;
        result.image = std::make_unique<SharedImage>(std::move(out));
        result.components = components;
        processedThreads.push_back(std::this_thread::get_id());
        return result;
    }

    void closeGate()
    {
        std::lock_guard lock(gateMutex_);
        gateClosed_ = true;
    }
    void openGate()
    {
        std::lock_guard lock(gateMutex_);
        gateClosed_ = false;
        gateChanged_.notify_all();
    }
    // Waits until `count` frames reached the gate.
    void waitStarted(int count)
    {
        std::unique_lock lock(gateMutex_);
        gateChanged_.wait(lock, [&] { return started_ >= count; });
    }

    Parameter<int> amount;
    std::atomic<bool> skipOdd{false};
    std::vector<std::thread::id> processedThreads;  // processing thread only

private:
    std::mutex gateMutex_;
    std::condition_variable gateChanged_;
    bool gateClosed_ = false;
    int started_ = 0;
};

// An algorithm that cannot process frames one at a time.
class PlainAlgorithm : public Algorithm
{
public:
    void compute() override { setStatus(Status::Success); }
};

// "Test.Add" (amount 1), "Test.AddTen" (amount 10) and "Test.Plain", registered while it lives. The
// most recently created AddProcessor is kept in `last` (borrowed; owned by whoever created it).
class TestAlgorithmFactory : public AlgorithmFactory
{
public:
    TestAlgorithmFactory() : AlgorithmFactory("Test")
    {
        registerAlgorithm("Add", "Test;Add", [this](const DataList&) { return make(1); });
        registerAlgorithm("AddTen", "Test;Add Ten", [this](const DataList&) { return make(10); });
        registerAlgorithm("Plain", "Test;Plain",
                          [](const DataList&) { return std::make_unique<PlainAlgorithm>(); });
        FactoryRegistry::get().registerAlgorithmFactory(this);
    }
    ~TestAlgorithmFactory() override { FactoryRegistry::get().unregisterAlgorithmFactory(this); }

    std::atomic<AddProcessor*> last{nullptr};
    std::atomic<int> created{0};
    std::atomic<bool> closedGates{false};

private:
    std::unique_ptr<Algorithm> make(int amount)
    {
        auto p = std::make_unique<AddProcessor>(amount);
        if (closedGates.load())
            p->closeGate();
        last.store(p.get());
        created.fetch_add(1);
        return p;
    }
};

// Collects the records a stream emits (thread-safe).
class RecordCollector
{
public:
    explicit RecordCollector(Stream& stream)
    {
        connection_ = stream.signalStreamData.connect([this](std::shared_ptr<const StreamData> data) {
            auto image = std::dynamic_pointer_cast<const ImageStreamData>(data);
            std::lock_guard lock(mutex_);
            records_.push_back(image);
            threads_.push_back(std::this_thread::get_id());
        });
    }
    ~RecordCollector() { connection_.disconnect(); }

    std::vector<std::shared_ptr<const ImageStreamData>> records() const
    {
        std::lock_guard lock(mutex_);
        return records_;
    }
    std::size_t count() const
    {
        std::lock_guard lock(mutex_);
        return records_.size();
    }
    std::vector<std::thread::id> threads() const
    {
        std::lock_guard lock(mutex_);
        return threads_;
    }
    // First byte of the first image of each record.
    std::vector<int> firstBytes() const
    {
        std::vector<int> bytes;
        for (const auto& r : records())
            bytes.push_back(static_cast<const std::uint8_t*>(r->images().front()->mem()->data())[0]);
        return bytes;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<const ImageStreamData>> records_;
    std::vector<std::thread::id> threads_;
    SignalConnection connection_;
};

}  // namespace Corvexis::Test
