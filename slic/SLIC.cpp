// The C interface: validation, handle checks and the wall that keeps exceptions inside.
#include "SLIC.h"

#include "Segmenter.h"

#include <cfenv>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

namespace {

// Marks a live object, so that a stale or foreign handle is refused instead of used. The magic
// is the first member and is read with memcpy, which is defined for any readable address.
constexpr uint64_t kAlive = 0x534c49434f525658ull;  // "SLICORVX"

struct TSlicObject {
    uint64_t Magic = kAlive;
    Slic::TSegmenter Segmenter;
};

TSlicObject* FromHandle(SLICHandle handle)
{
    if (handle == 0 || handle % intptr_t(alignof(TSlicObject)) != 0)
        return nullptr;
    uint64_t magic;
    std::memcpy(&magic, reinterpret_cast<const void*>(handle), sizeof magic);
    return magic == kAlive ? reinterpret_cast<TSlicObject*>(handle) : nullptr;
}

bool ValidInput(const uint32_t* pixels, int32_t width, int32_t height, const int32_t* labels,
                int32_t k, double compactness)
{
    return pixels && labels && width > 0 && height > 0 && k > 0 && std::isfinite(compactness) &&
           int64_t(width) * height <= std::numeric_limits<int32_t>::max();
}

} // namespace

extern "C" {

SLICHandle NewSLIC(void)
{
    try {
        return reinterpret_cast<SLICHandle>(new TSlicObject);
    } catch (...) {
        return 0;
    }
}

void DoSuperpixelSegmentation_ForGivenK(SLICHandle handle, const uint32_t* pixels, int32_t width,
                                        int32_t height, int32_t* labels, int32_t* numlabels,
                                        int32_t K, double compactness)
{
    // The caller may run with floating-point traps enabled (the program raises errors on division
    // by zero and invalid operations): compute with all traps masked and the default rounding,
    // which also keeps the labels independent of the caller's settings, then restore its state.
    std::fenv_t callerEnvironment;
    std::feholdexcept(&callerEnvironment);
    std::fesetround(FE_TONEAREST);
    int32_t count = 0;
    try {
        TSlicObject* object = FromHandle(handle);
        if (object && ValidInput(pixels, width, height, labels, K, compactness))
            count = object->Segmenter.Run(pixels, width, height, K, compactness, labels);
    } catch (...) {
        count = 0;
    }
    std::fesetenv(&callerEnvironment);
    if (numlabels)
        *numlabels = count;
}

void DeleteSLICHandle(SLICHandle handle)
{
    TSlicObject* object = FromHandle(handle);
    if (!object)
        return;
    object->Magic = 0;
    delete object;
}
}
