#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Host/Core/Data.h"
#include "Host/Core/DataList.h"
#include "Host/Core/ImageDescriptor.h"
#include "Host/Lib/Algorithm.h"
#include "Host/Lib/SequentialImageProcessor.h"

namespace Corvexis {

class MemImage;
class SharedImageSet;

// Base of the host's image algorithms: an algorithm on one image set whose frames are processed one at
// a time (SequentialImageProcessor), so the same object serves compute() on a set and the stream
// algorithm executor on every frame of a live stream.
//
// Subclasses implement accepts() (which images they take, with the reason when not) and
// processAccepted(); processImage() checks acceptance, logs a refusal under the algorithm's name, and
// carries modality, matrix, the metric flag and the components over to the result.
//
// Threading: caller synchronises (as Algorithm and SequentialImageProcessor); parameters are
// thread-safe and may change between frames.
class ImageAlgorithm : public Algorithm, public SequentialImageProcessor
{
public:
    // `input` is borrowed and may be null (an algorithm only used on frames).
    ImageAlgorithm(std::string name, SharedImageSet* input);
    ~ImageAlgorithm() override;

    // Processes every frame of the input set into a new set (timestamps kept). Success when every frame
    // gave an image; InvalidInput (logged) without input, with an empty input or when a frame is refused.
    void compute() override;
    // The set made by the last compute, once.
    OwningDataList takeOutput() override;

    std::optional<Result> processImage(const SharedImage& image,
                                       const DataComponentList& components) override;

    // Whether the algorithm takes images of `descriptor`; when not, *why says so (when given).
    virtual bool accepts(const ImageDescriptor& descriptor, std::string* why = nullptr) const = 0;

    const std::string& name() const { return name_; }

    // Creator helper: exactly one input, an image set whose frames T accepts (an empty set is taken), or
    // no input at all (an algorithm for frames only); creates a T when `algorithm` is given.
    template <typename T>
    static bool createCompatibleFor(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm);

protected:
    // Processes an accepted image. Empty when there is no result (logged by the subclass). The result's
    // modality, matrix, metric flag and components are set by processImage afterwards.
    virtual std::unique_ptr<SharedImage> processAccepted(const SharedImage& image) = 0;

    // For accepts(): true when `accepted`; otherwise false, with `reason` in *why (when given).
    static bool acceptIf(bool accepted, const char* reason, std::string* why);

    // The modality of the result of `image`: the image's own by default.
    virtual Data::Modality resultModality(const SharedImage& image) const;

    // A result image over `pixels`, with spacing `spacing` (mm).
    static std::unique_ptr<SharedImage> wrap(std::unique_ptr<MemImage> pixels,
                                             const Eigen::Vector3d& spacing);

private:
    static bool acceptsSet(const SharedImageSet& set, const ImageAlgorithm* probe);
    static SharedImageSet* singleSet(const DataList& inputs);

    const std::string name_;
    SharedImageSet* input_ = nullptr;
    std::unique_ptr<SharedImageSet> output_;
};

template <typename T>
bool ImageAlgorithm::createCompatibleFor(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
{
    // No input at all: an algorithm for frames only (the executor's, or a host showing its parameters).
    SharedImageSet* set = singleSet(inputs);
    if (set == nullptr && !inputs.empty())
        return false;
    auto made = std::make_unique<T>(set);
    if (set != nullptr && !acceptsSet(*set, made.get()))
        return false;
    if (algorithm != nullptr)
        *algorithm = std::move(made);
    return true;
}

}  // namespace Corvexis
