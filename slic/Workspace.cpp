#include "Workspace.h"

#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace Slic {
namespace {

// Each handle allocates its own block. When that memory is fresh from the system, the first touch
// of every 4 KiB page is a page fault, and on a virtual machine those faults can cost more than
// the segmentation's arithmetic. Large blocks therefore ask for transparent huge pages: a few
// faults instead of thousands.
constexpr size_t kHugePage = size_t(2) << 20;

} // namespace

TWorkspace::~TWorkspace()
{
    std::free(fData);
}

std::byte* TWorkspace::Reserve(size_t bytes)
{
    if (bytes <= fSize && fData)
        return fData;
    std::free(fData);
    fData = nullptr;
    fSize = 0;
    const bool huge = bytes >= kHugePage;
    const size_t alignment = huge ? kHugePage : alignof(std::max_align_t);
    const size_t rounded = (bytes + alignment - 1) / alignment * alignment;
    if (rounded < bytes)
        throw std::bad_alloc();
    auto* data = static_cast<std::byte*>(
        std::aligned_alloc(alignment, rounded == 0 ? alignment : rounded));
    if (!data)
        throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (huge)
        madvise(data, rounded, MADV_HUGEPAGE);  // only a hint: failure leaves ordinary pages
#endif
    fData = data;
    fSize = rounded;
    return fData;
}

} // namespace Slic
