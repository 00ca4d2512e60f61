#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Host/Core/ByteBuffer.h"
#include "Host/Core/DataList.h"
#include "Host/Core/Parameter.h"
#include "Host/Core/SignalConnection.h"
#include "Host/Lib/Algorithm.h"
#include "Stream/Network/WebsocketServer.h"
#include "Stream/Video/VideoEncoder.h"

namespace Corvexis {

class ImageStream;
class Properties;
class StreamData;
class StreamFps;

// Serves one image stream as compressed video to one remote client (a RemoteVideoStream), over two
// WebSocket channels: the video channel carries one encoded packet (VideoPacketHeader + codec bytes)
// per message, the control channel carries text requests and replies (Properties trees in their text
// form) and a heartbeat "a" every 100 ms while streaming.
//
// compute() opens both servers; streaming begins when a video client connects and ends when it leaves.
// Exactly one video client and one control client are served at a time; later ones are refused. The
// encoder keeps only the newest frame, so a slow link drops frames instead of sending old ones.
//
// Keys: "Host" ("localhost", used in log texts), "VideoPort" (3888), "ControlPort" (4051), both 1025 to
// 65535, "Preset" (0 to 2) and "Codec" (a VideoEncoder::Codec value, 0 by default).
//
// Threading: compute, configure and the setters are caller synchronises (the host's algorithm thread);
// isCurrentlyStreaming and isServerRunning are thread-safe. Frames arrive on the input stream's emitting
// thread (under frameMutex_), packets are sent from the encoder thread, connection changes and control
// requests arrive on the servers' network threads, the heartbeat runs on its own thread.
// Locks, in this order: clientsMutex_, frameMutex_, heartbeatMutex_ (stopStreaming holds all three to
// flip the streaming flag); inputMutex_ comes before frameMutex_ (a configuration applied to the input
// may make it emit). The encoder's and the servers' own locks are taken last.
// Log category "Stream.LiveStreamingAlgorithm".
class LiveStreamingAlgorithm : public Algorithm
{
public:
    static constexpr int kMinimumPort = 1025;
    static constexpr int kMaximumPort = 65535;

    // Borrows `input`; it may be destroyed first (the algorithm then stops serving frames and requests).
    explicit LiveStreamingAlgorithm(ImageStream& input);
    // Stops streaming and both servers.
    ~LiveStreamingAlgorithm() override;

    // Exactly one input, a 2-D image stream (volume streams are refused).
    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm);

    // Starts the video and control servers (made once, kept across computes). Refused while streaming
    // and when both ports are equal. Caller synchronises.
    void compute() override;
    // Ports go through their setters (out of range: error, old value kept). Caller synchronises.
    void configure(const Properties* properties) override;

    std::string host() const { return paramHost.value(); }
    void setHost(const std::string& host) { paramHost.setValue(host); }
    int videoTransferPort() const { return paramVideoPort.value(); }
    // False (error logged, value kept) outside 1025..65535. Caller synchronises.
    bool setVideoTransferPort(int port);
    int controlTransferPort() const { return paramControlPort.value(); }
    bool setControlTransferPort(int port);
    VideoEncoder::Preset preset() const { return static_cast<VideoEncoder::Preset>(paramPreset.value()); }
    void setPreset(VideoEncoder::Preset preset) { paramPreset.setValue(static_cast<int>(preset)); }
    VideoEncoder::Codec encoderId() const { return static_cast<VideoEncoder::Codec>(paramCodec.value()); }
    // Takes effect at the next client. Caller synchronises.
    void setEncoderId(VideoEncoder::Codec codec) { paramCodec.setValue(static_cast<int>(codec)); }

    bool isCurrentlyStreaming() const { return streaming_.load(); }  // thread-safe
    bool isServerRunning() const;                                    // thread-safe
    // Stops streaming and both servers (a later compute starts them again). Caller synchronises.
    void stopServers();

    // The servers' ports actually listened on (0 when not listening), for callers that asked for any
    // port. Thread-safe after compute.
    int listeningVideoPort() const;
    int listeningControlPort() const;

    Parameter<std::string> paramHost{"Host", "localhost", this};
    Parameter<int> paramVideoPort{"VideoPort", 3888, this};
    Parameter<int> paramControlPort{"ControlPort", 4051, this};
    Parameter<int> paramPreset{"Preset", 0, this};
    Parameter<int> paramCodec{"Codec", 0, this};

private:
    struct Client
    {
        std::string address;
        int port = -1;
    };

    bool startStreaming();
    void stopStreaming();
    void onStreamData(const std::shared_ptr<const StreamData>& data);
    void onReceiveMessage(const std::string& text);
    void onVideoClientStateChanged(bool connected, const std::string& address, int port, bool* refuse);
    void onControlClientStateChanged(bool connected, const std::string& address, int port, bool* refuse);
    void heartbeatControlChannelLoop();
    // The reply to a control request, or null when none is due (a configuration was applied).
    std::unique_ptr<Properties> answerRequest(const Properties& request);
    void sendControl(const Properties& reply);
    void disconnectInput();

    std::unique_ptr<StreamFps> rateMeter_;
    std::unique_ptr<VideoEncoder> encoder_;
    std::atomic<bool> streaming_{false};

    std::mutex inputMutex_;
    // guarded by inputMutex_; null once the input stream was destroyed
    ImageStream* input_;
    SignalConnection dataConnection_;
    SignalConnection parametersConnection_;
    SignalConnection destroyedConnection_;

    std::mutex frameMutex_;  // the frame path: one image at a time into the encoder

    // Created by the first compute; destroyed by stopServers or the destructor (caller synchronises).
    std::unique_ptr<Network::WebsocketServer<ByteBuffer>> videoServer_;
    std::unique_ptr<Network::WebsocketServer<std::string>> controlServer_;
    // Raw views of the servers for the encoder and heartbeat threads, which may run while stopServers
    // waits for them.
    std::atomic<Network::WebsocketServer<ByteBuffer>*> videoSink_{nullptr};
    std::atomic<Network::WebsocketServer<std::string>*> controlSink_{nullptr};

    mutable std::mutex clientsMutex_;
    // guarded by clientsMutex_; also serialises startStreaming and stopStreaming
    Client videoClient_;
    Client controlClient_;

    // Started by startStreaming, woken and joined by stopStreaming (both under clientsMutex_); the
    // thread itself only waits on heartbeatWake_.
    std::thread heartbeatThread_;
    std::mutex heartbeatMutex_;
    std::condition_variable heartbeatWake_;
};

}  // namespace Corvexis
