#pragma once

#include <string>
#include <vector>

#include "Host/Lib/Algorithm.h"

namespace Corvexis {

class ParameterBase;

// What a user interface needs of an algorithm, without the widgets: the parameters a person may edit
// and the named actions a person may trigger. Headless hosts (the command-line application) drive
// algorithms through it; graphical ones would build their panels from it.
//
// The controller borrows its algorithm, which must outlive it. Threading: caller synchronises (the
// host's user-interface thread).
class AlgorithmController
{
public:
    explicit AlgorithmController(Algorithm* algorithm);
    virtual ~AlgorithmController();
    AlgorithmController(const AlgorithmController&) = delete;
    AlgorithmController& operator=(const AlgorithmController&) = delete;

    Algorithm* algorithm() const { return algorithm_; }
    // A name for the kind of controller ("DefaultAlgorithmController", "StreamControllerBase", ...).
    virtual std::string controllerName() const = 0;
    // The editable parameters; by default the algorithm's own.
    virtual std::vector<ParameterBase*> parameters() const;
    // The actions offered; by default the algorithm's own.
    virtual std::vector<Algorithm::Action> actions() const;
    // Runs the action `id`; false when there is none or it failed. By default the algorithm's runAction.
    virtual bool runAction(const std::string& id);

private:
    Algorithm* const algorithm_;
};

}  // namespace Corvexis
