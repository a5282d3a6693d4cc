// The SLIC C interface: the input gives the size (up to 64 x 64), K, the compactness and the pixels.
// Oracles: a valid call segments; labels run 0 .. count - 1 without gaps and each label is one
// 4-connected region; a count of 0 leaves the labels untouched.
#include "SLIC.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#define FUZZ_CHECK(condition)                                                                     \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            fprintf(stderr, "oracle failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);        \
            abort();                                                                              \
        }                                                                                         \
    } while (0)

namespace {

constexpr int32_t Untouched = -12345;

// Every label in 0 .. count - 1 is used by exactly one 4-connected region.
bool Partition(const std::vector<int32_t>& labels, int32_t width, int32_t height, int32_t count)
{
    const size_t n = labels.size();
    std::vector<char> seen(n, 0), used(size_t(count), 0);
    std::vector<size_t> stack;
    for (size_t start = 0; start < n; ++start) {
        if (seen[start])
            continue;
        const int32_t label = labels[start];
        if (label < 0 || label >= count || used[size_t(label)])
            return false;
        used[size_t(label)] = 1;
        seen[start] = 1;
        stack.assign(1, start);
        while (!stack.empty()) {
            const size_t i = stack.back();
            stack.pop_back();
            const size_t x = i % size_t(width), y = i / size_t(width);
            const size_t next[4] = {x > 0 ? i - 1 : i, x + 1 < size_t(width) ? i + 1 : i,
                                    y > 0 ? i - size_t(width) : i, y + 1 < size_t(height) ? i + size_t(width) : i};
            for (size_t j : next)
                if (!seen[j] && labels[j] == label) {
                    seen[j] = 1;
                    stack.push_back(j);
                }
        }
    }
    for (char u : used)
        if (!u)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 14)
        return 0;
    // Sizes 0 .. 64 (0 is bad input), K and compactness as any 32-bit and 64-bit pattern.
    const int32_t width = data[0] % 65, height = data[1] % 65;
    int32_t k;
    double compactness;
    std::memcpy(&k, data + 2, sizeof k);
    std::memcpy(&compactness, data + 6, sizeof compactness);
    data += 14;
    size -= 14;
    const size_t n = size_t(width) * size_t(height);
    // The pixels repeat the rest of the input (black when there is none).
    std::vector<uint32_t> pixels(n, 0);
    for (size_t i = 0; i < n && size >= 4; ++i)
        std::memcpy(&pixels[i], data + (4 * i) % (size - size % 4), 4);
    std::vector<int32_t> labels(n, Untouched);
    int32_t count = -1;
    const SLICHandle handle = NewSLIC();
    DoSuperpixelSegmentation_ForGivenK(handle, pixels.data(), width, height, labels.data(), &count, k, compactness);
    DeleteSLICHandle(handle);
    const bool valid = width > 0 && height > 0 && k > 0 && std::isfinite(compactness);
    FUZZ_CHECK(count >= 0);
    FUZZ_CHECK(!valid || count > 0);
    if (count == 0) {
        for (int32_t l : labels)
            FUZZ_CHECK(l == Untouched);
        return 0;
    }
    FUZZ_CHECK(count <= int32_t(n));
    FUZZ_CHECK(Partition(labels, width, height, count));
    return 0;
}
