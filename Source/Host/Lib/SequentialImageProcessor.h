#pragma once

#include <memory>
#include <optional>

#include "Host/Core/DataComponentList.h"

namespace Corvexis {

class SharedImage;

// The interface of host algorithms that can process a stream of images one at a time (the stream
// algorithm executor runs them on every frame). Threading: caller synchronises; an implementation is
// called from one thread at a time, not necessarily always the same.
class SequentialImageProcessor
{
public:
    // One processed image with its element-wise data components.
    struct Result
    {
        std::unique_ptr<SharedImage> image;
        DataComponentList components;
    };

    SequentialImageProcessor();
    virtual ~SequentialImageProcessor();

    // Processes `image` (with its components); empty when the image gives no result. Must not keep
    // references to its arguments after it returns.
    virtual std::optional<Result> processImage(const SharedImage& image, const DataComponentList& components) = 0;
};

}  // namespace Corvexis
