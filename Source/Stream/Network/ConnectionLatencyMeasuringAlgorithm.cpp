#include "Stream/Network/ConnectionLatencyMeasuringAlgorithm.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <limits>

#include "Host/Core/Log.h"
#include "Stream/Network/ClientConnectionBase.h"
#include "Stream/Network/ConnectionFactory.h"
#include "Stream/Network/ServerConnectionBase.h"
#include "Stream/Network/UDPSocket.h"

namespace Corvexis::Network {

namespace {

constexpr const char* kCategory = "ConnectionLatencyTestAlgorithm";
constexpr const char* kPropertiesBlock = "Connection Properties";
constexpr const char* kTimestampTag = "[TIMESTAMP]:";
constexpr const char* kIdTag = "[ID]:";
constexpr const char* kLatencyTag = "Latency: ";
// How long compute() waits for a client connection that the factory did not connect, when the
// connection's properties name no time-out of their own.
constexpr int kConnectTimeoutMs = 2000;

std::string joined(const std::vector<std::string>& names)
{
    std::string text;
    for (const auto& name : names) {
        if (!text.empty())
            text += ",";
        text += name;
    }
    return text;
}

std::string firstProtocol()
{
    const auto names = ConnectionFactory<std::string>::instance().supportedConnections();
    return names.empty() ? std::string() : names.front();
}

// Decimal digits after `tag` in `text`, or nothing.
std::optional<long long> numberAfter(const std::string& text, const char* tag)
{
    const auto at = text.find(tag);
    if (at == std::string::npos)
        return std::nullopt;
    std::size_t pos = at + std::char_traits<char>::length(tag);
    const std::size_t begin = pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9')
        ++pos;
    if (pos == begin || pos - begin > 18)
        return std::nullopt;
    return std::stoll(text.substr(begin, pos - begin));
}

// The client's own "connectionTimeout" (ms) when its properties have one, else the default.
int connectTimeoutMs(const Properties& properties)
{
    const double ms = properties.param<double>("connectionTimeout", static_cast<double>(kConnectTimeoutMs));
    return ms >= 1.0 ? static_cast<int>(ms) : kConnectTimeoutMs;
}

std::string formatMs(double ms)
{
    char text[64];
    std::snprintf(text, sizeof(text), "%f", ms);
    return text;
}

}  // namespace

ConnectionLatencyMeasuringAlgorithm::ConnectionLatencyMeasuringAlgorithm()
    : connectionProtocol("connectionProtocol", firstProtocol(), this),
      timeBetweenMessagesMs("timeBetweenMessagesMs", 100, this)
{
    const std::string protocols = joined(ConnectionFactory<std::string>::instance().supportedConnections());
    connectionProtocol.setLabel("Connection type");
    connectionProtocol.setAttribute("values", protocols);
    connectionProtocol.setAttribute("keys", protocols);
    timeBetweenMessagesMs.setAttribute("min", "1");
    reloadConnectionProperties();
    connectionProtocol.signalValueChanged.connect(this, [this](const std::string&) {
        Log::log(Log::Level::Debug, kCategory, "connection type changed");
        reloadConnectionProperties();
    });
    registerAction("startTest", "Start Test", [this] {
        if (!connectionReady()) {
            Log::log(Log::Level::Error, kCategory, "Cannot start the test: the connection is not up");
            return false;
        }
        start();
        return true;
    });
    registerAction("stopTest", "Stop Test", [this] {
        if (!connection_)
            return false;
        stop();
        return true;
    });
}

ConnectionLatencyMeasuringAlgorithm::~ConnectionLatencyMeasuringAlgorithm()
{
    disconnectAll();
    running_.store(false);
    senderThread_.reset();
    // The connection joins its network threads; no receiver of ours runs after disconnectAll().
    connection_.reset();
}

bool ConnectionLatencyMeasuringAlgorithm::createCompatible(const DataList& inputs,
                                                           std::unique_ptr<Algorithm>* algorithm)
{
    if (!inputs.empty())
        return false;
    if (algorithm != nullptr)
        *algorithm = std::make_unique<ConnectionLatencyMeasuringAlgorithm>();
    return true;
}

void ConnectionLatencyMeasuringAlgorithm::compute()
{
    running_.store(false);
    senderThread_.reset();
    connection_.reset();
    const std::string protocol = connectionProtocol.value();
    const Properties properties = connectionProperties();
    try {
        connection_ = ConnectionFactory<std::string>::instance().createConnection(protocol, properties);
        if (!connection_)
            Log::log(Log::Level::Error, kCategory,
                     "Could not create Connection: unknown protocol '" + protocol + "'");
    } catch (const std::exception& e) {
        Log::log(Log::Level::Error, kCategory, std::string("Could not create Connection: ") + e.what());
    }
    if (!connection_) {
        setStatus(Status::Error);
        return;
    }
    signalConnectionCreated.emitSignal();
    // processReadMessages: every text the connection delivers is evaluated on its network thread.
    connection_->signalMessageReceived.connect(
        this, [this](std::shared_ptr<const std::string> message) { onMessage(message); });

    // Success only once the connection can carry the test: a server that runs, a client whose
    // connection is up (waited for with the connection's own time-out), a UDP socket that receives.
    bool ready = true;
    if (auto* server = dynamic_cast<ServerConnectionBase<std::string>*>(connection_.get())) {
        if (!server->isRunning() && !server->run()) {
            Log::log(Log::Level::Error, kCategory, "The server connection does not run");
            ready = false;
        }
    } else if (auto* client = dynamic_cast<ClientConnectionBase<std::string>*>(connection_.get())) {
        if (!client->isConnected() && !client->connect(connectTimeoutMs(properties))) {
            Log::log(Log::Level::Error, kCategory, "The client connection did not connect");
            ready = false;
        }
    } else if (auto* udp = dynamic_cast<UDPSocket<std::string>*>(connection_.get())) {
        ready = udp->run();
    }
    setStatus(ready ? Status::Success : Status::Error);
}

bool ConnectionLatencyMeasuringAlgorithm::connectionReady() const
{
    if (!connection_)
        return false;
    if (auto* client = dynamic_cast<ClientConnectionBase<std::string>*>(connection_.get()))
        return client->isConnected();
    return true;
}

void ConnectionLatencyMeasuringAlgorithm::configure(const Properties* properties)
{
    Algorithm::configure(properties);
    if (properties == nullptr)
        return;
    if (const Properties* block = properties->subProperties(kPropertiesBlock)) {
        std::lock_guard lock(mutex_);
        for (const auto& key : block->paramNames())
            connectionProperties_.setParamText(key, *block->paramText(key));
    }
}

void ConnectionLatencyMeasuringAlgorithm::configuration(Properties* properties) const
{
    Algorithm::configuration(properties);
    if (properties == nullptr)
        return;
    if (const Properties* old = properties->subProperties(kPropertiesBlock))
        properties->removeSubProperties(old);
    Properties block = connectionProperties();
    block.setName(kPropertiesBlock);
    *properties->addSubProperties(kPropertiesBlock) = std::move(block);
}

void ConnectionLatencyMeasuringAlgorithm::start()
{
    if (running_.load())
        return;
    {
        std::lock_guard lock(mutex_);
        sendTimes_.clear();
        echoed_.clear();
        received_.clear();
        nextNumber_ = 0;
        report_ = Report{};
    }
    role_.store(Role::Sender);
    running_.store(true);
    send("START");
    startSending();
    signalTestStarted.emitSignal();
}

void ConnectionLatencyMeasuringAlgorithm::startSending()
{
    senderThread_ = std::make_unique<Threading::StoppableThread>(
        "LatencySender", [this](Threading::StoppableThread& thread) { sendLoop(thread); });
}

void ConnectionLatencyMeasuringAlgorithm::stop()
{
    running_.store(false);
    senderThread_.reset();
    send("STOP");
    averageLatency();
    signalTestStopped.emitSignal();
}

std::chrono::duration<double> ConnectionLatencyMeasuringAlgorithm::averageLatency()
{
    std::deque<Received> received;
    {
        std::lock_guard lock(mutex_);
        received = received_;
    }
    double sum = 0.0;
    std::size_t count = 0;
    for (const auto& entry : received) {
        if (auto latency = computeLatency(entry.text, entry.time)) {
            sum += latency->count();
            ++count;
        }
    }
    const std::chrono::duration<double> average(count == 0 ? 0.0 : sum / static_cast<double>(count));
    const double averageMs = average.count() * 1000.0;

    std::lock_guard lock(mutex_);
    report_.role = role_.load();
    report_.evaluated = count;
    report_.averageMs = averageMs;
    if (role_.load() == Role::Sender) {
        report_.sent = sendTimes_.size();
        report_.lost = sendTimes_.size() - echoed_.size();
        if (count == 0) {
            Log::log(Log::Level::Error, kCategory,
                     "No Latency computed on the sender side. Enable echo on the receiver side ");
        } else {
            Log::log(Log::Level::Info, kCategory,
                     "Average Echo Latency: " + formatMs(averageMs) + " ms over " + std::to_string(count) +
                         " messages");
        }
        Log::log(
            Log::Level::Info, kCategory,
            "Lost Echo Messages: " + std::to_string(report_.lost) + " of " + std::to_string(report_.sent));
    } else {
        Log::log(Log::Level::Info, kCategory,
                 "Average Peer Latency: " + formatMs(averageMs) + " ms over " + std::to_string(count) +
                     " messages");
    }
    return average;
}

std::pair<int, ConnectionLatencyMeasuringAlgorithm::Clock::time_point>
ConnectionLatencyMeasuringAlgorithm::processStringMessage(const std::string& text)
{
    const auto id = numberAfter(text, kIdTag);
    const auto stamp = numberAfter(text, kTimestampTag);
    if (!id || !stamp || *id > std::numeric_limits<int>::max()) {
        Log::log(Log::Level::Warning, kCategory, "Failed to parse message");
        return {-1, Clock::time_point{}};
    }
    return {static_cast<int>(*id), Clock::time_point(std::chrono::milliseconds(*stamp))};
}

std::optional<std::chrono::duration<double>> ConnectionLatencyMeasuringAlgorithm::computeLatency(
    const std::string& message, Clock::time_point receiveTime) const
{
    const auto [number, stamp] = processStringMessage(message);
    if (number < 0)
        return std::nullopt;
    if (role_.load() == Role::Receiver)
        return std::chrono::duration<double>(receiveTime - stamp);
    std::lock_guard lock(mutex_);
    const auto sent = sendTimes_.find(number);
    if (sent == sendTimes_.end())
        return std::nullopt;
    return std::chrono::duration<double>(receiveTime - sent->second);
}

std::string ConnectionLatencyMeasuringAlgorithm::makeTestMessage(Clock::time_point time, int number)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    return kTimestampTag + std::to_string(ms) + kIdTag + std::to_string(number) + "\n";
}

