#include "Memory.h"

#include <mutex>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void KeepFreedMemory()
{
#if defined(__GLIBC__)
    static std::once_flag once;
    std::call_once(once, [] {
        mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024); // the largest glibc accepts
        mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
    });
#endif
}
