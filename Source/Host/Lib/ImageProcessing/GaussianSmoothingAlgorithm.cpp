#include "Host/Lib/ImageProcessing/GaussianSmoothingAlgorithm.h"

#include <algorithm>
#include <cmath>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/GL/GlImage.h"
#include "Host/Lib/ImageProcessing/GaussianSmoothingGl.h"
#include "Host/Lib/ImageProcessing/PixelTypes.h"
#include "Host/Lib/SharedImage.h"

namespace Corvexis {

namespace {

constexpr double kMinSigma = 0.1;
constexpr double kMaxSigma = 64.0;

// Smooths slice by slice: a horizontal pass of each row into `rows` (accumulator type A), then a
// vertical pass over whole rows. Both inner loops run over the interleaved values of a row, so they
// vectorise, and every value is combined as acc = acc + w[k] * v for k = 0..2r in order.
template <typename T>
void smoothTyped(const MemImage& in, MemImage& out, const std::vector<double>& weightsD)
{
    using A = PixelTypes::Accumulator<T>;
    const ImageDescriptor& d = in.descriptor();
    const int w = d.width;
    const int h = d.height;
    const int c = d.channels;
    const int r = static_cast<int>(weightsD.size() / 2);
    const std::size_t rowValues = static_cast<std::size_t>(w) * c;
    const std::size_t sliceValues = rowValues * static_cast<std::size_t>(h);
    std::vector<A> weights(weightsD.begin(), weightsD.end());
    std::vector<A> padded((static_cast<std::size_t>(w) + 2 * r) * c);
    std::vector<A> rows(sliceValues);
    std::vector<A> acc(rowValues);

    for (int z = 0; z < d.slices; ++z) {
        const T* src = static_cast<const T*>(in.data()) + static_cast<std::size_t>(z) * sliceValues;
        T* dst = static_cast<T*>(out.data()) + static_cast<std::size_t>(z) * sliceValues;
        for (int y = 0; y < h; ++y) {
            const T* srow = src + static_cast<std::size_t>(y) * rowValues;
            for (int x = -r; x < w + r; ++x) {
                const T* p = srow + static_cast<std::size_t>(std::clamp(x, 0, w - 1)) * c;
                A* q = padded.data() + static_cast<std::size_t>(x + r) * c;
                for (int ch = 0; ch < c; ++ch)
                    q[ch] = static_cast<A>(p[ch]);
            }
            A* hrow = rows.data() + static_cast<std::size_t>(y) * rowValues;
            std::fill(hrow, hrow + rowValues, A(0));
            for (int k = 0; k <= 2 * r; ++k) {
                const A wk = weights[static_cast<std::size_t>(k)];
                const A* p = padded.data() + static_cast<std::size_t>(k) * c;
#pragma omp simd
                for (std::size_t i = 0; i < rowValues; ++i)
                    hrow[i] = hrow[i] + wk * p[i];
            }
        }
        for (int y = 0; y < h; ++y) {
            std::fill(acc.begin(), acc.end(), A(0));
            A* a = acc.data();
            for (int k = 0; k <= 2 * r; ++k) {
                const A wk = weights[static_cast<std::size_t>(k)];
                const A* p =
                    rows.data() + static_cast<std::size_t>(std::clamp(y + k - r, 0, h - 1)) * rowValues;
#pragma omp simd
                for (std::size_t i = 0; i < rowValues; ++i)
                    a[i] = a[i] + wk * p[i];
            }
            T* drow = dst + static_cast<std::size_t>(y) * rowValues;
            for (std::size_t i = 0; i < rowValues; ++i)
                drow[i] = PixelTypes::toPixel<T>(a[i]);
        }
    }
}

}  // namespace

GaussianSmoothingAlgorithm::GaussianSmoothingAlgorithm(SharedImageSet* input)
    : ImageAlgorithm("GaussianSmoothing", input)
{
    sigma.setLabel("Sigma (pixels)");
    sigma.setAttribute("min", "0.1");
    sigma.setAttribute("max", "64");
}

GaussianSmoothingAlgorithm::~GaussianSmoothingAlgorithm() = default;

bool GaussianSmoothingAlgorithm::accepts(const ImageDescriptor& descriptor, std::string* why) const
{
    return acceptIf(descriptor.isValid() && descriptor.channels >= 1 && descriptor.channels <= 4,
                    "needs a known pixel type and 1 to 4 channels", why);
}

std::vector<double> GaussianSmoothingAlgorithm::kernel(double s)
{
    const int r = std::max(1, static_cast<int>(std::ceil(3.0 * s)));
    std::vector<double> weights(static_cast<std::size_t>(2 * r + 1));
    double sum = 0.0;
    for (int k = -r; k <= r; ++k) {
        const double v = std::exp(-(static_cast<double>(k) * k) / (2.0 * s * s));
        weights[static_cast<std::size_t>(k + r)] = v;
        sum += v;
    }
    for (double& v : weights)
        v /= sum;
    return weights;
}

std::unique_ptr<MemImage> GaussianSmoothingAlgorithm::smoothMem(const MemImage& image,
                                                                const std::vector<double>& weights)
{
    auto out = MemImage::create(image.descriptor(), false);
    if (!out)
        return nullptr;
    PixelTypes::visit(
        image.pixelType(),
        [&](auto type) {
            smoothTyped<decltype(type)>(image, *out, weights);
            return true;
        },
        false);
    return out;
}

std::unique_ptr<SharedImage> GaussianSmoothingAlgorithm::processAccepted(const SharedImage& image)
{
    const double s = sigma.value();
    if (!(s >= kMinSigma && s <= kMaxSigma)) {
        Log::log(Log::Level::Error, name(), "Sigma must be 0.1 to 64 pixels, not " + std::to_string(s));
        return nullptr;
    }
    const std::vector<double> weights = kernel(s);
    const ImageDescriptor& d = image.descriptor();
    const bool onCardOnly =
        image.isUpToDate(Image::Location::OpenGL) && !image.isUpToDate(Image::Location::Memory);
    if (onCardOnly && GaussianSmoothingGl::supports(d)) {
        if (!gl_)
            gl_ = std::make_unique<GaussianSmoothingGl>();
        const GlImage* in = image.gl();
        if (in != nullptr) {
            if (auto out = gl_->smooth(*in, weights))
                return std::make_unique<SharedImage>(std::move(out));
        }
        Log::log(Log::Level::Warning, name(),
                 "Smoothing on the graphics card failed; smoothing in main memory");
    }
    const MemImage* in = image.mem();
    if (in == nullptr)
        return nullptr;
    return wrap(smoothMem(*in, weights), d.spacing);
}

}  // namespace Corvexis
