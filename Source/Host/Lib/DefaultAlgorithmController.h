#pragma once

#include "Host/Lib/AlgorithmController.h"

namespace Corvexis {

// The controller the host uses when no factory offers a better one: the algorithm's parameters and
// actions, plus the action "compute" that runs the algorithm and succeeds when its status is Success.
// Threading: caller synchronises.
class DefaultAlgorithmController : public AlgorithmController
{
public:
    explicit DefaultAlgorithmController(Algorithm* algorithm);
    ~DefaultAlgorithmController() override;

    std::string controllerName() const override { return "DefaultAlgorithmController"; }
    std::vector<Algorithm::Action> actions() const override;
    bool runAction(const std::string& id) override;
};

}  // namespace Corvexis
