#include "Stream/Video/RemoteVideoStream.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <optional>

#include "Host/Core/Log.h"
#include "Host/Core/PropertiesIO.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Video/ROISettings.h"
#include "Stream/Video/RemoteStreamSettingDouble.h"
#include "Stream/Video/VideoDecoder.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "Stream.RemoteVideoStream";
constexpr auto kWatchPeriod = std::chrono::milliseconds(100);
// Shorter texts on the control channel are heartbeats, never replies.
constexpr std::size_t kMinimumReplyLength = 4;

std::uint64_t nowMs()
{
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count());
}

VideoStreamSettings::Region regionFrom(const Properties& reply, const std::string& prefix)
{
    VideoStreamSettings::Region r;
    reply.getParam(prefix + "x", r.x);
    reply.getParam(prefix + "y", r.y);
    reply.getParam(prefix + "w", r.w);
    reply.getParam(prefix + "h", r.h);
    return r;
}

}  // namespace

// One connection: the decoder and both clients. Destroyed when released; the destructor ends the
// clients first (no packet reaches the decoder any more), then the decoder.
struct RemoteVideoStream::Channels
{
    std::unique_ptr<VideoDecoder> decoder;
    std::unique_ptr<Network::WebsocketClient<ByteBuffer>> video;
    std::unique_ptr<Network::WebsocketClient<std::string>> control;
    SignalConnection decoded;

    ~Channels()
    {
        if (video)
            video->disconnect();
        if (control)
            control->disconnect();
        video.reset();
        control.reset();
        if (decoder && !decoder->stop())
            Log::log(Log::Level::Warning, kCategory, "could not stop VideoDecoder properly");
        decoded.disconnect();
        decoder.reset();
    }
};

RemoteVideoStream::RemoteVideoStream() : ImageStream("Remote Camera Stream")
{
    for (auto* port : {&paramVideoPort, &paramControlPort}) {
        port->setAttribute("min", std::to_string(kMinimumPort));
        port->setAttribute("max", std::to_string(kMaximumPort));
    }
    RemoteSettingsRequester requester = [this](const Properties& message, int timeoutMs) {
        return request(message, timeoutMs);
    };
    exposure_ = std::make_shared<RemoteStreamExposure>(requester);
    framerate_ = std::make_shared<RemoteStreamFramerate>(requester);
    gain_ = std::make_shared<RemoteStreamGain>(requester);
    roi_ = std::make_shared<ROISettings>(requester);
}

RemoteVideoStream::~RemoteVideoStream()
{
    close();
    releaseChannels();
}

std::shared_ptr<RemoteVideoStream::Channels> RemoteVideoStream::channels() const
{
    std::lock_guard lock(channelsMutex_);
    return channels_;
}

bool RemoteVideoStream::isConnected() const
{
    const auto current = channels();
    return current && current->video && current->video->isConnected() && current->control &&
           current->control->isConnected();
}

bool RemoteVideoStream::tryConnect(const std::string& host, int videoPort, int controlPort)
{
    return connectChannels(host, videoPort, controlPort, true);
}

bool RemoteVideoStream::connectChannels(const std::string& host, int videoPort, int controlPort,
                                        bool startStream)
{
    if (videoPort == controlPort) {
        Log::log(Log::Level::Error, kCategory, "video port must be different to control port");
        return false;
    }
    if (videoPort < kMinimumPort || videoPort > kMaximumPort || controlPort < kMinimumPort ||
        controlPort > kMaximumPort) {
        Log::log(Log::Level::Error, kCategory,
                 "video and control port must be between: " + std::to_string(kMinimumPort) + " and " +
                     std::to_string(kMaximumPort));
        return false;
    }

    std::lock_guard connectLock(connectMutex_);
    releaseChannels();
    auto made = std::make_shared<Channels>();
    made->decoder = std::make_unique<VideoDecoder>();
    made->decoder->setUseHardwareAcceleration(useHardwareAcceleration());
    made->decoded = made->decoder->signalImageDecoded.connect(
        [this](std::shared_ptr<SharedImage> image) { onImageDecoded(image); });

    made->video = std::make_unique<Network::WebsocketClient<ByteBuffer>>(host, videoPort);
    VideoDecoder* decoder = made->decoder.get();  // outlives the client: see ~Channels
    made->video->signalMessageReceived.connect([decoder](std::shared_ptr<const ByteBuffer> packet) {
        if (packet)
            decoder->feedByteBuffer(std::make_unique<ByteBuffer>(*packet));
    });
    made->control = std::make_unique<Network::WebsocketClient<std::string>>(host, controlPort);
    made->control->signalMessageReceived.connect([this](std::shared_ptr<const std::string> text) {
        if (text)
            onReceivedControlMessage(*text);
    });

    if (!made->video->connect(kConnectTimeoutMs)) {
        Log::log(Log::Level::Error, kCategory,
                 "could not connect to video channel " + host + ":" + std::to_string(videoPort));
        return false;
    }
    made->decoder->start();
    senderLost_.store(false);
    {
        std::lock_guard lock(channelsMutex_);
        channels_ = made;
    }
    if (startStream)
        startAsync();
    if (!made->control->connect(kConnectTimeoutMs)) {
        Log::log(Log::Level::Error, kCategory,
                 "could not connect to control channel " + host + ":" + std::to_string(controlPort));
        if (startStream)
            stopAsync();
        releaseChannels();
        return false;
    }
    {
        Configurable::ChangeBatch batch(*this);
        paramHost.setValue(host);
        paramVideoPort.setValue(videoPort);
        paramControlPort.setValue(controlPort);
    }
    return true;
}

