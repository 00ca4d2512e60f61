// corvexis net-latency sender|receiver [KEY=VALUE ...] [--seconds N]: the round-trip latency of a
// network connection between two processes, measured by the latency-test algorithm that a plug-in offers
// as "Network.ConnectionLatencyMeasuring". The receiver echoes; the sender sends numbered time stamps for
// the given seconds and reports the average echo latency and the messages lost, through the algorithm's
// own log lines.

#include <QCoreApplication>
#include <QTimer>

#include <iostream>
#include <map>
#include <memory>
#include <string>

#include "Apps/corvexis/CommandLine.h"
#include "Apps/corvexis/CommandRegistry.h"
#include "Apps/corvexis/HostApplication.h"
#include "Apps/corvexis/TerminationSignals.h"
#include "Host/Core/DataList.h"
#include "Host/Core/Log.h"
#include "Host/Core/Properties.h"
#include "Host/Lib/Algorithm.h"
#include "Host/Lib/FactoryRegistry.h"

namespace Corvexis {
namespace {

constexpr const char* kAlgorithm = "Network.ConnectionLatencyMeasuring";
// How long one connection attempt of the sender may take, in milliseconds.
constexpr int kAttemptTimeoutMs = 200;

// Runs the Qt event loop for `seconds` (until Ctrl-C when negative); false when interrupted.
bool waitFor(double seconds)
{
    TerminationSignals signals;
    bool timedOut = false;
    if (seconds >= 0)
        QTimer::singleShot(static_cast<int>(seconds * 1000), [&] {
            timedOut = true;
            QCoreApplication::quit();
        });
    QCoreApplication::exec();
    return timedOut;
}

int netLatency(HostApplication& host, const CommandLine& line)
{
    const std::string role = line.arguments.front();
    if (role != "sender" && role != "receiver")
        return host.error("'net-latency' takes 'sender' or 'receiver', not '" + role + "'");
    std::map<std::string, std::string> settings = {
        {"protocol", "websocket"}, {"host", "127.0.0.1"}, {"port", "4100"}, {"intervalMs", "100"}};
    for (const auto& [key, value] : line.settings) {
        if (settings.count(key) == 0)
            return host.error("unknown setting '" + key + "' for 'net-latency' (protocol, host, port, intervalMs)");
        settings[key] = value;
    }
    std::string protocol;
    if (settings["protocol"] == "websocket")
        protocol = role == "sender" ? "Websocket Client" : "Websocket Server";
    else if (settings["protocol"] == "tcp")
        protocol = role == "sender" ? "TCP Socket Client" : "TCP Socket Server";
    else
        return host.error("protocol '" + settings["protocol"] + "' is not offered (websocket, tcp)");

    const auto descriptor = FactoryRegistry::get().algorithmDescriptor(kAlgorithm);
    if (!descriptor)
        return host.error(std::string("no plug-in offers ") + kAlgorithm);
    // A sender started together with its receiver keeps trying to connect for some seconds: attempts of
    // kAttemptTimeoutMs each (the algorithm fails an attempt whose connection did not come up in that
    // time), with a pause between them.
    const int attempts = role == "sender" ? 25 : 1;
    std::unique_ptr<Algorithm> algorithm;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (attempt > 0)
            waitFor(0.2);
        algorithm = descriptor->create(DataList{});
        if (!algorithm)
            return host.error(std::string("could not create ") + kAlgorithm);
        Properties config;
        algorithm->configuration(&config);
        config.setParam("connectionProtocol", protocol);
        if (role == "sender")
            config.setParamText("timeBetweenMessagesMs", settings["intervalMs"]);
        Properties* connection = config.subProperties("Connection Properties");
        if (connection == nullptr)
            connection = config.addSubProperties("Connection Properties");
        connection->setParamText("hostPort", settings["port"]);
        // The sender's peer; the address the receiver listens on (0.0.0.0 for every interface).
        connection->setParam("hostIp", settings["host"]);
        if (role == "sender")
            connection->setParam("connectionTimeout", kAttemptTimeoutMs);
        algorithm->configure(&config);
        algorithm->compute();
        if (algorithm->status() == Algorithm::Status::Success)
            break;
        algorithm.reset();
    }
    if (!algorithm)
        return host.error("the " + role + " could not " +
                          (role == "sender" ? "connect to " + settings["host"] + ":" : "listen on port ") +
                          settings["port"]);

    if (role == "receiver") {
        std::cout << "Receiving on port " << settings["port"] << " (" << protocol
                  << "); Ctrl-C ends it" << std::endl;
        waitFor(line.seconds.value_or(-1.0));
        return 0;
    }
    const double seconds = line.seconds.value_or(5.0);
    std::cout << "Measuring " << protocol << " to " << settings["host"] << ":" << settings["port"] << " for "
              << seconds << " s" << std::endl;
    if (!algorithm->runAction("startTest"))
        return host.error("the latency test did not start");
    waitFor(seconds);
    algorithm->runAction("stopTest");
    // The receiver's own average comes back shortly after the stop.
    waitFor(0.5);
    return 0;
}

const CommandRegistration kNetLatency(
    {.name = "net-latency",
     .arguments = "sender|receiver [KEY=VALUE ...]",
     .summary = "round-trip latency of a connection between two processes (protocol=websocket|tcp, host, port, intervalMs)",
     .argumentsHint = "'sender' or 'receiver'",
     .minArguments = 1,
     .maxArguments = -1,
     .takesSettings = true,
     .options = {"--seconds"},
     .run = netLatency});

}  // namespace
}  // namespace Corvexis
