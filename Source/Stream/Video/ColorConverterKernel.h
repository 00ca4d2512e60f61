#pragma once

#include <cstdint>

// The entry into the CUDA part of the colour conversion (ColorConverterKernel.cu, compiled by nvcc only
// when a CUDA toolkit is found). Runs on the calling thread, which has a current GL context.
// Returns null on success, else a static text naming the failed step.
extern "C" const char* corvexisNv12ToGlTexture(unsigned texture, const std::uint8_t* lumaDevice,
                                               int lumaPitch, const std::uint8_t* chromaDevice,
                                               int chromaPitch, int width, int height);
