#pragma once

#include "Host/Lib/AlgorithmController.h"

namespace Corvexis {

class Stream;
class StreamAlgorithmBase;

// The headless controller of an algorithm that produces a stream: the algorithm's parameters and
// actions, plus the stream's requests as actions "open", "start", "pause", "resume", "stop" and
// "close" (each succeeds when the request does; all fail while there is no stream).
// The algorithm must be a StreamAlgorithmBase as well. Threading: caller synchronises.
class StreamControllerBase : public AlgorithmController
{
public:
    StreamControllerBase(Algorithm* algorithm, StreamAlgorithmBase* streamAlgorithm);
    ~StreamControllerBase() override;

    std::string controllerName() const override { return "StreamControllerBase"; }
    std::vector<Algorithm::Action> actions() const override;
    bool runAction(const std::string& id) override;

    // The algorithm's current stream, or null.
    Stream* stream() const;

private:
    StreamAlgorithmBase* const streamAlgorithm_;
};

}  // namespace Corvexis
