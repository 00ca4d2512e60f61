#include "Apps/corvexis/WorkspaceRunner.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <iostream>

#include <fmt/format.h>

#include "Apps/corvexis/HostApplication.h"
#include "Apps/corvexis/SettingsApplier.h"
#include "Apps/corvexis/TerminationSignals.h"
#include "Host/Core/CompoundData.h"
#include "Host/Core/Data.h"
#include "Host/Core/OwningDataList.h"
#include "Host/Lib/Algorithm.h"
#include "Host/Lib/AlgorithmController.h"
#include "Host/Lib/DataDisplay.h"
#include "Host/Lib/DataDisplayHandlerFactory.h"
#include "Host/Lib/FactoryRegistry.h"
#include "Host/Lib/Files/CorvexisFile.h"

namespace Corvexis {

namespace {

// The run ends this long after its last full second, so the status line of that second comes first.
constexpr int kLastStatusMarginMs = 20;
// How often a run that ends with its outputs looks at them.
constexpr int kInactivePollMs = 50;

std::string describe(const Data& data)
{
    if (const auto annotation = FactoryRegistry::get().annotate(data);
        annotation && !annotation->description.empty())
        return annotation->description;
    return Data::kindString(data.kind());
}

std::string joined(const std::vector<std::string>& items)
{
    std::string text;
    for (const auto& i : items)
        text += (text.empty() ? "" : ", ") + i;
    return text.empty() ? "none" : text;
}

std::vector<std::string> actionIds(const AlgorithmController& controller)
{
    std::vector<std::string> ids;
    for (const auto& a : controller.actions())
        ids.push_back(a.id);
    return ids;
}

// How a step is named in messages: the algorithm alone for the single unnamed step of 'corvexis run'.
std::string labelOf(const Workspace::Step& step, const Workspace& workspace)
{
    if (workspace.steps.size() == 1 && step.name == "step1" && step.outputs.empty())
        return step.algorithm;
    return "step '" + step.name + "' (" + step.algorithm + ")";
}

}  // namespace

WorkspaceRunner::WorkspaceRunner(const Workspace& workspace) : workspace_(workspace) {}

WorkspaceRunner::~WorkspaceRunner()
{
    closeAll();
}

bool WorkspaceRunner::check()
{
    const auto& registry = FactoryRegistry::get();
    for (const Workspace::Step& step : workspace_.steps) {
        if (!step.inputs.empty())
            continue;  // such algorithms exist only with their inputs; they are checked when created
        const auto descriptor = registry.algorithmDescriptor(step.algorithm);
        std::unique_ptr<Algorithm> probe;
        try {
            probe = descriptor->create(DataList{});
        } catch (const std::exception& e) {
            return HostApplication::error(workspace_.where(step.line) + "creating '" + step.algorithm +
                                          "' threw: " + e.what()) == 0;
        }
        if (!probe)
            return HostApplication::error(workspace_.where(step.line) + "'" + step.algorithm +
                                          "' needs input data; give the step 'inputs'") == 0;
        if (step.configuration != nullptr) {
            Properties schema;
            probe->describeSettings(&schema);
            Properties current;
            probe->configuration(&current);
            SettingsApplier::Refusal refusal;
            if (!SettingsApplier::check(schema, current, *step.configuration, nullptr, &refusal,
                                        &workspace_.lines))
                return HostApplication::error(workspace_.where(refusal.line > 0 ? refusal.line : step.line) +
                                              refusal.text + " (" + labelOf(step, workspace_) + ")") == 0;
        }
        const auto controller = registry.createController(probe.get());
        const auto actions = actionIds(*controller);
        for (const Workspace::Action& action : workspace_.timeline) {
            if (action.step != step.name)
                continue;
            const bool isAction = std::find(actions.begin(), actions.end(), action.name) != actions.end();
            if (action.kind == Workspace::Action::Kind::AlgorithmAction && !isAction)
                return HostApplication::error(workspace_.where(action.line) + "step '" + step.name + "' (" +
                                              step.algorithm + ") has no action '" + action.name +
                                              "' (actions: " + joined(actions) + ")") == 0;
            const auto& requests = Workspace::requests();
            if (action.kind == Workspace::Action::Kind::ActionOrRequest && !isAction &&
                std::find(requests.begin(), requests.end(), action.name) == requests.end()) {
                std::vector<std::string> available = actions;
                available.insert(available.end(), requests.begin(), requests.end());
                return HostApplication::error(workspace_.where(action.line) + "unknown action '" +
                                              action.name + "' (available: " + joined(available) + ")") == 0;
            }
        }
    }
    return true;
}

bool WorkspaceRunner::startStep(const Workspace::Step& step)
{
    const std::string label = labelOf(step, workspace_);
    DataList inputs;
    for (const std::string& name : step.inputs) {
        Output* output = findOutput(name);
        if (output == nullptr || !output->data)
            return HostApplication::error(workspace_.where(step.line) + label + ": its input '" + name +
                                          "' was not produced") == 0;
        inputs.add(output->data.get());
    }
    RunningStep running;
    running.step = &step;
    try {
        running.algorithm = FactoryRegistry::get().algorithmDescriptor(step.algorithm)->create(inputs);
    } catch (const std::exception& e) {
        return HostApplication::error(workspace_.where(step.line) + label +
                                      ": creating it threw: " + e.what()) == 0;
    }
    if (!running.algorithm)
        return HostApplication::error(workspace_.where(step.line) + label + " does not take " +
                                      (step.inputs.empty() ? std::string("no inputs")
                                                           : "the inputs " + joined(step.inputs))) == 0;
    if (step.configuration != nullptr && !step.configuration->empty()) {
        SettingsApplier::Refusal refusal;
        if (!SettingsApplier::apply(*running.algorithm, *step.configuration, &refusal, &workspace_.lines))
            return HostApplication::error(workspace_.where(refusal.line > 0 ? refusal.line : step.line) +
                                          refusal.text + " (" + label + ")") == 0;
    }
    running.controller = FactoryRegistry::get().createController(running.algorithm.get());
    try {
        running.algorithm->compute();
    } catch (const std::exception& e) {
        return HostApplication::error(workspace_.where(step.line) + label +
                                      ": computing threw: " + e.what()) == 0;
    }
    steps_.push_back(std::move(running));
    RunningStep& added = steps_.back();
    const bool taken = takeOutputs(added);
    if (added.algorithm->status() != Algorithm::Status::Success)
        return HostApplication::error(fmt::format("{}{} failed with status {} ({})",
                                                  workspace_.where(step.line), label,
                                                  static_cast<int>(added.algorithm->status()),
                                                  Algorithm::statusToString(added.algorithm->status()))) == 0;
    return taken;
}

bool WorkspaceRunner::takeOutputs(RunningStep& running)
{
    OwningDataList items = running.algorithm->takeOutput();
    if (items.size() == 0)
        return true;
    const Workspace::Step& step = *running.step;
    // A step computed again replaces its outputs.
    while (!running.outputs.empty()) {
        Output& old = running.outputs.back();
        if (old.display) {
            old.display->stopWatching();
            old.display->request("close");
            printSummary(old);
        }
        running.outputs.pop_back();
    }
    std::cout << fmt::format("Computed {}: {} output item(s)\n", labelOf(step, workspace_), items.size());
    if (items.size() < step.outputs.size())
        HostApplication::error(fmt::format("{}step '{}' names {} output(s) but {} gave {}",
                                           workspace_.where(step.line), step.name, step.outputs.size(),
                                           step.algorithm, items.size()));
    const size_t count = items.size();
    for (size_t i = 0; i < count; ++i) {
        Output output;
        output.name = i < step.outputs.size() ? step.outputs[i] : step.name + "." + std::to_string(i + 1);
        output.data = items.take(0);
        if (!output.data)
            continue;
        auto [display, handler] = DataDisplayHandlerFactory::get().createDisplay(*output.data);
        output.display = std::move(display);
        const bool named = i < step.outputs.size();
        // A group of streams without a display of its own is shown through its parts.
        std::vector<Output> parts;
        if (auto* compound = dynamic_cast<CompoundData*>(output.data.get()); compound && !output.display) {
            const DataList contained = compound->containedData();
            for (size_t k = 0; k < contained.size(); ++k) {
                Output part;
                part.name = output.name + "." + std::to_string(k + 1);
                part.part = contained[k];
                part.display = DataDisplayHandlerFactory::get().createDisplay(*contained[k]).first;
                if (part.display)
                    parts.push_back(std::move(part));
            }
        }
        std::cout << fmt::format(
            "  {}{} ({}){}\n", named ? output.name + " = " : "", output.data->name(), describe(*output.data),
            output.display || !parts.empty() ? "" : ", not shown: no display handler knows it");
        if (output.display && watching_)
            output.display->startWatching();
        running.outputs.push_back(std::move(output));
        // Parts come after their group, so they are closed and destroyed before it.
        for (Output& part : parts) {
            std::cout << fmt::format("    {} = {} ({})\n", part.name, part.part->name(),
                                     describe(*part.part));
            if (watching_)
                part.display->startWatching();
            running.outputs.push_back(std::move(part));
        }
    }
    return count >= step.outputs.size();
}

WorkspaceRunner::Output* WorkspaceRunner::findOutput(const std::string& name)
{
    for (auto& s : steps_)
        for (auto& o : s.outputs)
            if (o.name == name)
                return &o;
    return nullptr;
}

WorkspaceRunner::RunningStep* WorkspaceRunner::findStep(const std::string& name)
{
    for (auto& s : steps_)
        if (s.step->name == name)
            return &s;
    return nullptr;
}

bool WorkspaceRunner::request(Output& output, const std::string& name)
{
    if (output.display)
        return output.display->request(name);
    // A group shown through its parts: a request on its first part acts on the whole group.
    Output* first = findOutput(output.name + ".1");
    return first != nullptr && first->part != nullptr && first->display && first->display->request(name);
}

bool WorkspaceRunner::runAction(const Workspace::Action& action)
{
    bool ok = false;
    std::string note;
    switch (action.kind) {
        case Workspace::Action::Kind::Request: {
            Output* output = findOutput(action.output);
            ok = output != nullptr && request(*output, action.name);
            if (output != nullptr && !output->display && !ok)
                note = " (it offers no requests)";
            break;
        }
        case Workspace::Action::Kind::Compute: {
            RunningStep* step = findStep(action.step);
            if (step == nullptr)
                break;
            try {
                step->algorithm->compute();
                ok = step->algorithm->status() == Algorithm::Status::Success;
                ok = takeOutputs(*step) && ok;
            } catch (const std::exception& e) {
                note = std::string(" (it threw: ") + e.what() + ")";
            }
            break;
        }
        case Workspace::Action::Kind::AlgorithmAction: {
            RunningStep* step = findStep(action.step);
            ok = step != nullptr && step->controller->runAction(action.name);
            break;
        }
        case Workspace::Action::Kind::Save: {
            // Data outputs (a loaded file, a recording) are written as a native data file; a live
            // stream cannot be, and the writer says so.
            Output* output = findOutput(action.output);
            Data* item = output == nullptr ? nullptr : output->data ? output->data.get() : output->part;
            if (item == nullptr)
                break;
            CorvexisFile writer;
            ok = writer.save(DataList{item}, action.file);
            note = ok ? " (" + action.file + ")" : " (" + writer.lastError() + ")";
            break;
        }
        case Workspace::Action::Kind::ActionOrRequest: {
            RunningStep* step = findStep(action.step);
            if (step == nullptr)
                break;
            const auto actions = actionIds(*step->controller);
            if (std::find(actions.begin(), actions.end(), action.name) != actions.end()) {
                ok = step->controller->runAction(action.name);
                break;
            }
            ok = !step->outputs.empty();
            for (Output& output : step->outputs)
                ok = request(output, action.name) && ok;
            break;
        }
    }
    const std::string when = action.kind == Workspace::Action::Kind::ActionOrRequest
                                 ? ""
                                 : fmt::format("At {} s: ", action.atSeconds);
    std::cout << when << "Action " << action.describe() << ": " << (ok ? "done" : "failed") << note << "\n";
    std::cout.flush();
    if (!ok)
        failed_ = true;
    return ok;
}

void WorkspaceRunner::printStatus() const
{
    for (const auto& s : steps_)
        for (const auto& o : s.outputs)
            if (o.display)
                std::cout << o.display->statusLine() << "\n";
    std::cout.flush();
}

void WorkspaceRunner::printSummary(const Output& output) const
{
    if (!output.display)
        return;
    for (const auto& line : output.display->summary())
        std::cout << line << "\n";
}

void WorkspaceRunner::closeAll()
{
    for (auto step = steps_.rbegin(); step != steps_.rend(); ++step)
        for (auto output = step->outputs.rbegin(); output != step->outputs.rend(); ++output)
            if (output->display)
                output->display->request("close");
    while (!steps_.empty()) {
        RunningStep& last = steps_.back();
        while (!last.outputs.empty())
            last.outputs.pop_back();
        last.controller.reset();
        last.algorithm.reset();
        steps_.pop_back();
    }
}

int WorkspaceRunner::run(std::optional<double> seconds, const std::string& snapshotDirectory,
                         bool untilInactive)
{
    if (!check())
        return 1;
    if (!snapshotDirectory.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(snapshotDirectory, ec);
        if (ec || !std::filesystem::is_directory(snapshotDirectory))
            return HostApplication::error("cannot use the snapshot directory " + snapshotDirectory + ": " +
                                          (ec ? ec.message() : "not a directory"));
    }
    for (const Workspace::Step& step : workspace_.steps) {
        if (!startStep(step)) {
            closeAll();
            return 1;
        }
    }
    // Actions due at once run before watching begins, so that the first status line shows their effect.
    size_t next = 0;
    while (next < workspace_.timeline.size() && workspace_.timeline[next].atSeconds <= 0)
        runAction(workspace_.timeline[next++]);

    TerminationSignals signals;
    // Precise timers: Qt's default coarse timers may fire 5 % early or late, which would shift the
    // counting window of a run by more than a frame.
    QTimer status;
    status.setTimerType(Qt::PreciseTimer);
    QObject::connect(&status, &QTimer::timeout, [this] { printStatus(); });
    std::vector<std::unique_ptr<QTimer>> timers;
    for (size_t i = next; i < workspace_.timeline.size(); ++i) {
        auto timer = std::make_unique<QTimer>();
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        const Workspace::Action* action = &workspace_.timeline[i];
        QObject::connect(timer.get(), &QTimer::timeout, [this, action] { runAction(*action); });
        timer->start(static_cast<int>(action->atSeconds * 1000.0));
        timers.push_back(std::move(timer));
    }
    watching_ = true;
    for (auto& s : steps_)
        for (auto& o : s.outputs)
            if (o.display)
                o.display->startWatching();
    status.start(1000);
    // Polled, since the outputs' states change on their own threads.
    QTimer inactive;
    bool sawActive = false;
    QObject::connect(&inactive, &QTimer::timeout, [this, &sawActive] {
        bool active = false;
        for (const auto& s : steps_)
            for (const auto& o : s.outputs)
                active = active || (o.display && o.display->isActive());
        if (active) {
            sawActive = true;
        } else if (sawActive) {
            std::cout << "Every stream has ended\n";
            QCoreApplication::quit();
        }
    });
    if (untilInactive)
        inactive.start(kInactivePollMs);
    QTimer end;
    end.setSingleShot(true);
    end.setTimerType(Qt::PreciseTimer);
    QObject::connect(&end, &QTimer::timeout, [] { QCoreApplication::quit(); });
    if (seconds)
        end.start(static_cast<int>(*seconds * 1000.0) + kLastStatusMarginMs);
    else
        std::cout << "Watching until interrupted (Ctrl-C)\n";
    std::cout.flush();
    QCoreApplication::exec();
    inactive.stop();
    status.stop();
    timers.clear();
    watching_ = false;
    for (auto& s : steps_)
        for (auto& o : s.outputs)
            if (o.display)
                o.display->stopWatching();

    // Close first, so that no stream paints into the frame a snapshot reads; then snapshots and summaries.
    for (auto step = steps_.rbegin(); step != steps_.rend(); ++step)
        for (auto output = step->outputs.rbegin(); output != step->outputs.rend(); ++output)
            if (output->display)
                output->display->request("close");
    int code = failed_ ? 1 : 0;
    if (!snapshotDirectory.empty()) {
        std::vector<std::string> written;
        for (auto& s : steps_) {
            for (auto& o : s.outputs) {
                std::string why;
                if (o.display && !o.display->snapshot(snapshotDirectory, &written, &why))
                    code = HostApplication::error("snapshot of '" + o.name + "' failed: " + why);
            }
        }
        for (const auto& path : written)
            std::cout << "Snapshot " << path << "\n";
    }
    for (const auto& s : steps_)
        for (const auto& o : s.outputs)
            printSummary(o);
    closeAll();
    std::cout.flush();
    return code;
}

}  // namespace Corvexis
