#include "Stream/Framework/StreamControllerBase.h"

#include <array>
#include <functional>

#include "Stream/Framework/Stream.h"
#include "Stream/Framework/StreamAlgorithmBase.h"

namespace Corvexis {

namespace {

struct StreamAction
{
    const char* id;
    const char* label;
    bool (Stream::*request)();
};

constexpr std::array<StreamAction, 6> kStreamActions{{
    {"open", "Open", &Stream::open},
    {"start", "Start", &Stream::start},
    {"pause", "Pause", &Stream::pause},
    {"resume", "Resume", &Stream::resume},
    {"stop", "Stop", &Stream::stop},
    {"close", "Close", &Stream::close},
}};

}  // namespace

StreamControllerBase::StreamControllerBase(Algorithm* algorithm, StreamAlgorithmBase* streamAlgorithm)
    : AlgorithmController(algorithm), streamAlgorithm_(streamAlgorithm)
{
}

StreamControllerBase::~StreamControllerBase() = default;

Stream* StreamControllerBase::stream() const
{
    return streamAlgorithm_ != nullptr ? streamAlgorithm_->stream() : nullptr;
}

std::vector<Algorithm::Action> StreamControllerBase::actions() const
{
    std::vector<Algorithm::Action> result;
    for (const auto& a : kStreamActions)
        result.push_back({a.id, a.label});
    for (auto& a : AlgorithmController::actions())
        result.push_back(std::move(a));
    return result;
}

bool StreamControllerBase::runAction(const std::string& id)
{
    for (const auto& a : kStreamActions) {
        if (id == a.id) {
            Stream* s = stream();
            return s != nullptr && std::invoke(a.request, *s);
        }
    }
    return AlgorithmController::runAction(id);
}

}  // namespace Corvexis
