#pragma once

#include <any>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "Host/Core/ByteBuffer.h"
#include "Host/Core/Parameter.h"
#include "Host/Core/Properties.h"
#include "Host/Core/Signal.h"
#include "Host/Core/SignalConnection.h"
#include "Stream/Framework/ImageStream.h"
#include "Stream/Network/WebsocketClient.h"

namespace Corvexis {

class SharedImage;
class ROISettings;
class VideoDecoder;
template <typename Interface>
class RemoteStreamSettingDouble;
namespace VideoStreamSettings {
class Exposure;
class Framerate;
class Gain;
}  // namespace VideoStreamSettings

// An image stream of the video served by a LiveStreamingAlgorithm in another process: the video
// channel's packets are decoded (VideoDecoder, on its own thread) and each image is emitted while the
// stream runs; the control channel reads and changes the sender's configuration and camera settings.
//
// Connecting: tryConnect(host, videoPort, controlPort) connects both channels and starts the stream;
// starting a stream that is not connected connects it with the configured "host", "videoPort" and
// "controlPort". Open alone touches no network. A sender that goes away is noticed within 100 ms: the
// stream logs it, stops emitting, emits signalStreamEnded and stops itself; closing releases both
// channels and the decoder.
//
// Keys: "host" ("127.0.0.1"), "videoPort" (3888), "controlPort" (4051), "useHardwareAcceleration"
// (true). While connected, configuration() is the sender's input stream configuration and configure()
// forwards the tree to the sender without waiting.
//
// Threading: every public operation is thread-safe. Hooks run on the stream's worker; images are
// emitted on the decoder thread; control replies arrive on the control client's thread and reach the
// waiting request through signalControlReply. Locks: connectMutex_ before channelsMutex_; requestMutex_
// is taken alone. Log category "Stream.RemoteVideoStream".
class RemoteVideoStream : public ImageStream
{
public:
    static constexpr int kMinimumPort = 1025;
    static constexpr int kMaximumPort = 50000;
    static constexpr int kConnectTimeoutMs = 5000;
    static constexpr int kRequestTimeoutMs = 2000;

    RemoteVideoStream();
    ~RemoteVideoStream() override;

    // Connects video and control channels and starts the stream. False (logged) for equal ports, ports
    // outside 1025..50000, or a channel that does not connect within 5 s (then nothing stays connected).
    bool tryConnect(const std::string& host, int videoPort, int controlPort);
    // Whether both channels are up. Thread-safe.
    bool isConnected() const;

    std::string host() const { return paramHost.value(); }
    int videoPort() const { return paramVideoPort.value(); }
    int controlPort() const { return paramControlPort.value(); }
    bool useHardwareAcceleration() const { return paramUseHardwareAcceleration.value(); }
    // Takes effect at the next connection.
    void setUseHardwareAcceleration(bool use) { paramUseHardwareAcceleration.setValue(use); }

    // Size of the decoded images (-1 before the first packet).
    int width() const;
    int height() const;
    double estimatedFPS() const;
    std::uint64_t estimatedBytesPerSeconds() const;
    // "Remote video with resolution: w:W, h:H | FPS:R".
    std::string describe() const override;

    // Sends a request and waits up to `timeoutMs` for its reply; empty on no connection, no reply in
    // time, or the reply "NotImplemented". Heartbeats never count as replies. Requests are served one
    // at a time; replies carry no request number, so a reply that arrives after its request gave up is
    // taken by the next request.
    std::unique_ptr<Properties> sendMessageAndWaitForReply(const std::string& request, int timeoutMs);
    // A control message from the sender (control client thread): replies of at least 4 characters reach
    // signalControlReply while the stream is active; heartbeats ("a") are dropped.
    void onReceivedControlMessage(const std::string& text);

    // "Exposure", "Framerate", "Gain": std::shared_ptr<VideoStreamSettings::<Name>> with the values the
    // sender reported; "RegionOfInterest": std::shared_ptr<VideoStreamSettings::RegionOfInterest>; empty
    // when the sender has no such setting or did not answer.
    // The same operations as a local camera's (VideoCameraStream).
    std::any getSettings(const std::string& name);
    // The sender's camera applies what it can (tryApplySettings) or all (forceApplySettings) of
    // `settings` and returns the settings as applied; empty when it did not answer within 2 s.
    Properties tryApplySettings(const Properties* settings);
    Properties forceApplySettings(const Properties* settings);

    void configuration(Properties* properties) const override;
    void configure(const Properties* properties) override;

    bool supportsPausing() const override { return true; }

    Parameter<std::string> paramHost{"host", "127.0.0.1", this};
    Parameter<int> paramVideoPort{"videoPort", 3888, this};
    Parameter<int> paramControlPort{"controlPort", 4051, this};
    Parameter<bool> paramUseHardwareAcceleration{"useHardwareAcceleration", true, this};

    // Control replies, on the control client's thread.
    Signal<std::string> signalControlReply;

protected:
    bool openImpl() override { return true; }
    bool closeImpl() override;
    bool startImpl() override;
    bool stopImpl() override { return true; }
    bool pauseImpl() override { return true; }
    bool resumeImpl() override { return true; }
    // Watches the video channel every 100 ms.
    std::optional<WorkContinuation> doWork() override;

private:
    struct Channels;

    // Validates the ports, makes decoder and clients and connects them; `startStream` queues the start
    // (tryConnect) instead of being part of it (startImpl).
    bool connectChannels(const std::string& host, int videoPort, int controlPort, bool startStream);
    void releaseChannels();
    void onImageDecoded(const std::shared_ptr<SharedImage>& image);
    std::shared_ptr<Channels> channels() const;
    std::unique_ptr<Properties> request(const Properties& message, int timeoutMs);
    Properties applySettings(const char* name, const Properties* settings);

    std::mutex connectMutex_;  // serialises connecting and releasing
    mutable std::mutex channelsMutex_;
    // guarded by channelsMutex_
    std::shared_ptr<Channels> channels_;

    std::mutex requestMutex_;  // one control request in flight
    // Set when the sender went away while running; cleared by a new connection.
    std::atomic<bool> senderLost_{false};

    std::shared_ptr<RemoteStreamSettingDouble<VideoStreamSettings::Exposure>> exposure_;
    std::shared_ptr<RemoteStreamSettingDouble<VideoStreamSettings::Framerate>> framerate_;
    std::shared_ptr<RemoteStreamSettingDouble<VideoStreamSettings::Gain>> gain_;
    std::shared_ptr<ROISettings> roi_;
};

}  // namespace Corvexis
