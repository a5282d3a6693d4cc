#include "TSpotList.h"

#include <algorithm>

void TPointList::Add(TPoint p)
{
    // Grows by at least 100 entries, and geometrically: a tooth region holds hundreds of thousands
    // of points, and steps of 100 alone would copy the list quadratically often.
    if (fList.size() == fList.capacity())
        fList.reserve(std::max<size_t>(fList.capacity() + 100, fList.capacity() * 2));
    fList.push_back(p);
}

TPointList* TSpotList::Add()
{
    if (fList.size() == fList.capacity())
        fList.reserve(fList.capacity() + 10);
    fList.push_back(std::make_unique<TPointList>());
    return fList.back().get();
}

TPointList* TSpotList::TheBiggestDot() const
{
    TPointList* best = nullptr;
    int32_t bestCount = 0;
    for (const auto& spot : fList)
        if (spot->Count() > bestCount) {
            best = spot.get();
            bestCount = spot->Count();
        }
    return best;
}

void TSpotList::SetCount(int32_t n)
{
    const size_t old = fList.size();
    fList.resize(size_t(std::max(n, 0)));
    for (size_t i = old; i < fList.size(); ++i)
        fList[i] = std::make_unique<TPointList>();
}

namespace {

// A pixel on the fill stack with the position of its suspended neighbour scan. The scan runs over
// the 3 x 3 block column by column (cx outer, cy inner); k is the next position in that order and
// valid marks the positions inside the image.
struct TFillEntry {
    int32_t x, y;
    uint16_t valid;
    uint8_t k;
};

uint16_t ValidNeighbours(int32_t x, int32_t y, int32_t w, int32_t h)
{
    uint16_t valid = 0;
    for (int k = 0; k < 9; ++k) {
        const int32_t cx = x + k / 3 - 1, cy = y + k % 3 - 1;
        if (cx >= 0 && cx < w && cy >= 0 && cy < h)
            valid |= uint16_t(1u << k);
    }
    return valid;
}

} // namespace

void FindSpots(TIntVector& img, int32_t w, int32_t h, TSpotList& list)
{
    list.SetCount(0);
    if (w <= 0 || h <= 0)
        return;
    const ptrdiff_t W = w;
    const ptrdiff_t offsets[9] = {-W - 1, -1, W - 1, -W, 0, W, -W + 1, 1, W + 1};
    // Every pixel is pushed at most once (it is zeroed when visited), so one reservation suffices.
    std::vector<TFillEntry> stack;
    stack.reserve(size_t(w) * size_t(h));
    auto visit = [&](TPointList* spot, int32_t x, int32_t y) {
        spot->Add(x, y);
        img[size_t(x) + size_t(y) * w] = 0;
        const bool interior = x > 0 && y > 0 && x < w - 1 && y < h - 1;
        stack.push_back({x, y, interior ? uint16_t(0x1FF) : ValidNeighbours(x, y, w, h), 0});
    };
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            if (img[size_t(x) + size_t(y) * w] == 0)
                continue;
            TPointList* spot = list.Add();
            visit(spot, x, y);
            while (!stack.empty()) {
                TFillEntry& top = stack.back();
                const int32_t* centre = img.data() + top.x + ptrdiff_t(top.y) * W;
                while (top.k < 9 && !((top.valid >> top.k) & 1 && centre[offsets[top.k]] != 0))
                    ++top.k;
                if (top.k == 9) {
                    stack.pop_back();
                    continue;
                }
                // Resume this scan at the next position once the neighbour's fill is done.
                const int k = top.k++;
                visit(spot, top.x + k / 3 - 1, top.y + k % 3 - 1);
            }
        }
}
