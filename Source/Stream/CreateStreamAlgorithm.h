#pragma once

#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Host/Core/DataList.h"
#include "Host/Core/Log.h"
#include "Host/Core/Properties.h"
#include "Stream/Stream.h"
#include "Stream/StreamAlgorithm.h"

namespace Corvexis {

// The plain-algorithm form of a stream source built from selected data: offered for the inputs that
// T::isCompatible accepts, compute() makes a new T(inputs), configures it with the configuration last
// given, and opens and starts it as the flags say. The flags start as openByDefault and
// startByDefault and are read by configure() from "open" (or, when absent, "autoOpen", then "connect")
// and "start" (or, when absent, "autoStart").
//
// T needs `static bool isCompatible(const DataList&)` and a constructor from `const DataList&` that
// copies what it keeps. The inputs are borrowed: they must live until the last compute(). The created
// stream is owned by the algorithm until the host takes the output; a new compute() before that
// replaces it.
//
// Threading: compute, configure, configuration and takeOutput are caller synchronises; stream() is
// thread-safe.
template <typename T, bool openByDefault = true, bool startByDefault = true>
class CreateStreamAlgorithm : public StreamAlgorithm
{
public:
    explicit CreateStreamAlgorithm(const DataList& inputs) : inputs_(inputs) {}
    ~CreateStreamAlgorithm() override
    {
        disconnectAll();
        detachLink();
    }

    // Only for inputs T accepts; creates the algorithm when `algorithm` is given.
    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
    {
        if (!T::isCompatible(inputs))
            return false;
        if (algorithm != nullptr)
            *algorithm = std::make_unique<CreateStreamAlgorithm>(inputs);
        return true;
    }

    const DataList& inputs() const { return inputs_; }

    void compute() override
    {
        // Steps: 1 drop the stream not taken (a taken one is only forgotten), 2 make and configure a
        // new one from the inputs, 3 open and start it as the flags say.
        std::unique_ptr<T> previous;
        {
            std::lock_guard lock(streamMutex_);
            previous = std::move(ownedStream_);
            stream_ = nullptr;
        }
        previous.reset();
        clearOutputTaken();

        T* created = nullptr;
        try {
            auto fresh = std::make_unique<T>(inputs_);
            if (storedConfiguration_)
                fresh->configure(&*storedConfiguration_);
            created = fresh.get();
            std::lock_guard lock(streamMutex_);
            ownedStream_ = std::move(fresh);
            stream_ = created;
        } catch (const std::exception& e) {
            Log::log(Log::Level::Error, "CreateStreamAlgorithm",
                     std::string("Could not instantiate a new Stream: ") + e.what());
            setStatus(Status::Error);
            return;
        }
        bool ok = true;
        try {
            if (open_) {
                ok = created->open();
                if (ok && start_)
                    ok = created->start();
            }
        } catch (const std::exception& e) {
            Log::log(Log::Level::Error, "CreateStreamAlgorithm",
                     std::string("Could not open or start the new Stream: ") + e.what());
            ok = false;
        }
        setStatus(ok ? Status::Success : Status::Error);
        signalOutputChanged.emitSignal();
    }

    void configure(const Properties* properties) override
    {
        StreamAlgorithm::configure(properties);
        if (properties == nullptr)
            return;
        storedConfiguration_ = *properties;
        if (Stream* s = stream())
            s->configure(properties);
        bool flag = false;
        if (properties->getParam("open", flag) || properties->getParam("autoOpen", flag) ||
            properties->getParam("connect", flag))
            open_ = flag;
        if (properties->getParam("start", flag) || properties->getParam("autoStart", flag))
            start_ = flag;
    }

    void configuration(Properties* properties) const override
    {
        if (properties == nullptr)
            return;
        StreamAlgorithm::configuration(properties);
        if (Stream* s = stream()) {
            s->configuration(properties);
            return;
        }
        if (storedConfiguration_)
            mergeInto(*storedConfiguration_, *properties);
    }

    Stream* stream() const override
    {
        std::lock_guard lock(streamMutex_);
        return stream_;
    }
    // The host destroyed the stream it took.
    void resetStream() override
    {
        std::lock_guard lock(streamMutex_);
        stream_ = nullptr;
    }

    bool opensStream() const { return open_; }
    bool startsStream() const { return start_; }

protected:
    std::unique_ptr<Stream> releaseStream() override
    {
        std::lock_guard lock(streamMutex_);
        return std::move(ownedStream_);
    }

private:
    static void mergeInto(const Properties& from, Properties& to)
    {
        for (const auto& key : from.paramNames()) {
            to.setParamText(key, *from.paramText(key));
            for (const auto& [attr, value] : from.paramAttributes(key))
                to.setParamAttribute(key, attr, value);
        }
        for (const Properties* block : from.subProperties())
            to.addSubProperties(std::make_unique<Properties>(*block));
    }

    const DataList inputs_;
    std::optional<Properties> storedConfiguration_;
    bool open_ = openByDefault;
    bool start_ = startByDefault;

    mutable std::mutex streamMutex_;
    // guarded by streamMutex_
    std::unique_ptr<T> ownedStream_;  // until the host takes it
    T* stream_ = nullptr;             // the current stream, owned or taken; null once destroyed
};

}  // namespace Corvexis
