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
#include "Stream/StreamIoAlgorithm.h"

namespace Corvexis {

// The input algorithm of any stream class T that can be constructed without arguments: compute()
// makes a new T, configures it with the configuration last given, and opens and starts it as the
// flags say. The flags start as openByDefault and startByDefault and are read by configure() from
// "open" (or, when absent, "autoOpen", then "connect") and "start" (or, when absent, "autoStart").
//
// The created stream is owned by the algorithm until the host takes the output; a new compute()
// before that replaces it. Threading: compute, configure, configuration and takeOutput are caller
// synchronises; stream() is thread-safe.
template <typename T, bool openByDefault, bool startByDefault>
class CreateStreamIoAlgorithm : public StreamIoAlgorithm
{
public:
    CreateStreamIoAlgorithm() = default;
    ~CreateStreamIoAlgorithm() override
    {
        disconnectAll();
        detachLink();
    }

    // Only for an empty input list; creates the algorithm when `algorithm` is given.
    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
    {
        if (!inputs.empty())
            return false;
        if (algorithm != nullptr)
            *algorithm = std::make_unique<CreateStreamIoAlgorithm>();
        return true;
    }

    void compute() override
    {
        // Steps: 1 drop the stream not taken (a taken one is only forgotten), 2 make and configure a
        // new one, 3 open and start it as the flags say.
        std::unique_ptr<T> previous;
        {
            std::lock_guard lock(streamMutex_);
            previous = std::move(ownedStream_);
            stream_ = nullptr;
        }
        previous.reset();
        clearOutputTaken();

        T* created = nullptr;
        bool ok = true;
        try {
            auto fresh = std::make_unique<T>();
            if (storedConfiguration_)
                fresh->configure(&*storedConfiguration_);
            created = fresh.get();
            std::lock_guard lock(streamMutex_);
            ownedStream_ = std::move(fresh);
            stream_ = created;
        } catch (const std::exception& e) {
            Log::log(Log::Level::Error, "CreateStreamIoAlgorithm",
                     std::string("Could not instantiate a new Stream: ") + e.what());
            setStatus(Status::Error);
            return;
        }
        try {
            if (open_) {
                ok = created->open();
                if (ok && start_)
                    ok = created->start();
            }
        } catch (const std::exception& e) {
            Log::log(Log::Level::Error, "CreateStreamIoAlgorithm",
                     std::string("Could not open or start the new Stream: ") + e.what());
            ok = false;
        }
        setStatus(ok ? Status::Success : Status::Error);
        signalOutputChanged.emitSignal();
    }

    void configure(const Properties* properties) override
    {
        StreamIoAlgorithm::configure(properties);
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
        StreamIoAlgorithm::configuration(properties);
        if (Stream* s = stream()) {
            s->configuration(properties);
            return;
        }
        if (!storedConfiguration_)
            return;
        for (const auto& key : storedConfiguration_->paramNames()) {
            properties->setParamText(key, *storedConfiguration_->paramText(key));
            for (const auto& [attr, value] : storedConfiguration_->paramAttributes(key))
                properties->setParamAttribute(key, attr, value);
        }
        for (const Properties* block : storedConfiguration_->subProperties())
            properties->addSubProperties(std::make_unique<Properties>(*block));
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

    bool opensStream() const override { return open_; }
    bool startsStream() const override { return start_; }
    std::unique_ptr<Stream> createPrototypeStream() const override { return std::make_unique<T>(); }

protected:
    std::unique_ptr<Stream> releaseStream() override
    {
        std::lock_guard lock(streamMutex_);
        return std::move(ownedStream_);
    }

private:
    std::optional<Properties> storedConfiguration_;
    bool open_ = openByDefault;
    bool start_ = startByDefault;

    mutable std::mutex streamMutex_;
    // guarded by streamMutex_
    std::unique_ptr<T> ownedStream_;  // until the host takes it
    T* stream_ = nullptr;             // the current stream, owned or taken; null once destroyed
};

}  // namespace Corvexis
