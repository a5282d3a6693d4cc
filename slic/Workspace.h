// Working memory of a segmentation: one block, reused while it is large enough.
#pragma once

#include <cstddef>

namespace Slic {

class TWorkspace {
public:
    TWorkspace() = default;
    TWorkspace(const TWorkspace&) = delete;
    TWorkspace& operator=(const TWorkspace&) = delete;
    ~TWorkspace();

    // Makes the block at least `bytes` long (contents undefined) and returns it, aligned for any
    // scalar type. Throws std::bad_alloc.
    std::byte* Reserve(size_t bytes);

private:
    std::byte* fData = nullptr;
    size_t fSize = 0;
};

} // namespace Slic