void RemoteVideoStream::releaseChannels()
{
    std::shared_ptr<Channels> old;
    {
        std::lock_guard lock(channelsMutex_);
        old = std::move(channels_);
    }
    // The last reference ends the clients and the decoder here, or with the request that still uses
    // them.
}

bool RemoteVideoStream::startImpl()
{
    const auto current = channels();
    if (current && current->video && current->video->isConnected())
        return true;  // tryConnect connected first
    return connectChannels(host(), videoPort(), controlPort(), false);
}

bool RemoteVideoStream::closeImpl()
{
    std::lock_guard connectLock(connectMutex_);
    releaseChannels();
    return true;
}

std::optional<Stream::WorkContinuation> RemoteVideoStream::doWork()
{
    const auto current = channels();
    if (current && current->video && !current->video->isConnected() && !senderLost_.exchange(true)) {
        Log::log(
            Log::Level::Error, kCategory,
            "Lost the video channel to " + host() + ":" + std::to_string(videoPort()) + "; no more images");
        signalStreamEnded.emitSignal();
        stopAsync();
    }
    return WorkContinuation{
        std::chrono::time_point_cast<Ticks>(std::chrono::system_clock::now() + kWatchPeriod)};
}

void RemoteVideoStream::onImageDecoded(const std::shared_ptr<SharedImage>& image)
{
    if (!image || senderLost_.load() || currentState() != State::Running)
        return;
    auto record = std::make_shared<ImageStreamData>(this, image);
    const std::uint64_t now = nowMs();
    record->setTimestampArrival(now);
    record->setTimestampDevice(now);
    signalStreamData.emitSignal(std::shared_ptr<const StreamData>(std::move(record)));
}

int RemoteVideoStream::width() const
{
    const auto current = channels();
    return current && current->decoder ? current->decoder->detectedImageSize().x() : -1;
}

int RemoteVideoStream::height() const
{
    const auto current = channels();
    return current && current->decoder ? current->decoder->detectedImageSize().y() : -1;
}

double RemoteVideoStream::estimatedFPS() const
{
    const auto current = channels();
    return current && current->decoder ? current->decoder->estimatedFPS() : 0.0;
}

std::uint64_t RemoteVideoStream::estimatedBytesPerSeconds() const
{
    const auto current = channels();
    return current && current->decoder ? current->decoder->estimatedBytesPerSeconds() : 0;
}

std::string RemoteVideoStream::describe() const
{
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.1f", estimatedFPS());
    return "Remote video with resolution: w:" + std::to_string(width()) + ", h:" + std::to_string(height()) +
           " | FPS:" + rate;
}

void RemoteVideoStream::onReceivedControlMessage(const std::string& text)
{
    if (text.size() < kMinimumReplyLength)
        return;
    if (isStateOneOf({State::Closed, State::Opening, State::Closing}))
        return;
    signalControlReply.emitSignal(text);
}

