#include "Apps/corvexis/HostApplication.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>
#include <cctype>
#include <csignal>
#include <cstdlib>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <iostream>
#include <sstream>

#include <fmt/format.h>

#include "Apps/corvexis/StreamWatch.h"
#include "Host/Core/Log.h"
#include "Host/Core/ParameterBase.h"
#include "Host/Core/Properties.h"
#include "Host/Core/PropertiesIO.h"
#include "Host/Lib/AlgorithmController.h"
#include "Host/Lib/FactoryRegistry.h"
#include "Host/Lib/PluginLoader.h"
#include "Stream/Framework/Stream.h"
#include "Stream/Framework/StreamIoAlgorithm.h"

namespace Corvexis {

namespace {

// The demo: the simulated image stream at its defaults beside a simulated tracking stream with one
// oscillating and one sweeping instrument.
constexpr const char* kDemoImageId = "Stream.CreateStreamIoFakeImage";
constexpr const char* kDemoTrackingId = "Stream.CreateStreamIoFakeTracking";
constexpr double kDemoSeconds = 3.0;
// The run ends this long after its last full second, so the status line of that second comes first.
constexpr int kLastStatusMarginMs = 20;
constexpr const char* kDemoTrackingSettings = R"(FakeTrackingStream {
    fps = 30
    Devices {
        OscillatingDevice {
            center = "0 0 100"
            axis = "0 0 1"
            speed = 1
            name = Pointer
        }
        SweepDevice {
            center = "0 50 100"
            rotationAxis = "1 0 0"
            translationAxis = "0 1 0"
            translationAmplitude = 2
            angleAmplitude = 22.5
            speed = 0.1
            name = Probe
        }
    }
})";

int error(const std::string& text)
{
    std::cout.flush();
    std::cerr << "corvexis: " << text << std::endl;
    return 1;
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, separator)) {
        if (!part.empty())
            parts.push_back(part);
    }
    return parts;
}

size_t editDistance(const std::string& a, const std::string& b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The form a parameter's text takes, found by offering it a text no typed value accepts (on an object
// made only to be shown, so a text parameter taking it does no harm).
std::string typeOf(ParameterBase& parameter)
{
    const std::string values = parameter.attribute("values");
    if (!values.empty())
        return "one of: " + values;
    const std::string saved = parameter.valueText();
    std::string why;
    if (parameter.setValueText("@@probe@@", &why)) {
        parameter.setValueText(saved);
        return "text";
    }
    return why.starts_with("expected ") ? why.substr(9) : why;
}

void printParameters(const std::vector<ParameterBase*>& parameters, const std::string& indent)
{
    if (parameters.empty()) {
        std::cout << indent << "(none)\n";
        return;
    }
    size_t width = 0;
    for (const ParameterBase* p : parameters)
        width = std::max(width, p->name().size());
    for (ParameterBase* p : parameters) {
        const std::string value = p->valueText();
        const std::string type = typeOf(*p);
        std::cout << indent << fmt::format("{:<{}}  {}, default \"{}\"", p->name(), width, type, value);
        const std::string label = p->label();
        if (!label.empty())
            std::cout << "  (" << label << ")";
        std::cout << "\n";
    }
}

// SIGINT and SIGTERM reach the event loop through a pipe: the handler only writes one byte.
int gSignalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(gSignalPipe[1], &byte, 1);
}

class TerminationSignals
{
public:
    TerminationSignals()
    {
        if (gSignalPipe[0] < 0 && ::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        notifier_ = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [] {
            char buffer[16];
            while (::read(gSignalPipe[0], buffer, sizeof buffer) > 0) {
            }
            std::cout << "Interrupted; closing streams\n";
            QCoreApplication::quit();
        });
        struct sigaction action
        {
        };
        action.sa_handler = onTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, &previousInt_);
        sigaction(SIGTERM, &action, &previousTerm_);
    }
    ~TerminationSignals()
    {
        sigaction(SIGINT, &previousInt_, nullptr);
        sigaction(SIGTERM, &previousTerm_, nullptr);
    }

private:
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction previousInt_
    {
    };
    struct sigaction previousTerm_
    {
    };
};

}  // namespace

HostApplication::HostApplication() = default;

HostApplication::~HostApplication() = default;

