#include "Stream/Processing/AlgorithmExecutorStream.h"

#include "Host/Core/DataDeletionWatch.h"

namespace Corvexis {

AlgorithmExecutorStream::AlgorithmExecutorStream(bool topDown, Data::Kind kind, ImageStream* input)
    : ImageStream("Algorithm Executor Stream"), topDown_(topDown), input_(input)
{
    setKind(kind);
    if (input_ != nullptr) {
        inputWatch_ = std::make_unique<DataDeletionWatch>(*input_, [this] {
            std::lock_guard lock(inputMutex_);
            input_ = nullptr;
        });
    }
}

AlgorithmExecutorStream::~AlgorithmExecutorStream()
{
    inputWatch_.reset();
    close();
}

ImageStream* AlgorithmExecutorStream::inputStream() const
{
    std::lock_guard lock(inputMutex_);
    return input_;
}

bool AlgorithmExecutorStream::supportsPausing() const
{
    std::lock_guard lock(inputMutex_);
    return input_ != nullptr && input_->supportsPausing();
}

bool AlgorithmExecutorStream::startImpl()
{
    std::lock_guard lock(inputMutex_);
    return input_ == nullptr || input_->start();
}

bool AlgorithmExecutorStream::stopImpl()
{
    std::lock_guard lock(inputMutex_);
    return input_ == nullptr || input_->stop();
}

bool AlgorithmExecutorStream::pauseImpl()
{
    std::lock_guard lock(inputMutex_);
    return input_ != nullptr && input_->pause();
}

bool AlgorithmExecutorStream::resumeImpl()
{
    std::lock_guard lock(inputMutex_);
    return input_ != nullptr && input_->resume();
}

}  // namespace Corvexis
