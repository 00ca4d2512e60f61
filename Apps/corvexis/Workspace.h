#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Host/Core/Properties.h"
#include "Host/Core/PropertiesIO.h"

namespace Corvexis {

// A workspace: an ordered list of steps (each an algorithm with inputs, configuration and named
// outputs) and a timeline of actions at given seconds. The file form is documented in
// docs/workspace-format.md; parse() checks everything that can be known without running an algorithm
// (identifiers, names, references, times) and reports the first problem with its line.
//
// A value; movable (the steps point into the parsed tree, which moves with it). Caller synchronises.
class Workspace
{
public:
    struct Step
    {
        std::string name;                           // given, or "step<N>" (1-based)
        std::string algorithm;                      // full identifier
        std::vector<std::string> inputs;            // output names of earlier steps, in order
        std::vector<std::string> outputs;           // names given to the outputs, in order
        const Properties* configuration = nullptr;  // the Configuration block, or null
        int line = 0;
    };

    struct Action
    {
        enum class Kind
        {
            Request,          // a stream request on an output
            Compute,          // compute a step again
            AlgorithmAction,  // one of a step's algorithm actions
            Save,             // save an output to a file
            // The command line's --action: the step's algorithm action of that name if it has one,
            // else the request on each of its outputs.
            ActionOrRequest,
        };
        Kind kind = Kind::Request;
        double atSeconds = 0;
        std::string name;    // the request or action
        std::string output;  // Request, Save
        std::string step;    // Compute, AlgorithmAction, ActionOrRequest
        std::string file;    // Save
        int line = 0;
        // "pause image", "addMesh on poly", "compute poly", "save image to a.cvx".
        std::string describe() const;
    };

    // Full identifier for a written one, or "" with *why.
    using Resolver = std::function<std::string(const std::string& id, std::string* why)>;

    // The stream requests a timeline may name.
    static const std::vector<std::string>& requests();

    // Reads and checks `path`; empty with *error ("<path>:<line>: what", or "<path>: what") on failure.
    static std::optional<Workspace> load(const std::string& path, const Resolver& resolve,
                                         std::string* error);
    // Checks a parsed tree; `file` names it in errors.
    static std::optional<Workspace> parse(std::unique_ptr<Properties> tree, PropertiesIO::SourceLines lines,
                                          const std::string& file, const Resolver& resolve,
                                          std::string* error);

    // "<file>:<line>: " (or "<file>: " without a line, "" without a file).
    std::string where(int line) const;
    // The step with that name, or null.
    const Step* step(const std::string& name) const;
    // The index of the step whose outputs include `output`, or -1.
    int producerOf(const std::string& output) const;

    std::string file;
    // Whether where() names the file for problems without a line (false for settings given on the
    // command line, which share the workspace of a configuration file).
    bool nameFileWithoutLine = true;
    std::optional<double> seconds;  // how long to run, when the file says
    std::vector<Step> steps;
    std::vector<Action> timeline;  // by time; equal times in file order
    PropertiesIO::SourceLines lines;

private:
    std::unique_ptr<Properties> tree_;
};

}  // namespace Corvexis
