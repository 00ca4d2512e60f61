#include "Stream/Framework/StreamForwarder.h"

#include <exception>
#include <utility>

#include "Host/Core/DataDeletionWatch.h"
#include "Host/Core/Log.h"
#include "Stream/Framework/OutStream.h"
#include "Stream/Framework/Stream.h"
#include "Stream/Framework/StreamData.h"

namespace Corvexis {

namespace {
constexpr const char* kCategory = "Stream Forwarder";
}

StreamForwarder::StreamForwarder(Stream& input, OutStream& output) : StreamForwarder(&input, &output) {}

StreamForwarder::StreamForwarder(Stream* input, OutStream* output) : input_(input), output_(output)
{
    if (input_ != nullptr) {
        inputWatch_ = std::make_unique<DataDeletionWatch>(*input_, [this] {
            std::lock_guard lock(mutex_);
            input_ = nullptr;
            attached_ = false;  // the input's signal went with it
            connection_ = {};
        });
    }
    if (output_ != nullptr) {
        outputWatch_ = std::make_unique<DataDeletionWatch>(*output_, [this] {
            std::lock_guard lock(mutex_);
            output_ = nullptr;
        });
    }
}

StreamForwarder::~StreamForwarder()
{
    disconnectAll();
    inputWatch_.reset();
    outputWatch_.reset();
}

bool StreamForwarder::createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
{
    if (inputs.size() != 2)
        return false;
    // An out-stream is a stream too: the input is the item that is not an out-stream.
    auto* out0 = dynamic_cast<OutStream*>(inputs[0]);
    auto* out1 = dynamic_cast<OutStream*>(inputs[1]);
    OutStream* output = out1 ? out1 : out0;
    Data* other = out1 ? inputs[0] : inputs[1];
    auto* input = dynamic_cast<Stream*>(other);
    if (output == nullptr || input == nullptr || static_cast<Stream*>(output) == input)
        return false;
    if (algorithm == nullptr)
        return true;
    try {
        *algorithm = std::make_unique<StreamForwarder>(input, output);
    } catch (const std::exception&) {
        Log::log(Log::Level::Error, kCategory, "StreamForwarder: constructor failed!");
        return false;
    } catch (...) {
        Log::log(Log::Level::Error, kCategory, "Unexpected exception!");
        return false;
    }
    return true;
}

void StreamForwarder::compute()
{
    if (isAttached())
        detach();
    else
        attach();
    setStatus(Status::Success);
}

void StreamForwarder::attach()
{
    std::unique_lock lock(mutex_);
    if (attached_)
        return;
    if (input_ == nullptr) {
        Log::log(Log::Level::Error, kCategory, "Input stream is null");
        return;
    }
    if (output_ == nullptr) {
        Log::log(Log::Level::Error, kCategory, "Output stream is null");
        return;
    }
    // Connecting calls nothing, so it may happen under mutex_.
    connection_ = input_->signalStreamData.connect(
        this, [this](std::shared_ptr<const StreamData> data) { forward(data); });
    attached_ = true;
    const std::string names = namesLocked();
    lock.unlock();
    Log::log(Log::Level::Info, kCategory, "StreamForwarder: " + names + " are attached.");
}

void StreamForwarder::detach()
{
    SignalConnection connection;
    std::string names;
    {
        std::lock_guard lock(mutex_);
        if (!attached_) {
            Log::log(Log::Level::Error, kCategory,
                     "StreamForwarder: " + namesLocked() + " not connected yet");
            return;
        }
        connection = std::exchange(connection_, SignalConnection{});
        attached_ = false;
        names = namesLocked();
    }
    connection.disconnect();
    Log::log(Log::Level::Info, kCategory, "StreamForwarder: " + names + " are NOT attached.");
}

bool StreamForwarder::isAttached() const
{
    std::lock_guard lock(mutex_);
    return attached_;
}

void StreamForwarder::forward(const std::shared_ptr<const StreamData>& data)
{
    std::lock_guard lock(mutex_);
    if (!attached_ || output_ == nullptr || !data)
        return;
    if (output_->currentState() == Stream::State::Running)
        output_->sendStreamData(*data);
}

std::string StreamForwarder::namesLocked() const
{
    const std::string in = input_ ? input_->name() : "[DELETED]";
    const std::string out = output_ ? output_->name() : "[DELETED]";
    return in + " and " + out;
}

}  // namespace Corvexis
