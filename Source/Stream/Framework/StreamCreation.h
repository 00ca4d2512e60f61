#pragma once

#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Host/Core/Log.h"
#include "Host/Core/Properties.h"
#include "Stream/Framework/Stream.h"

namespace Corvexis {

// What the algorithms that create a stream of class T have in common: the stream they made (owned until
// the host takes it), the configuration last given, and the open and start flags. The flags start as
// openByDefault and startByDefault and are read by configure() from "open" (or, when absent,
// "autoOpen", then "connect") and "start" (or, when absent, "autoStart").
//
// Threading: recreate, configure, configuration and release are caller synchronises (the algorithm's
// thread); stream() and forget() are thread-safe (streamMutex_ guards the two stream pointers).
template <typename T, bool openByDefault, bool startByDefault>
class StreamCreation
{
public:
    // Steps: 1 drop the stream not taken (a taken one is only forgotten) and call `released`, 2 make a new
    // one with `make` and configure it, 3 open and start it as the flags say. Empty when step 2 threw
    // (logged under `category`); otherwise whether every requested step of 3 succeeded.
    template <typename Make, typename Released>
    std::optional<bool> recreate(Make&& make, Released&& released, const char* category)
    {
        std::unique_ptr<T> previous;
        {
            std::lock_guard lock(streamMutex_);
            previous = std::move(ownedStream_);
            stream_ = nullptr;
        }
        previous.reset();
        released();

        T* created = nullptr;
        try {
            std::unique_ptr<T> fresh = make();
            if (storedConfiguration_)
                fresh->configure(&*storedConfiguration_);
            created = fresh.get();
            std::lock_guard lock(streamMutex_);
            ownedStream_ = std::move(fresh);
            stream_ = created;
        } catch (const std::exception& e) {
            Log::log(Log::Level::Error, category,
                     std::string("Could not instantiate a new Stream: ") + e.what());
            return std::nullopt;
        }
        bool ok = true;
        try {
            if (open_) {
                ok = created->open();
                if (ok && start_)
                    ok = created->start();
            }
        } catch (const std::exception& e) {
            Log::log(Log::Level::Error, category,
                     std::string("Could not open or start the new Stream: ") + e.what());
            ok = false;
        }
        return ok;
    }

    // Stores a copy, configures the current stream with it, and reads the flags.
    void configure(const Properties& properties)
    {
        storedConfiguration_ = properties;
        if (T* s = stream())
            s->configure(&properties);
        bool flag = false;
        if (properties.getParam("open", flag) || properties.getParam("autoOpen", flag) ||
            properties.getParam("connect", flag))
            open_ = flag;
        if (properties.getParam("start", flag) || properties.getParam("autoStart", flag))
            start_ = flag;
    }

    // The current stream's configuration, or else the stored copy.
    void configuration(Properties& properties) const
    {
        if (T* s = stream()) {
            s->configuration(&properties);
            return;
        }
        if (!storedConfiguration_)
            return;
        for (const auto& key : storedConfiguration_->paramNames()) {
            properties.setParamText(key, *storedConfiguration_->paramText(key));
            for (const auto& [attr, value] : storedConfiguration_->paramAttributes(key))
                properties.setParamAttribute(key, attr, value);
        }
        for (const Properties* block : storedConfiguration_->subProperties())
            properties.addSubProperties(std::make_unique<Properties>(*block));
    }

    // The current stream, owned or taken; null before the first one and once the host destroyed it.
    T* stream() const
    {
        std::lock_guard lock(streamMutex_);
        return stream_;
    }
    // The host destroyed the stream it took.
    void forget()
    {
        std::lock_guard lock(streamMutex_);
        stream_ = nullptr;
    }
    // Hands the stream over (the pointer stays current until forget()).
    std::unique_ptr<Stream> release()
    {
        std::lock_guard lock(streamMutex_);
        return std::move(ownedStream_);
    }

    // Whether configure() was called.
    bool configured() const { return storedConfiguration_.has_value(); }
    bool opens() const { return open_; }
    bool starts() const { return start_; }

private:
    std::optional<Properties> storedConfiguration_;
    bool open_ = openByDefault;
    bool start_ = startByDefault;

    mutable std::mutex streamMutex_;
    // guarded by streamMutex_
    std::unique_ptr<T> ownedStream_;  // until the host takes it
    T* stream_ = nullptr;
};

}  // namespace Corvexis