std::unique_ptr<Properties> RemoteVideoStream::sendMessageAndWaitForReply(const std::string& text,
                                                                          int timeoutMs)
{
    const auto current = channels();
    if (!current || !current->control || !current->control->isConnected()) {
        Log::log(Log::Level::Warning, kCategory, "could not send message, client not connected");
        return nullptr;
    }
    std::lock_guard oneAtATime(requestMutex_);
    Log::log(Log::Level::Debug, kCategory, "sending request message: " + text);

    // One-shot: the first reply after sending is this request's.
    struct Waiter
    {
        std::mutex mutex;
        std::condition_variable arrived;
        std::optional<std::string> reply;
    };
    auto waiter = std::make_shared<Waiter>();
    SignalConnection connection = signalControlReply.connect([waiter](std::string reply) {
        std::lock_guard lock(waiter->mutex);
        if (!waiter->reply) {
            waiter->reply = std::move(reply);
            waiter->arrived.notify_all();
        }
    });
    current->control->sendMessage(text);
    std::optional<std::string> reply;
    {
        std::unique_lock lock(waiter->mutex);
        waiter->arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return waiter->reply.has_value(); });
        reply = waiter->reply;
    }
    connection.disconnect();
    if (!reply)
        return nullptr;
    auto tree = PropertiesIO::loadFromString(*reply);
    if (!tree || tree->name() == "NotImplemented")
        return nullptr;
    return tree;
}

std::unique_ptr<Properties> RemoteVideoStream::request(const Properties& message, int timeoutMs)
{
    return sendMessageAndWaitForReply(PropertiesIO::saveToString(message), timeoutMs);
}

std::any RemoteVideoStream::getSettings(const std::string& name)
{
    if (name == VideoStreamSettings::RegionOfInterest::property_name) {
        const auto reply = request(Properties("roiSettings"), kRequestTimeoutMs);
        if (!reply)
            return {};
        roi_->setLocal(regionFrom(*reply, ""), regionFrom(*reply, "Increment/"),
                       regionFrom(*reply, "Minimum/"), regionFrom(*reply, "Maximum/"));
        return std::shared_ptr<VideoStreamSettings::RegionOfInterest>(roi_);
    }
    const auto numeric = [&](auto& setting) -> bool {
        const auto reply = request(Properties(name + "Settings"), kRequestTimeoutMs);
        if (!reply)
            return false;
        setting->setLocal(reply->param<double>("value", 0.0), reply->param<double>("minimum", 0.0),
                          reply->param<double>("maximum", 0.0));
        return true;
    };
    if (name == VideoStreamSettings::Exposure::property_name && numeric(exposure_))
        return std::shared_ptr<VideoStreamSettings::Exposure>(exposure_);
    if (name == VideoStreamSettings::Framerate::property_name && numeric(framerate_))
        return std::shared_ptr<VideoStreamSettings::Framerate>(framerate_);
    if (name == VideoStreamSettings::Gain::property_name && numeric(gain_))
        return std::shared_ptr<VideoStreamSettings::Gain>(gain_);
    return {};
}

Properties RemoteVideoStream::applySettings(const char* name, const Properties* settings)
{
    Properties message = settings != nullptr ? *settings : Properties();
    message.setName(name);
    auto reply = request(message, kRequestTimeoutMs);
    return reply ? std::move(*reply) : Properties();
}

Properties RemoteVideoStream::tryApplySettings(const Properties* settings)
{
    return applySettings("tryApplySettings", settings);
}

Properties RemoteVideoStream::forceApplySettings(const Properties* settings)
{
    return applySettings("forceApplySettings", settings);
}

void RemoteVideoStream::configuration(Properties* properties) const
{
    if (properties == nullptr)
        return;
    ImageStream::configuration(properties);
    if (!isConnected())
        return;
    // Asking the sender is a request like any other; the const-ness is of this stream's own state.
    auto* self = const_cast<RemoteVideoStream*>(this);
    const auto reply = self->request(Properties("configuration"), kRequestTimeoutMs);
    if (!reply)
        return;
    for (const std::string& key : reply->paramNames())
        properties->setParamText(key, *reply->paramText(key));
    for (const Properties* block : reply->subProperties())
        properties->addSubProperties(std::make_unique<Properties>(*block));
}

void RemoteVideoStream::configure(const Properties* properties)
{
    if (properties == nullptr)
        return;
    const auto current = channels();
    if (!current || !current->control || !current->control->isConnected()) {
        ImageStream::configure(properties);
        return;
    }
    const std::string text = PropertiesIO::saveToString(*properties);
    current->control->sendMessage(text);
    Log::log(Log::Level::Debug, kCategory, "configure received: " + text);
}

}  // namespace Corvexis