Properties ConnectionLatencyMeasuringAlgorithm::connectionProperties() const
{
    std::lock_guard lock(mutex_);
    return connectionProperties_;
}

ConnectionLatencyMeasuringAlgorithm::Report ConnectionLatencyMeasuringAlgorithm::lastReport() const
{
    std::lock_guard lock(mutex_);
    return report_;
}

void ConnectionLatencyMeasuringAlgorithm::onMessage(const std::shared_ptr<const std::string>& message)
{
    const auto now = Clock::now();
    const std::string& text = *message;
    if (text.find("STOP") != std::string::npos) {
        const double averageMs = averageLatency().count() * 1000.0;
        send(kLatencyTag + formatMs(averageMs));
        running_.store(false);
        signalTestStopped.emitSignal();
        return;
    }
    if (text.find("START") != std::string::npos) {
        Log::log(Log::Level::Info, kCategory, "Receiver: START received");
        {
            std::lock_guard lock(mutex_);
            received_.clear();
            report_ = Report{};
        }
        role_.store(Role::Receiver);
        signalTestStarted.emitSignal();
        running_.store(true);
        return;
    }
    // The receiver's report comes after the sender stopped, so it is taken whether running or not.
    const auto latencyAt = text.find(kLatencyTag);
    if (latencyAt != std::string::npos) {
        const std::string value = text.substr(latencyAt + std::char_traits<char>::length(kLatencyTag));
        Log::log(Log::Level::Info, kCategory, "Peer Latency: " + value);
        double ms = 0.0;
        if (std::sscanf(value.c_str(), "%lf", &ms) == 1) {
            {
                std::lock_guard lock(mutex_);
                report_.peerAverageMs = ms;
            }
            signalPeerLatency.emitSignal(ms);
        }
        return;
    }
    if (!running_.load())
        return;
    {
        std::lock_guard lock(mutex_);
        received_.push_back({text, now});
        while (received_.size() > kMaxQueuedMessages)
            received_.pop_front();
        if (role_.load() == Role::Sender) {
            const int number = processStringMessage(text).first;
            if (sendTimes_.count(number) != 0)
                echoed_.insert(number);
        }
    }
    if (role_.load() == Role::Receiver) {
        if (Log::isAccepted(Log::Level::Debug, kCategory))
            Log::log(Log::Level::Debug, kCategory, "Forwarding: " + text);
        send(text);
    }
}

void ConnectionLatencyMeasuringAlgorithm::send(const std::string& text)
{
    if (connection_)
        connection_->sendMessage(text);
}

void ConnectionLatencyMeasuringAlgorithm::reloadConnectionProperties()
{
    auto defaults =
        ConnectionFactory<std::string>::instance().connectionProperties(connectionProtocol.value());
    std::lock_guard lock(mutex_);
    connectionProperties_ = defaults ? std::move(*defaults) : Properties();
    connectionProperties_.setName(kPropertiesBlock);
}

void ConnectionLatencyMeasuringAlgorithm::sendLoop(Threading::StoppableThread& thread)
{
    const auto interval = std::chrono::milliseconds(std::max(1, timeBetweenMessagesMs.value()));
    while (!thread.isStopRequested()) {
        const auto now = Clock::now();
        std::string message;
        {
            std::lock_guard lock(mutex_);
            const int number = nextNumber_++;
            sendTimes_[number] = now;
            message = makeTestMessage(now, number);
        }
        send(message);
        thread.waitForStop(interval);
    }
}

}  // namespace Corvexis::Network
