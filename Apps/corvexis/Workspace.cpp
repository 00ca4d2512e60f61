#include "Apps/corvexis/Workspace.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

#include "Apps/corvexis/HostApplication.h"

namespace Corvexis {

namespace {

std::vector<std::string> words(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    std::string word;
    while (in >> word)
        result.push_back(word);
    return result;
}

// Parsing state: the first error wins.
class Reader
{
public:
    Reader(Workspace& workspace, std::string* error) : w_(workspace), error_(error) {}

    bool fail(int line, const std::string& text)
    {
        if (error_ != nullptr)
            *error_ = w_.where(line) + text;
        return false;
    }

    int keyLine(const Properties& block, const std::string& key) const { return w_.lines.key(&block, key); }
    int blockLine(const Properties& block) const { return w_.lines.block(&block); }

    // Every key of `block` must be one of `known`.
    bool onlyKeys(const Properties& block, const std::vector<std::string>& known, const std::string& what)
    {
        for (const auto& key : block.paramNames()) {
            if (std::find(known.begin(), known.end(), key) != known.end())
                continue;
            return fail(keyLine(block, key), "unknown key '" + key + "' in " + what +
                                                 HostApplication::suggestion(key, known, "") +
                                                 " (keys: " + join(known) + ")");
        }
        return true;
    }

