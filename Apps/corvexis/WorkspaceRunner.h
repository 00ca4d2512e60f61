#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Apps/corvexis/Workspace.h"

namespace Corvexis {

class Algorithm;
class AlgorithmController;
class Data;
class DataDisplay;

// Runs a Workspace in the headless host: checks what needs the algorithms themselves (the
// configuration of every step without inputs, the actions the timeline names) before anything starts,
// then creates, configures and computes the steps in order, shows every output through the data
// display handlers, carries out the timeline, prints one status line per shown output per second, and
// at the end (or on Ctrl-C) writes the snapshots, closes every output in reverse order and prints the
// summaries. Runs on the main thread inside its Qt event loop; caller synchronises.
class WorkspaceRunner
{
public:
    explicit WorkspaceRunner(const Workspace& workspace);
    ~WorkspaceRunner();
    WorkspaceRunner(const WorkspaceRunner&) = delete;
    WorkspaceRunner& operator=(const WorkspaceRunner&) = delete;

    // Runs for `seconds` (until interrupted when empty); writes snapshots into `snapshotDirectory` when
    // it is not empty. With `untilInactive`, the run also ends once every shown output that was active
    // (a running stream) has become inactive, such as streams that played a recording to its end. The
    // process exit code: 0 when every step and action succeeded.
    int run(std::optional<double> seconds, const std::string& snapshotDirectory, bool untilInactive = false);

private:
    struct Output
    {
        std::string name;
        std::unique_ptr<Data> data;  // owned; null for a part of a group
        Data* part = nullptr;        // a part of an earlier output, borrowed
        std::unique_ptr<DataDisplay> display;
    };
    struct RunningStep
    {
        const Workspace::Step* step = nullptr;
        std::unique_ptr<Algorithm> algorithm;
        std::unique_ptr<AlgorithmController> controller;
        std::vector<Output> outputs;  // destroyed before the controller and the algorithm
    };

    bool check();
    bool startStep(const Workspace::Step& step);
    // Takes the algorithm's new output items, names and shows them; the step's earlier outputs, if any,
    // are closed and summarised first.
    bool takeOutputs(RunningStep& running);
    bool runAction(const Workspace::Action& action);
    bool request(Output& output, const std::string& name);
    Output* findOutput(const std::string& name);
    RunningStep* findStep(const std::string& name);
    void printStatus() const;
    void printSummary(const Output& output) const;
    // Closes and destroys everything, last step first.
    void closeAll();

    const Workspace& workspace_;
    std::vector<RunningStep> steps_;
    bool watching_ = false;
    bool failed_ = false;
};

}  // namespace Corvexis