std::vector<std::string> HostApplication::closeMatches(const std::string& wanted,
                                                       const std::vector<std::string>& known)
{
    std::vector<std::pair<size_t, std::string>> scored;
    const std::string wantedLower = lower(wanted);
    for (const auto& candidate : known) {
        const std::string candidateLower = lower(candidate);
        const size_t dot = candidate.find('.');
        const std::string shortName = dot == std::string::npos ? candidate : candidate.substr(dot + 1);
        size_t distance = std::min(editDistance(wanted, candidate), editDistance(wanted, shortName));
        if (!wantedLower.empty() && candidateLower.find(wantedLower) != std::string::npos)
            distance = std::min<size_t>(distance, 1);
        const size_t limit = std::max<size_t>(3, wanted.size() / 3);
        if (distance <= limit)
            scored.emplace_back(distance, candidate);
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> result;
    for (size_t i = 0; i < scored.size() && i < 3; ++i)
        result.push_back(scored[i].second);
    return result;
}

bool HostApplication::loadPlugins(const CommandLine& line)
{
    std::vector<std::string> directories = line.pluginDirectories;
    std::string origin = "--plugins";
    if (directories.empty()) {
        if (const char* env = std::getenv("CORVEXIS_PLUGIN_PATH"); env != nullptr && *env != '\0') {
            directories = split(env, ':');
            origin = "CORVEXIS_PLUGIN_PATH";
        }
    }
    if (directories.empty()) {
        std::error_code ec;
        const auto binaryDir = std::filesystem::path(QCoreApplication::applicationDirPath().toStdString());
        auto defaultDir = std::filesystem::weakly_canonical(binaryDir / ".." / "lib", ec);
        directories.push_back(ec ? (binaryDir / ".." / "lib").string() : defaultDir.string());
        origin = "the default directory";
    }
    loader_ = std::make_unique<PluginLoader>();
    if (loader_->loadFromDirectories(directories) > 0)
        return true;
    std::string where;
    for (const auto& d : directories)
        where += (where.empty() ? "" : ", ") + d;
    error("no plug-in found (looked in " + where + ", from " + origin + ")");
    return false;
}

int HostApplication::exec(const CommandLine& line)
{
    if (!loadPlugins(line))
        return 1;
    int code = 0;
    switch (line.command) {
        case CommandLine::Command::List:
            code = list();
            break;
        case CommandLine::Command::Show:
            code = show(line.algorithmId);
            break;
        case CommandLine::Command::Run:
            code = run(line, line.algorithmId);
            break;
        case CommandLine::Command::Demo:
            code = demo(line);
            break;
        case CommandLine::Command::Help:
            std::cout << CommandLine::usage();
            break;
    }
    loader_.reset();
    return code;
}

int HostApplication::list()
{
    const auto descriptors = FactoryRegistry::get().algorithmDescriptors();
    size_t width = 10;
    for (const auto& d : descriptors)
        width = std::max(width, d.id.size());
    std::cout << fmt::format("{:<{}}  {}\n", "Identifier", width, "Menu path");
    for (const auto& d : descriptors)
        std::cout << fmt::format("{:<{}}  \"{}\"\n", d.id, width, d.menuPath);
    if (descriptors.empty())
        std::cout << "(no algorithms registered)\n";
    std::cout << "\nController-only menu entries:\n";
    const auto entries = FactoryRegistry::get().controllerMenuEntries();
    for (const auto& entry : entries)
        std::cout << "  \"" << entry << "\"\n";
    if (entries.empty())
        std::cout << "  (none)\n";
    return 0;
}

std::string HostApplication::resolveId(const std::string& id)
{
    const auto& registry = FactoryRegistry::get();
    if (registry.algorithmDescriptor(id))
        return id;
    std::vector<std::string> known;
    std::vector<std::string> suffixMatches;
    for (const auto& d : registry.algorithmDescriptors()) {
        known.push_back(d.id);
        if (d.id.size() > id.size() && d.id.ends_with("." + id))
            suffixMatches.push_back(d.id);
    }
    if (suffixMatches.size() == 1)
        return suffixMatches.front();
    std::string text = "unknown algorithm '" + id + "'";
    const auto matches = closeMatches(id, known);
    if (!matches.empty()) {
        text += "; did you mean ";
        for (size_t i = 0; i < matches.size(); ++i)
            text += (i == 0 ? "'" : (i + 1 == matches.size() ? "' or '" : "', '")) + matches[i];
        text += "'?";
    } else {
        text += " (see 'corvexis list')";
    }
    error(text);
    return {};
}

int HostApplication::show(const std::string& wanted)
{
    const std::string id = resolveId(wanted);
    if (id.empty())
        return 1;
    const auto descriptor = FactoryRegistry::get().algorithmDescriptor(id);
    std::unique_ptr<Algorithm> algorithm;
    try {
        algorithm = descriptor->create(DataList{});
    } catch (const std::exception& e) {
        return error("creating '" + id + "' threw: " + e.what());
    }
    std::cout << "Algorithm " << id << "\n  menu path: \"" << descriptor->menuPath
              << "\"\n  flags: " << descriptor->flags << "\n";
    if (!algorithm) {
        std::cout << "  (it needs input data; it cannot be created from the command line)\n";
        return 0;
    }
    std::cout << "Configuration keys:\n";
    printParameters(algorithm->parameters(), "  ");
    if (auto* io = dynamic_cast<StreamIoAlgorithm*>(algorithm.get())) {
        std::cout << fmt::format(
            "  open   true or false, default \"{}\"  (also read as autoOpen or connect)\n",
            io->opensStream() ? "true" : "false");
        std::cout << fmt::format("  start  true or false, default \"{}\"  (also read as autoStart)\n",
                                 io->startsStream() ? "true" : "false");
        if (auto prototype = io->createPrototypeStream()) {
            std::cout << "Keys of the stream it creates (" << prototype->name() << ", "
                      << Data::kindString(prototype->kind()) << "):\n";
            printParameters(prototype->parameters(), "  ");
        }
    }
    const auto actions = algorithm->actions();
    if (!actions.empty()) {
        std::cout << "Actions:\n";
        for (const auto& a : actions)
            std::cout << "  " << a.id << "  (" << a.label << ")\n";
    }
    return 0;
}

std::optional<Properties> HostApplication::settingsFor(const CommandLine& line, const std::string& id)
{
    // Settings: the file first, then KEY=VALUE pairs over it.
    Properties settings(id);
    if (!line.configFile.empty()) {
        std::string why;
        auto loaded = PropertiesIO::loadFromFile(line.configFile, &why);
        if (!loaded) {
            error("cannot read the configuration " + why);
            return std::nullopt;
        }
        settings = std::move(*loaded);
    }
    for (const auto& [key, value] : line.settings)
        settings.setParamText(key, value);
    return settings;
}

int HostApplication::run(const CommandLine& line, const std::string& wanted)
{
    const std::string id = resolveId(wanted);
    if (id.empty())
        return 1;
    auto settings = settingsFor(line, id);
    if (!settings)
        return 1;
    return run({Job{id, std::move(*settings)}}, line.actions, line.seconds.value_or(-1.0));
}

int HostApplication::demo(const CommandLine& line)
{
    std::vector<Job> jobs;
    for (const char* id : {kDemoImageId, kDemoTrackingId}) {
        if (!FactoryRegistry::get().algorithmDescriptor(id))
            return error(std::string("the demo needs '") + id + "', which no loaded plug-in registers");
    }
    jobs.push_back(Job{kDemoImageId, Properties(kDemoImageId)});
    std::string why;
    auto tracking = PropertiesIO::loadFromString(kDemoTrackingSettings, &why);
    if (!tracking)
        return error("the built-in tracking settings do not parse: " + why);
    jobs.push_back(Job{kDemoTrackingId, std::move(*tracking)});
    return run(jobs, line.actions, line.seconds.value_or(kDemoSeconds));
}

int HostApplication::run(const std::vector<Job>& jobs, const std::vector<std::string>& actions,
                         double seconds)
{
    // Every algorithm is created, configured and computed before any watching starts, so the streams of
    // the demo run side by side.
    struct Running
    {
        std::string id;
        std::unique_ptr<Algorithm> algorithm;
        std::unique_ptr<AlgorithmController> controller;
        OwningDataList output;
    };
    std::vector<Running> running;
    std::vector<std::unique_ptr<StreamWatch>> watches;
    auto closeAll = [&] {
        for (auto& w : watches)
            w->stream().close();
    };
    for (const Job& job : jobs) {
        Running r;
        r.id = job.id;
        const auto descriptor = FactoryRegistry::get().algorithmDescriptor(job.id);
        try {
            r.algorithm = descriptor->create(DataList{});
        } catch (const std::exception& e) {
            closeAll();
            return error("creating '" + job.id + "' threw: " + e.what());
        }
        if (!r.algorithm) {
            closeAll();
            return error("'" + job.id + "' needs input data and cannot be run without it");
        }
        if (!job.settings.empty())
            r.algorithm->configure(&job.settings);
        r.controller = FactoryRegistry::get().createController(r.algorithm.get());
        try {
            r.algorithm->compute();
        } catch (const std::exception& e) {
            closeAll();
            return error("computing '" + job.id + "' threw: " + e.what());
        }
        r.output = r.algorithm->takeOutput();
        for (size_t i = 0; i < r.output.size(); ++i) {
            if (auto* stream = dynamic_cast<Stream*>(r.output[i]))
                watches.push_back(std::make_unique<StreamWatch>(*stream));
        }
        if (r.algorithm->status() != Algorithm::Status::Success) {
            closeAll();
            return error(fmt::format("computing '{}' failed with status {} ({})", job.id,
                                     static_cast<int>(r.algorithm->status()),
                                     Algorithm::statusToString(r.algorithm->status())));
        }
        std::cout << "Computed " << job.id << ": " << r.output.size() << " output item(s)\n";
        for (size_t i = 0; i < r.output.size(); ++i)
            std::cout << "  " << r.output[i]->name() << " (" << Data::kindString(r.output[i]->kind())
                      << ")\n";
        running.push_back(std::move(r));
    }
    AlgorithmController* controller = running.size() == 1 ? running.front().controller.get() : nullptr;

    int code = 0;
    for (const auto& action : actions) {
        bool known = false;
        bool ok = false;
        if (controller) {
            for (const auto& a : controller->actions()) {
                if (a.id == action) {
                    known = true;
                    ok = controller->runAction(action);
                }
            }
        }
        // The stream requests also work on output streams whose controller does not offer them.
        if (!known && !watches.empty()) {
            using Request = bool (Stream::*)();
            const std::vector<std::pair<std::string, Request>> requests{
                {"open", &Stream::open},     {"start", &Stream::start}, {"pause", &Stream::pause},
                {"resume", &Stream::resume}, {"stop", &Stream::stop},   {"close", &Stream::close}};
            for (const auto& [name, request] : requests) {
                if (name != action)
                    continue;
                known = true;
                ok = true;
                for (auto& w : watches)
                    ok = (w->stream().*request)() && ok;
            }
        }
        if (!known) {
            std::vector<std::string> available;
            if (controller) {
                for (const auto& a : controller->actions())
                    available.push_back(a.id);
            }
            if (!watches.empty()) {
                for (const char* request : {"open", "start", "pause", "resume", "stop", "close"})
                    available.push_back(request);
            }
            std::string list;
            for (const auto& a : available)
                list += (list.empty() ? "" : ", ") + a;
            code =
                error("unknown action '" + action + "' (available: " + (list.empty() ? "none" : list) + ")");
            continue;
        }
        std::cout << "Action " << action << ": " << (ok ? "done" : "failed") << "\n";
        if (!ok)
            code = 1;
    }

    if (!watches.empty()) {
        TerminationSignals signals;
        // Precise timers: Qt's default coarse timers may fire 5 % early or late, which would shift the
        // counting window of a run by more than a frame.
        QTimer status;
        status.setTimerType(Qt::PreciseTimer);
        QObject::connect(&status, &QTimer::timeout, [&] {
            for (const auto& w : watches) {
                const Stream& s = w->stream();
                std::cout << fmt::format("{}  {}  {}{}\n", s.name(), Stream::stateToString(s.currentState()),
                                         s.describe(), w->detail());
            }
            std::cout.flush();
        });
        for (auto& w : watches)
            w->start();
        status.start(1000);
        if (seconds >= 0)
            QTimer::singleShot(static_cast<int>(seconds * 1000.0) + kLastStatusMarginMs, Qt::PreciseTimer,
                               [] { QCoreApplication::quit(); });
        else
            std::cout << "Watching until interrupted (Ctrl-C)\n";
        std::cout.flush();
        QCoreApplication::exec();
        status.stop();
        for (auto& w : watches)
            w->stop();
    }
    closeAll();
    for (const auto& w : watches) {
        std::cout << fmt::format(
            "Summary {}: {} records, {:.1f} Hz measured, first arrival {}, last arrival {}\n",
            w->stream().name(), w->records(), w->measuredRate(),
            StreamWatch::formatTimestamp(w->firstArrivalMs()),
            StreamWatch::formatTimestamp(w->lastArrivalMs()));
        if (const std::string perRecord = w->summaryDetail(); !perRecord.empty())
            std::cout << perRecord << "\n";
    }
    watches.clear();
    running.clear();
    return code;
}

}  // namespace Corvexis
