#pragma once

#include <memory>

#include "Host/Core/SignalReceiver.h"
#include "Host/Lib/Algorithm.h"

namespace Corvexis {

class ImageStream;
class SpacingAttachedImageStream;

// Creates a SpacingAttachedImageStream on an image stream at construction and hands it to the host as
// its output. Threading: caller synchronises (the host's thread).
class ImageStreamSpacingAttacher : public Algorithm, public SignalReceiver
{
public:
    // `input` is borrowed and may be null (compute then fails).
    explicit ImageStreamSpacingAttacher(ImageStream* input);
    ~ImageStreamSpacingAttacher() override;

    // Exactly one input, an image stream.
    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm);

    // Error status 3 with "Input stream is not available" without input; success otherwise.
    void compute() override;
    // The adapted stream, once.
    OwningDataList takeOutput() override;

    // The adapted stream's parameters ("spacing", "flipX", ...), so that they can be given with the
    // algorithm; they reach the stream while this algorithm still owns it.
    void configure(const Properties* properties) override;
    void configuration(Properties* properties) const override;
    void describeSettings(Properties* schema) const override;

    // The adapted stream while this algorithm owns it, else null.
    SpacingAttachedImageStream* adaptedStream() const { return output_.get(); }

private:
    ImageStream* input_ = nullptr;
    std::unique_ptr<SpacingAttachedImageStream> output_;
};

}  // namespace Corvexis
