#pragma once

#include <memory>

#include "Host/Core/DataList.h"
#include "Host/Core/Properties.h"
#include "Stream/Framework/Stream.h"
#include "Stream/Framework/StreamCreation.h"
#include "Stream/Framework/StreamIoAlgorithm.h"

namespace Corvexis {

// The input algorithm of any stream class T that can be constructed without arguments: compute()
// makes a new T, configures it with the configuration last given, and opens and starts it as the
// flags say (StreamCreation: the flags and their keys, ownership of the stream).
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
        const std::optional<bool> started = creation_.recreate(
            [] { return std::make_unique<T>(); }, [this] { clearOutputTaken(); }, "CreateStreamIoAlgorithm");
        setStatus(started.value_or(false) ? Status::Success : Status::Error);
        if (started)
            signalOutputChanged.emitSignal();
    }

    void configure(const Properties* properties) override
    {
        StreamIoAlgorithm::configure(properties);
        if (properties != nullptr)
            creation_.configure(*properties);
    }

    // The algorithm's keys, then those of the stream: the current one, else the configuration last
    // given, else a fresh stream's defaults (so that settings given on top of it change only their keys).
    void configuration(Properties* properties) const override
    {
        if (properties == nullptr)
            return;
        StreamIoAlgorithm::configuration(properties);
        if (creation_.stream() == nullptr && !creation_.configured()) {
            T().configuration(properties);
            return;
        }
        creation_.configuration(*properties);
    }

    // The algorithm's keys, "open" and "start" (and their older names), and those of a fresh stream.
    void describeSettings(Properties* schema) const override
    {
        if (schema == nullptr)
            return;
        StreamIoAlgorithm::describeSettings(schema);
        describeCreationFlags(*schema, opensStream(), startsStream());
        T().describeSettings(schema);
    }

    Stream* stream() const override { return creation_.stream(); }
    // The host destroyed the stream it took.
    void resetStream() override { creation_.forget(); }

    bool opensStream() const override { return creation_.opens(); }
    bool startsStream() const override { return creation_.starts(); }
    std::unique_ptr<Stream> createPrototypeStream() const override { return std::make_unique<T>(); }

protected:
    std::unique_ptr<Stream> releaseStream() override { return creation_.release(); }

private:
    StreamCreation<T, openByDefault, startByDefault> creation_;
};

}  // namespace Corvexis