    static std::string join(const std::vector<std::string>& items)
    {
        std::string text;
        for (const auto& i : items)
            text += (text.empty() ? "" : ", ") + i;
        return text;
    }

private:
    Workspace& w_;
    std::string* error_;
};

}  // namespace

std::string Workspace::Action::describe() const
{
    switch (kind) {
        case Kind::Request:
            return name + " " + output;
        case Kind::Compute:
            return "compute " + step;
        case Kind::AlgorithmAction:
            return name + " on " + step;
        case Kind::Save:
            return "save " + output + " to " + file;
        case Kind::ActionOrRequest:
            return name;
    }
    return name;
}

const std::vector<std::string>& Workspace::requests()
{
    static const std::vector<std::string> names{"open", "start", "pause", "resume", "stop", "close"};
    return names;
}

std::string Workspace::where(int line) const
{
    if (file.empty())
        return {};
    if (line > 0)
        return file + ":" + std::to_string(line) + ": ";
    return nameFileWithoutLine ? file + ": " : std::string();
}

const Workspace::Step* Workspace::step(const std::string& name) const
{
    for (const Step& s : steps)
        if (s.name == name)
            return &s;
    return nullptr;
}

int Workspace::producerOf(const std::string& output) const
{
    for (size_t i = 0; i < steps.size(); ++i)
        if (std::find(steps[i].outputs.begin(), steps[i].outputs.end(), output) != steps[i].outputs.end())
            return static_cast<int>(i);
    return -1;
}

std::optional<Workspace> Workspace::load(const std::string& path, const Resolver& resolve, std::string* error)
{
    PropertiesIO::SourceLines lines;
    std::string why;
    auto tree = PropertiesIO::loadFromFile(path, &why, &lines);
    if (!tree) {
        // "<path>: line L, column C: what" becomes "<path>:L: column C: what".
        const std::string prefix = path + ": line ";
        if (why.starts_with(prefix)) {
            const size_t comma = why.find(", ", prefix.size());
            if (comma != std::string::npos)
                why = path + ":" + why.substr(prefix.size(), comma - prefix.size()) + ": " +
                      why.substr(comma + 2);
        }
        if (error != nullptr)
            *error = why;
        return std::nullopt;
    }
    return parse(std::move(tree), std::move(lines), path, resolve, error);
}

std::optional<Workspace> Workspace::parse(std::unique_ptr<Properties> tree, PropertiesIO::SourceLines lines,
                                          const std::string& file, const Resolver& resolve,
                                          std::string* error)
{
    Workspace w;
    w.file = file;
    w.lines = std::move(lines);
    w.tree_ = std::move(tree);
    const Properties& root = *w.tree_;
    Reader r(w, error);
    if (root.name() != "Workspace") {
        r.fail(r.blockLine(root), "the top block must be named Workspace, not '" + root.name() + "'");
        return std::nullopt;
    }
    if (!r.onlyKeys(root, {"seconds"}, "Workspace"))
        return std::nullopt;
    if (root.hasParam("seconds")) {
        double seconds = -1;
        if (!root.getParam("seconds", seconds) || !std::isfinite(seconds) || seconds < 0) {
            r.fail(r.keyLine(root, "seconds"), "malformed time '" + *root.paramText("seconds") +
                                                   "': expected a number of seconds, 0 or more");
            return std::nullopt;
        }
        w.seconds = seconds;
    }
    const Properties* timeline = nullptr;
    for (const Properties* block : root.subProperties()) {
        if (block->name() == "Timeline") {
            if (timeline != nullptr) {
                r.fail(r.blockLine(*block), "a second Timeline block (write every action into one)");
                return std::nullopt;
            }
            timeline = block;
        } else if (block->name() != "Step") {
            r.fail(r.blockLine(*block),
                   "unknown block '" + block->name() + "' in Workspace (blocks: Step, Timeline)");
            return std::nullopt;
        }
    }

    // Steps, in order; every output name is unique over the whole workspace.
    std::map<std::string, int> outputLines;
    for (const Properties* block : root.subPropertiesList("Step")) {
        Step step;
        step.line = r.blockLine(*block);
        if (!r.onlyKeys(*block, {"name", "algorithm", "inputs", "outputs"}, "Step"))
            return std::nullopt;
        for (const Properties* sub : block->subProperties()) {
            if (sub->name() != "Configuration") {
                r.fail(r.blockLine(*sub),
                       "unknown block '" + sub->name() + "' in Step (blocks: Configuration)");
                return std::nullopt;
            }
            if (step.configuration != nullptr) {
                r.fail(r.blockLine(*sub), "a second Configuration block in one Step");
                return std::nullopt;
            }
            step.configuration = sub;
        }
        const std::string* algorithm = block->paramText("algorithm");
        if (algorithm == nullptr || algorithm->empty()) {
            r.fail(step.line, "Step without 'algorithm' (an identifier from 'corvexis list')");
            return std::nullopt;
        }
        std::string why;
        step.algorithm = resolve(*algorithm, &why);
        if (step.algorithm.empty()) {
            r.fail(r.keyLine(*block, "algorithm"), why);
            return std::nullopt;
        }
        const bool named = block->hasParam("name");
        step.name = named ? *block->paramText("name") : "step" + std::to_string(w.steps.size() + 1);
        if (named && (step.name.empty() || words(step.name).size() != 1)) {
            r.fail(r.keyLine(*block, "name"), "malformed step name '" + step.name + "': one word expected");
            return std::nullopt;
        }
        if (const Step* other = w.step(step.name)) {
            r.fail(named ? r.keyLine(*block, "name") : step.line, "duplicate step name '" + step.name +
                                                                      "' (first on line " +
                                                                      std::to_string(other->line) + ")");
            return std::nullopt;
        }
        if (const std::string* inputs = block->paramText("inputs")) {
            for (const std::string& input : words(*inputs)) {
                if (w.producerOf(input) >= 0) {
                    step.inputs.push_back(input);
                    continue;
                }
                // Named later? Then the order is wrong; else the name is unknown.
                for (const Properties* later : root.subPropertiesList("Step")) {
                    const std::string* outs = later->paramText("outputs");
                    std::vector<std::string> names =
                        outs != nullptr ? words(*outs) : std::vector<std::string>{};
                    if (outs == nullptr && later->hasParam("name"))
                        names.push_back(*later->paramText("name"));
                    if (later != block && std::find(names.begin(), names.end(), input) != names.end() &&
                        r.blockLine(*later) >= step.line) {
                        r.fail(r.keyLine(*block, "inputs"),
                               "input '" + input + "' is an output of a later step (line " +
                                   std::to_string(r.blockLine(*later)) + "); steps run in file order");
                        return std::nullopt;
                    }
                }
                std::vector<std::string> known;
                for (const auto& [name, line] : outputLines)
                    known.push_back(name);
                r.fail(r.keyLine(*block, "inputs"),
                       "unknown input '" + input + "'" +
                           HostApplication::suggestion(
                               input, known,
                               known.empty() ? " (no earlier step has outputs)"
                                             : " (outputs so far: " + Reader::join(known) + ")"));
                return std::nullopt;
            }
        }
        if (const std::string* outputs = block->paramText("outputs"))
            step.outputs = words(*outputs);
        else if (named)
            step.outputs = {step.name};
        for (const std::string& output : step.outputs) {
            const int line =
                block->hasParam("outputs") ? r.keyLine(*block, "outputs") : r.keyLine(*block, "name");
            if (const auto it = outputLines.find(output); it != outputLines.end()) {
                r.fail(line, "duplicate output name '" + output + "' (first on line " +
                                 std::to_string(it->second) + ")");
                return std::nullopt;
            }
            outputLines[output] = line;
        }
        w.steps.push_back(std::move(step));
    }

    if (timeline != nullptr) {
        if (!r.onlyKeys(*timeline, {}, "Timeline"))
            return std::nullopt;
        for (const Properties* block : timeline->subProperties()) {
            const int line = r.blockLine(*block);
            if (block->name() != "Action" || block->subPropertiesCount() != 0) {
                r.fail(line, "unknown block '" + block->name() +
                                 "' in Timeline (blocks: Action, without sub-blocks)");
                return std::nullopt;
            }
            if (!r.onlyKeys(*block, {"at", "request", "output", "action", "step", "compute", "save", "file"},
                            "Action"))
                return std::nullopt;
            Action action;
            action.line = line;
            const std::string* at = block->paramText("at");
            if (at == nullptr) {
                r.fail(line, "Action without 'at' (seconds after the steps ran)");
                return std::nullopt;
            }
            if (!block->getParam("at", action.atSeconds) || !std::isfinite(action.atSeconds) ||
                action.atSeconds < 0) {
                r.fail(r.keyLine(*block, "at"),
                       "malformed time '" + *at + "': expected a number of seconds, 0 or more");
                return std::nullopt;
            }
            int kinds = 0;
            for (const char* key : {"request", "action", "compute", "save"})
                kinds += block->hasParam(key) ? 1 : 0;
            if (kinds != 1) {
                r.fail(line, "an Action needs exactly one of 'request', 'action', 'compute' or 'save'");
                return std::nullopt;
            }
            auto needOutput = [&](const char* key) -> bool {
                const std::string* output = block->paramText(key);
                if (output == nullptr)
                    return r.fail(line, std::string("this Action needs '") + key + "' (an output name)");
                action.output = *output;
                if (w.producerOf(action.output) >= 0)
                    return true;
                std::vector<std::string> known;
                for (const auto& [name, l] : outputLines)
                    known.push_back(name);
                return r.fail(r.keyLine(*block, key),
                              "no output named '" + action.output + "'" +
                                  HostApplication::suggestion(action.output, known, ""));
            };
            auto needStep = [&](const char* key) -> bool {
                const std::string* name = block->paramText(key);
                if (name == nullptr)
                    return r.fail(line, std::string("this Action needs '") + key + "' (a step name)");
                action.step = *name;
                if (w.step(action.step) != nullptr)
                    return true;
                std::vector<std::string> known;
                for (const Step& s : w.steps)
                    known.push_back(s.name);
                return r.fail(r.keyLine(*block, key),
                              "no step named '" + action.step + "'" +
                                  HostApplication::suggestion(action.step, known, ""));
            };
            if (const std::string* request = block->paramText("request")) {
                action.kind = Action::Kind::Request;
                action.name = *request;
                if (std::find(requests().begin(), requests().end(), action.name) == requests().end()) {
                    r.fail(r.keyLine(*block, "request"), "unknown request '" + action.name + "' (requests: " +
                                                             Reader::join(requests()) + ")");
                    return std::nullopt;
                }
                if (!needOutput("output"))
                    return std::nullopt;
            } else if (const std::string* name = block->paramText("action")) {
                action.kind = Action::Kind::AlgorithmAction;
                action.name = *name;
                if (!needStep("step"))
                    return std::nullopt;
            } else if (block->hasParam("compute")) {
                action.kind = Action::Kind::Compute;
                if (!needStep("compute"))
                    return std::nullopt;
            } else {
                action.kind = Action::Kind::Save;
                if (!needOutput("save"))
                    return std::nullopt;
                const std::string* path = block->paramText("file");
                if (path == nullptr || path->empty()) {
                    r.fail(line, "a save Action needs 'file'");
                    return std::nullopt;
                }
                action.file = *path;
            }
            w.timeline.push_back(std::move(action));
        }
        std::stable_sort(w.timeline.begin(), w.timeline.end(),
                         [](const Action& a, const Action& b) { return a.atSeconds < b.atSeconds; });
    }
    return w;
}

}  // namespace Corvexis
