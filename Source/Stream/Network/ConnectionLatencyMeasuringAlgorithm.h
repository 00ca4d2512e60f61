#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "Host/Core/DataList.h"
#include "Host/Core/Parameter.h"
#include "Host/Core/Properties.h"
#include "Host/Core/Signal.h"
#include "Host/Core/SignalReceiver.h"
#include "Host/Core/StoppableThread.h"
#include "Host/Lib/Algorithm.h"
#include "Stream/Network/TypedConnectionBase.h"

namespace Corvexis::Network {

// Measures the latency of any text connection between two processes. The side on which start() is
// called is the sender: every "timeBetweenMessagesMs" it sends a numbered, time-stamped test message
// "[TIMESTAMP]:<ms since 1970>[ID]:<number>\n". The other side becomes the receiver when "START"
// arrives: it measures each message's one-way latency against its own clock (meaningful only with
// synchronised clocks) and echoes it, so the sender measures round trips. stop() on the sender sends
// "STOP"; the receiver answers with "Latency: <its average in ms>". Log category
// "ConnectionLatencyTestAlgorithm".
//
// Parameters: "connectionProtocol" (one of the text connection factory's protocols),
// "timeBetweenMessagesMs" (100), and the sub-block "Connection Properties" holding the chosen
// protocol's construction parameters. Actions: "startTest" and "stopTest".
//
// Beyond building the connection, compute() runs a server connection and connects a client connection
// that is not connected yet (a server that is not running could never be reached); "startTest" refuses
// (false, error line) while a client connection is not connected.
//
// Threading: compute, configure, start, stop and the actions are caller synchronises (one controlling
// thread); received messages are evaluated on the connection's network thread; the sender thread sends.
// State shared between them is guarded by mutex_ or atomic. Signals are emitted on the thread that
// made the change (the network thread for the receiver's start and stop).
class ConnectionLatencyMeasuringAlgorithm : public Algorithm, public SignalReceiver
{
public:
    using Clock = std::chrono::system_clock;

    enum class Role : int
    {
        Sender = 0,
        Receiver = 1,
    };

    // What the last evaluation found (stop() on the sender, "STOP" on the receiver).
    struct Report
    {
        Role role = Role::Sender;
        std::size_t evaluated = 0;            // latencies that entered the average
        double averageMs = 0.0;               // round trip on the sender, one way on the receiver
        std::size_t sent = 0;                 // sender: test messages sent
        std::size_t lost = 0;                 // sender: test messages whose echo never came
        std::optional<double> peerAverageMs;  // sender: what the receiver reported, once it arrived
    };

    ConnectionLatencyMeasuringAlgorithm();
    ~ConnectionLatencyMeasuringAlgorithm() override;

    // Takes no inputs.
    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm);

    // Creates the connection from the chosen protocol and "Connection Properties" and brings it up: runs
    // a server, connects a client that is not connected yet (waiting up to its "connectionTimeout", else
    // 2 s), runs a UDP socket. Status Success only when the connection is up; Error (logged) when it
    // could not be created or did not come up. Blocks for the wait.
    void compute() override;
    void configure(const Properties* properties) override;
    void configuration(Properties* properties) const override;

    // Starts a test as the sender: clears earlier results, starts the sender thread, sends "START".
    // Does nothing while running.
    void start();
    // Starts the sender thread alone.
    void startSending();
    // Ends the test: joins the sender thread, sends "STOP", reports the average.
    void stop();
    bool isRunning() const { return running_.load(); }  // thread-safe
    Role role() const { return role_.load(); }          // thread-safe

    // The average latency over the queued received messages. Logs the report lines.
    std::chrono::duration<double> averageLatency();
    // Message number and time stamp of a test message; number -1 (logged) when it does not parse.
    static std::pair<int, Clock::time_point> processStringMessage(const std::string& text);
    // The latency of one received message: one way (receiver) or round trip (sender); none when the text
    // does not parse or its number was not sent by us.
    std::optional<std::chrono::duration<double>> computeLatency(const std::string& message,
                                                                Clock::time_point receiveTime) const;
    // Builds a test message.
    static std::string makeTestMessage(Clock::time_point time, int number);

    // The connection built by compute(), or null. Owned by the algorithm.
    TypedConnectionBase<std::string>* connection() const { return connection_.get(); }
    // The construction parameters that compute() uses. Thread-safe.
    Properties connectionProperties() const;
    // Thread-safe.
    Report lastReport() const;

    Parameter<std::string> connectionProtocol;
    Parameter<int> timeBetweenMessagesMs;

    Signal<> signalConnectionCreated;
    Signal<> signalTestStarted;
    Signal<> signalTestStopped;
    // The receiver's average one-way latency in ms, when its report reaches the sender.
    Signal<double> signalPeerLatency;

    static constexpr std::size_t kMaxQueuedMessages = 100;

private:
    struct Received
    {
        std::string text;
        Clock::time_point time;
    };

    // A connection exists and, for a client, is connected.
    bool connectionReady() const;
    void onMessage(const std::shared_ptr<const std::string>& message);
    void send(const std::string& text);
    void reloadConnectionProperties();
    void sendLoop(Threading::StoppableThread& thread);

    std::unique_ptr<TypedConnectionBase<std::string>> connection_;
    std::unique_ptr<Threading::StoppableThread> senderThread_;
    std::atomic<bool> running_{false};
    std::atomic<Role> role_{Role::Sender};

    mutable std::mutex mutex_;
    // guarded by mutex_
    Properties connectionProperties_{"Connection Properties"};
    int nextNumber_ = 0;
    std::map<int, Clock::time_point> sendTimes_;
    std::set<int> echoed_;
    std::deque<Received> received_;
    Report report_;
};

}  // namespace Corvexis::Network
