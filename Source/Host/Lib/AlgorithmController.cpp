#include "Host/Lib/AlgorithmController.h"

namespace Corvexis {

AlgorithmController::AlgorithmController(Algorithm* algorithm) : algorithm_(algorithm) {}

AlgorithmController::~AlgorithmController() = default;

std::vector<ParameterBase*> AlgorithmController::parameters() const
{
    return algorithm_ != nullptr ? algorithm_->parameters() : std::vector<ParameterBase*>{};
}

std::vector<Algorithm::Action> AlgorithmController::actions() const
{
    return algorithm_ != nullptr ? algorithm_->actions() : std::vector<Algorithm::Action>{};
}

bool AlgorithmController::runAction(const std::string& id)
{
    return algorithm_ != nullptr && algorithm_->runAction(id);
}

}  // namespace Corvexis
