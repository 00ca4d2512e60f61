#pragma once

#include <memory>

#include "Host/Core/DataList.h"
#include "Host/Core/Properties.h"
#include "Stream/Framework/Stream.h"
#include "Stream/Framework/StreamAlgorithm.h"
#include "Stream/Framework/StreamCreation.h"

namespace Corvexis {

// The plain-algorithm form of a stream source built from selected data: offered for the inputs that
// T::isCompatible accepts, compute() makes a new T(inputs), configures it with the configuration last
// given, and opens and starts it as the flags say (StreamCreation: the flags and their keys, ownership
// of the stream).
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
        const std::optional<bool> started =
            creation_.recreate([this] { return std::make_unique<T>(inputs_); },
                               [this] { clearOutputTaken(); }, "CreateStreamAlgorithm");
        setStatus(started.value_or(false) ? Status::Success : Status::Error);
        if (started)
            signalOutputChanged.emitSignal();
    }

    void configure(const Properties* properties) override
    {
        StreamAlgorithm::configure(properties);
        if (properties != nullptr)
            creation_.configure(*properties);
    }

    void configuration(Properties* properties) const override
    {
        if (properties == nullptr)
            return;
        StreamAlgorithm::configuration(properties);
        creation_.configuration(*properties);
    }

    Stream* stream() const override { return creation_.stream(); }
    // The host destroyed the stream it took.
    void resetStream() override { creation_.forget(); }

    bool opensStream() const { return creation_.opens(); }
    bool startsStream() const { return creation_.starts(); }

protected:
    std::unique_ptr<Stream> releaseStream() override { return creation_.release(); }

private:
    const DataList inputs_;
    StreamCreation<T, openByDefault, startByDefault> creation_;
};

}  // namespace Corvexis
