#include "Host/Lib/DefaultAlgorithmController.h"

namespace Corvexis {

namespace {
constexpr const char* kComputeAction = "compute";
}

DefaultAlgorithmController::DefaultAlgorithmController(Algorithm* algorithm) : AlgorithmController(algorithm) {}

DefaultAlgorithmController::~DefaultAlgorithmController() = default;

std::vector<Algorithm::Action> DefaultAlgorithmController::actions() const
{
    auto result = AlgorithmController::actions();
    if (algorithm() != nullptr)
        result.insert(result.begin(), Algorithm::Action{kComputeAction, "Compute"});
    return result;
}

bool DefaultAlgorithmController::runAction(const std::string& id)
{
    if (id == kComputeAction && algorithm() != nullptr) {
        algorithm()->compute();
        return algorithm()->status() == Algorithm::Status::Success;
    }
    return AlgorithmController::runAction(id);
}

}  // namespace Corvexis
