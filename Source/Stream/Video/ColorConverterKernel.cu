// NV12 -> RGBA into a GL texture, on the graphics card. Same formula and rounding as
// ColorConverter::convertPixel (single precision, same order of operations, no fused multiply-add,
// clamp, round to nearest).
#include <cstdint>
#include <cstdio>

#include <GL/gl.h>
#include <cuda_gl_interop.h>
#include <cuda_runtime.h>

#include "ColorConverterKernel.h"

namespace {

__device__ unsigned char toByte(float value)
{
    return static_cast<unsigned char>(fminf(fmaxf(value, 0.0f), 255.0f) + 0.5f);
}

}  // namespace

__global__ void colorNV12toRGBKernel(cudaSurfaceObject_t surface, const std::uint8_t* luma, const std::uint8_t* chroma,
                                     int width, int height, int lumaPitch, int chromaPitch, int rowBytes)
{
    const int x = blockIdx.x * blockDim.x + threadIdx.x;
    const int y = blockIdx.y * blockDim.y + threadIdx.y;
    if (x >= width || y >= height)
        return;
    (void)rowBytes;
    const float c = 1.164f * (static_cast<float>(luma[y * lumaPitch + x]) - 16.0f);
    const int cx = x & ~1;
    const float d = static_cast<float>(chroma[(y / 2) * chromaPitch + cx]) - 128.0f;
    const float e = static_cast<float>(chroma[(y / 2) * chromaPitch + cx + 1]) - 128.0f;
    const uchar4 rgba = make_uchar4(toByte(c + 1.596f * e), toByte(c + (-0.813f * e - 0.391f * d)),
                                    toByte(c + 2.018f * d), 255);
    surf2Dwrite(rgba, surface, x * 4, y);
}

extern "C" const char* corvexisNv12ToGlTexture(unsigned texture, const std::uint8_t* lumaDevice, int lumaPitch,
                                                const std::uint8_t* chromaDevice, int chromaPitch, int width,
                                                int height)
{
    static thread_local bool initialised = false;
    if (!initialised) {
        if (cudaFree(nullptr) != cudaSuccess)
            return "the CUDA runtime cannot be initialised";
        initialised = true;
    }
    cudaGraphicsResource_t resource = nullptr;
    if (cudaGraphicsGLRegisterImage(&resource, texture, GL_TEXTURE_2D, cudaGraphicsRegisterFlagsSurfaceLoadStore) !=
        cudaSuccess)
        return "the texture cannot be registered with CUDA";
    const char* error = nullptr;
    cudaSurfaceObject_t surface = 0;
    if (cudaGraphicsMapResources(1, &resource) != cudaSuccess) {
        error = "the texture cannot be mapped";
    } else {
        cudaArray_t array = nullptr;
        if (cudaGraphicsSubResourceGetMappedArray(&array, resource, 0, 0) != cudaSuccess) {
            error = "the texture's array cannot be had";
        } else {
            cudaResourceDesc desc{};
            desc.resType = cudaResourceTypeArray;
            desc.res.array.array = array;
            if (cudaCreateSurfaceObject(&surface, &desc) != cudaSuccess) {
                error = "no surface object for the texture";
            } else {
                const dim3 block(16, 16);
                const dim3 grid((width + 15) / 16, (height + 15) / 16);
                colorNV12toRGBKernel<<<grid, block>>>(surface, lumaDevice, chromaDevice, width, height, lumaPitch,
                                                      chromaPitch, width * 3);
                cudaError_t status = cudaGetLastError();
                if (status == cudaSuccess)
                    status = cudaDeviceSynchronize();
                if (status != cudaSuccess) {
                    static thread_local char text[256];
                    std::snprintf(text, sizeof(text), "CUDA ERROR: %s - file: %s:%d", cudaGetErrorString(status),
                                  __FILE__, __LINE__);
                    error = text;
                }
                cudaDestroySurfaceObject(surface);
            }
        }
        cudaGraphicsUnmapResources(1, &resource);
    }
    cudaGraphicsUnregisterResource(resource);
    return error;
}
