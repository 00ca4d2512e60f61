#include "Stream/Video/LiveStreamingAlgorithm.h"

#include <algorithm>
#include <any>
#include <chrono>
#include <cstring>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/Core/Properties.h"
#include "Host/Core/PropertiesIO.h"
#include "Host/GL/GlImage.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/Framework/ImageStream.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Framework/StreamFps.h"
#include "Stream/Video/VideoCameraStream.h"
#include "Stream/Video/VideoStreamSettings.h"

namespace Corvexis {

namespace {

constexpr const char* kCategory = "Stream.LiveStreamingAlgorithm";
constexpr auto kHeartbeatPeriod = std::chrono::milliseconds(100);
constexpr const char* kNotImplemented = "NotImplemented";

void logAt(Log::Level level, const std::string& text)
{
    Log::log(level, kCategory, text);
}

std::string endpoint(const std::string& address, int port)
{
    return address + ":" + std::to_string(port);
}

bool isNvenc(VideoEncoder::Codec codec)
{
    return codec == VideoEncoder::Codec::HevcNvenc || codec == VideoEncoder::Codec::H264Nvenc ||
           codec == VideoEncoder::Codec::Av1Nvenc;
}

// A main-memory copy of the image for the encoder. A graphics-card-only image is downloaded once; for
// the nvenc encoders it is widened to RGBA, which they take without a colour conversion.
std::unique_ptr<MemImage> encoderCopy(const SharedImage& image, VideoEncoder::Codec codec)
{
    if (image.hasGl() && !image.hasMem() && image.gl() != nullptr) {
        auto downloaded = image.gl()->download();
        if (!downloaded || downloaded->channels() == 4 || !isNvenc(codec))
            return downloaded;
        ImageDescriptor rgba = downloaded->descriptor();
        rgba.channels = 4;
        auto widened = MemImage::create(rgba, false);
        const auto* from = static_cast<const std::uint8_t*>(downloaded->data());
        auto* to = static_cast<std::uint8_t*>(widened->data());
        const std::size_t pixels =
            static_cast<std::size_t>(rgba.width) * static_cast<std::size_t>(rgba.height);
        for (std::size_t i = 0; i < pixels; ++i) {
            std::memcpy(to + 4 * i, from + 3 * i, 3);
            to[4 * i + 3] = 255;
        }
        return widened;
    }
    const MemImage* mem = image.mem();  // brings a graphics-card image to main memory
    return mem != nullptr ? mem->clone() : nullptr;
}

// Copies the parameters and sub-blocks of `from` into `to` (same keys replaced).
void copyInto(const Properties& from, Properties& to)
{
    for (const std::string& key : from.paramNames())
        to.setParamText(key, *from.paramText(key));
    for (const Properties* block : from.subProperties())
        to.addSubProperties(std::make_unique<Properties>(*block));
}

}  // namespace

LiveStreamingAlgorithm::LiveStreamingAlgorithm(ImageStream& input)
    : rateMeter_(std::make_unique<StreamFps>()), input_(&input)
{
    for (auto* port : {&paramVideoPort, &paramControlPort}) {
        port->setAttribute("min", std::to_string(kMinimumPort));
        port->setAttribute("max", std::to_string(kMaximumPort));
    }
    paramPreset.setAttribute("min", "0");
    paramPreset.setAttribute("max", "2");
    paramPreset.setAttribute("values", "Low Latency, Balanced, High Quality");
    paramCodec.setAttribute("min", "0");
    paramCodec.setAttribute("max", "6");
    paramCodec.setAttribute("values",
                            "hevc_nvenc, hevc_qsv, h264_nvenc, h264_qsv, av1_nvenc, libaom-av1, mpeg4");

    rateMeter_->setNumberOfFrames(60);
    rateMeter_->setUpdateInterval(2.0);
    rateMeter_->setRounding(1);
    rateMeter_->connect(&input);

    encoder_ = std::make_unique<VideoEncoder>([this](std::unique_ptr<ByteBuffer> packet, bool) {
        // Sent as soon as encoded; the first-after-configuration flag is not needed by the receiver,
        // which follows the sizes in the packet headers.
        if (auto* server = videoSink_.load(); server != nullptr && packet)
            server->sendMessage(std::move(*packet));
    });

    dataConnection_ = input.signalStreamData.connect(
        [this](std::shared_ptr<const StreamData> data) { onStreamData(data); });
    // A reconfigured input may change the image size; the encoder follows at its next frame.
    parametersConnection_ = input.signalParametersChanged.connect([this] {
        if (streaming_.load())
            encoder_->restartEncoder();
    });
    destroyedConnection_ = input.signalAboutToBeDestroyed.connect([this] {
        std::lock_guard lock(inputMutex_);
        input_ = nullptr;
    });
}

LiveStreamingAlgorithm::~LiveStreamingAlgorithm()
{
    stopServers();
    disconnectInput();
    encoder_.reset();
}

void LiveStreamingAlgorithm::disconnectInput()
{
    dataConnection_.disconnect();
    parametersConnection_.disconnect();
    destroyedConnection_.disconnect();
    std::lock_guard lock(inputMutex_);
    if (input_ != nullptr)
        rateMeter_->disconnect(input_);
}

bool LiveStreamingAlgorithm::createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
{
    if (inputs.size() != 1)
        return false;
    auto* stream = dynamic_cast<ImageStream*>(inputs[0]);
    if (stream == nullptr || stream->kind() != Data::Kind::ImageStream)
        return false;
    if (algorithm != nullptr)
        *algorithm = std::make_unique<LiveStreamingAlgorithm>(*stream);
    return true;
}

bool LiveStreamingAlgorithm::setVideoTransferPort(int port)
{
    if (port < kMinimumPort || port > kMaximumPort) {
        logAt(Log::Level::Error, "Video port value should be between: " + std::to_string(kMinimumPort) +
                                     " and " + std::to_string(kMaximumPort));
        return false;
    }
    paramVideoPort.setValue(port);
    return true;
}

bool LiveStreamingAlgorithm::setControlTransferPort(int port)
{
    if (port < kMinimumPort || port > kMaximumPort) {
        logAt(Log::Level::Error, "Control port value should be between: " + std::to_string(kMinimumPort) +
                                     " and " + std::to_string(kMaximumPort));
        return false;
    }
    paramControlPort.setValue(port);
    return true;
}

void LiveStreamingAlgorithm::configure(const Properties* properties)
{
    if (properties == nullptr)
        return;
    Properties rest(*properties);
    int port = 0;
    if (rest.getParam("VideoPort", port))
        setVideoTransferPort(port);
    rest.removeParam("VideoPort");
    if (rest.getParam("ControlPort", port))
        setControlTransferPort(port);
    rest.removeParam("ControlPort");
    Algorithm::configure(&rest);
}

bool LiveStreamingAlgorithm::isServerRunning() const
{
    const auto* video = videoSink_.load();
    const auto* control = controlSink_.load();
    return video != nullptr && control != nullptr && video->isRunning() && control->isRunning();
}

int LiveStreamingAlgorithm::listeningVideoPort() const
{
    const auto* video = videoSink_.load();
    return video != nullptr ? video->localPort() : 0;
}

int LiveStreamingAlgorithm::listeningControlPort() const
{
    const auto* control = controlSink_.load();
    return control != nullptr ? control->localPort() : 0;
}

void LiveStreamingAlgorithm::compute()
{
    if (streaming_.load()) {
        logAt(Log::Level::Warning, "currently streaming ... cannot start a new stream");
        return;
    }
    if (videoTransferPort() == controlTransferPort()) {
        logAt(Log::Level::Error, "Video port must be different to control port");
        setStatus(Status::Error);
        return;
    }
    if (!videoServer_) {
        videoServer_ = std::make_unique<Network::WebsocketServer<ByteBuffer>>(host(), videoTransferPort(), 1);
        videoServer_->signalClientStateChanged.connect(
            [this](bool connected, std::string address, int port, bool* refuse) {
                onVideoClientStateChanged(connected, address, port, refuse);
            });
        videoSink_.store(videoServer_.get());
    }
    if (!controlServer_) {
        controlServer_ =
            std::make_unique<Network::WebsocketServer<std::string>>(host(), controlTransferPort(), 1);
        controlServer_->signalClientStateChanged.connect(
            [this](bool connected, std::string address, int port, bool* refuse) {
                onControlClientStateChanged(connected, address, port, refuse);
            });
        controlServer_->signalMessageReceived.connect([this](std::shared_ptr<const std::string> text) {
            if (text)
                onReceiveMessage(*text);
        });
        controlSink_.store(controlServer_.get());
    }
    const bool videoRuns = videoServer_->run();
    const bool controlRuns = controlServer_->run();
    setStatus(videoRuns && controlRuns ? Status::Success : Status::Error);
}

void LiveStreamingAlgorithm::stopServers()
{
    // Stopping a server ends its sessions, whose disconnection handlers stop streaming on the network
    // thread; the call below covers a stream whose client never left.
    if (videoServer_)
        videoServer_->stop();
    if (controlServer_)
        controlServer_->stop();
    {
        std::lock_guard lock(clientsMutex_);
        stopStreaming();
        videoClient_ = {};
        controlClient_ = {};
    }
    // Encoder and heartbeat are joined: nothing reaches the servers through the sinks any more.
    videoSink_.store(nullptr);
    controlSink_.store(nullptr);
    videoServer_.reset();
    controlServer_.reset();
}

void LiveStreamingAlgorithm::onVideoClientStateChanged(bool connected, const std::string& address, int port,
                                                       bool* refuse)
{
    const std::string who = "Video client " + endpoint(address, port);
    std::lock_guard lock(clientsMutex_);
    if (connected) {
        if (streaming_.load()) {
            logAt(Log::Level::Warning,
                  who + " is trying to connect while we are streaming. Ignoring request.");
            if (refuse != nullptr)
                *refuse = true;
            return;
        }
        if (videoClient_.port != -1) {
            logAt(Log::Level::Warning,
                  who + " is trying to connect, but another client is already registered. Ignoring request.");
            if (refuse != nullptr)
                *refuse = true;
            return;
        }
        logAt(Log::Level::Info, "Starting streaming to video client " + endpoint(address, port));
        if (startStreaming())
            videoClient_ = {address, port};
        else if (refuse != nullptr)
            *refuse = true;  // nobody to serve: the client learns at once instead of waiting for frames
        return;
    }
    if (videoClient_.port == port && videoClient_.address == address) {
        logAt(Log::Level::Warning, who + " disconnected. Stopping streaming.");
        stopStreaming();
        videoClient_ = {};
        return;
    }
    logAt(Log::Level::Info, "Ignoring disconnection from video client " + endpoint(address, port) +
                                " which we are not streaming to");
}

void LiveStreamingAlgorithm::onControlClientStateChanged(bool connected, const std::string& address, int port,
                                                         bool* refuse)
{
    const std::string who = "Control client " + endpoint(address, port);
    std::lock_guard lock(clientsMutex_);
    if (connected) {
        if (controlClient_.port != -1) {
            logAt(Log::Level::Warning,
                  who + " is trying to connect, but another client is already registered. Ignoring request.");
            if (refuse != nullptr)
                *refuse = true;
            return;
        }
        logAt(Log::Level::Info, "Established control channel to remote host: " + endpoint(address, port));
        controlClient_ = {address, port};
        return;
    }
    if (controlClient_.port == port && controlClient_.address == address) {
        logAt(Log::Level::Warning, who + " disconnected.");
        controlClient_ = {};
        return;
    }
    logAt(Log::Level::Info, "Ignoring disconnection from control client " + endpoint(address, port) +
                                " which we are not streaming to");
}

// Both below: caller holds clientsMutex_.
bool LiveStreamingAlgorithm::startStreaming()
{
    if (streaming_.load())
        return false;
    const int rate = std::clamp(static_cast<int>(rateMeter_->fps()), 1, 999);
    if (!encoder_->start(encoderId(), rate, preset())) {
        logAt(Log::Level::Warning, "failed to start encoder for streaming");
        return false;
    }
    logAt(Log::Level::Info, "start streaming: Host: " + host() + " | FPS: " + std::to_string(rate) +
                                " | Video Port: " + std::to_string(videoTransferPort()) +
                                " | Control Port: " + std::to_string(controlTransferPort()) +
                                " | preset: " + std::to_string(static_cast<int>(preset())));
    {
        std::lock_guard heartbeatLock(heartbeatMutex_);
        streaming_.store(true);
    }
    if (!heartbeatThread_.joinable())
        heartbeatThread_ = std::thread([this] { heartbeatControlChannelLoop(); });
    return true;
}

void LiveStreamingAlgorithm::stopStreaming()
{
    if (!streaming_.load() && !heartbeatThread_.joinable())
        return;
    logAt(Log::Level::Info, "stopped streaming: Host: " + host() +
                                " | Video Port: " + std::to_string(videoTransferPort()) +
                                " | Control Port: " + std::to_string(controlTransferPort()));
    {
        std::lock_guard frameLock(frameMutex_);
        std::lock_guard heartbeatLock(heartbeatMutex_);
        streaming_.store(false);
    }
    heartbeatWake_.notify_all();
    encoder_->stop();
    if (heartbeatThread_.joinable())
        heartbeatThread_.join();
}

void LiveStreamingAlgorithm::heartbeatControlChannelLoop()
{
    logAt(Log::Level::Debug, "Heartbeat signaling started");
    std::unique_lock lock(heartbeatMutex_);
    while (streaming_.load()) {
        lock.unlock();
        if (auto* control = controlSink_.load())
            control->sendMessage("a");
        lock.lock();
        heartbeatWake_.wait_for(lock, kHeartbeatPeriod, [this] { return !streaming_.load(); });
    }
    logAt(Log::Level::Debug, "Heartbeat signaling stop");
}

void LiveStreamingAlgorithm::onStreamData(const std::shared_ptr<const StreamData>& data)
{
    std::lock_guard lock(frameMutex_);
    if (!streaming_.load())
        return;
    const auto* record = dynamic_cast<const ImageStreamData*>(data.get());
    if (record == nullptr) {
        logAt(Log::Level::Error, "LiveStreamingAlgorithm: received data is not of type ImageStreamData");
        return;
    }
    const auto images = record->images();
    if (images.empty() || !images.front())
        return;
    const SharedImage& image = *images.front();
    if (image.slices() != 1) {
        logAt(Log::Level::Warning, "Ignoring images with multiple slices");
        return;
    }
    if (image.pixelType() != ImageDescriptor::kUByte) {
        logAt(Log::Level::Warning, "Ignoring non-8bit image");
        return;
    }
    if (image.channels() != 3 && image.channels() != 4) {
        logAt(Log::Level::Error, "Only image with 3 or 4 channels are supported");
        return;
    }
    encoder_->feedFrame(encoderCopy(image, encoderId()));
}

void LiveStreamingAlgorithm::sendControl(const Properties& reply)
{
    if (auto* control = controlSink_.load())
        control->sendMessage(PropertiesIO::saveToString(reply));
}

void LiveStreamingAlgorithm::onReceiveMessage(const std::string& text)
{
    std::string error;
    const auto request = PropertiesIO::loadFromString(text, &error);
    if (!request) {
        logAt(Log::Level::Warning, "Ignoring malformed control message: " + error);
        return;
    }
    if (auto reply = answerRequest(*request))
        sendControl(*reply);
}

std::unique_ptr<Properties> LiveStreamingAlgorithm::answerRequest(const Properties& request)
{
    using namespace VideoStreamSettings;
    const std::string& name = request.name();
    auto reply = std::make_unique<Properties>(kNotImplemented);

    std::lock_guard lock(inputMutex_);
    if (input_ == nullptr)
        return reply;
    auto* camera = dynamic_cast<VideoCameraStream*>(input_);

    auto numeric = [&](const std::string& setting) -> std::shared_ptr<VideoCameraSettingDouble> {
        if (camera == nullptr)
            return nullptr;
        const std::any found = camera->getSettings(setting);
        if (setting == Exposure::property_name) {
            if (auto* p = std::any_cast<std::shared_ptr<Exposure>>(&found))
                return *p;
        } else if (setting == Framerate::property_name) {
            if (auto* p = std::any_cast<std::shared_ptr<Framerate>>(&found))
                return *p;
        } else if (setting == Gain::property_name) {
            if (auto* p = std::any_cast<std::shared_ptr<Gain>>(&found))
                return *p;
        }
        return nullptr;
    };
    auto region = [&]() -> std::shared_ptr<RegionOfInterest> {
        if (camera == nullptr)
            return nullptr;
        const std::any found = camera->getSettings(RegionOfInterest::property_name);
        if (auto* p = std::any_cast<std::shared_ptr<RegionOfInterest>>(&found))
            return *p;
        return nullptr;
    };
    const std::string settingNames[] = {Exposure::property_name, Framerate::property_name,
                                        Gain::property_name};

    if (name == "configuration") {
        reply = std::make_unique<Properties>("configuration");
        input_->configuration(reply.get());
        return reply;
    }
    if (name == "roiSettings") {
        if (auto roi = region()) {
            reply = std::make_unique<Properties>("roiSettings");
            const auto put = [&](const std::string& prefix, const Region& r) {
                reply->setParam(prefix + "x", r.x);
                reply->setParam(prefix + "y", r.y);
                reply->setParam(prefix + "w", r.w);
                reply->setParam(prefix + "h", r.h);
            };
            put("", roi->region());
            put("Increment/", roi->increment());
            put("Maximum/", roi->maximum());
            put("Minimum/", roi->minimum());
        }
        return reply;
    }
    for (const std::string& setting : settingNames) {
        if (name != setting + "Settings")
            continue;
        if (auto control = numeric(setting)) {
            reply = std::make_unique<Properties>(name);
            reply->setParam("value", control->value());
            reply->setParam("minimum", control->minimum());
            reply->setParam("maximum", control->maximum());
        }
        return reply;
    }
    if (name == "setRoiSettings") {
        if (auto roi = region()) {
            Region wanted;
            const bool complete = request.getParam("x", wanted.x) && request.getParam("y", wanted.y) &&
                                  request.getParam("w", wanted.w) && request.getParam("h", wanted.h);
            reply = std::make_unique<Properties>(name +
                                                 (complete && roi->setRegion(wanted) ? "Success" : "Failed"));
        }
        return reply;
    }
    for (const std::string& setting : settingNames) {
        if (name != "set" + setting)
            continue;
        if (auto control = numeric(setting)) {
            double value = 0.0;
            const bool done = request.getParam("value", value) && control->setValue(value);
            reply = std::make_unique<Properties>(name + (done ? "Success" : "Failed"));
        }
        return reply;
    }
    if (name == "tryApplySettings" || name == "forceApplySettings") {
        if (camera != nullptr) {
            Properties applied = name == "tryApplySettings" ? camera->tryApplySettings(&request)
                                                            : camera->forceApplySettings(&request);
            reply = std::make_unique<Properties>(std::string());
            copyInto(applied, *reply);
        }
        return reply;
    }
    // Anything else is a configuration for the input stream; its image size may change with it.
    input_->configure(&request);
    encoder_->restartEncoder();
    return nullptr;
}

}  // namespace Corvexis
