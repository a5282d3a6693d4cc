#include "TSpotList.h"

#include <algorithm>

void TPointList::Add(TPoint p)
{
    if (fList.size() == fList.capacity())
        fList.reserve(fList.capacity() + 100);
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

// A pixel on the fill stack with the position of its suspended neighbour scan.
struct TFillEntry {
    int32_t x, y, cx, cy;
};

} // namespace

void FindSpots(TIntVector& img, int32_t w, int32_t h, TSpotList& list)
{
    list.SetCount(0);
    if (w <= 0 || h <= 0)
        return;
    // Every pixel is pushed at most once (it is zeroed when visited), so one reservation suffices.
    std::vector<TFillEntry> stack;
    stack.reserve(size_t(w) * size_t(h));
    auto visit = [&](TPointList* spot, int32_t x, int32_t y) {
        spot->Add(x, y);
        img[size_t(x) + size_t(y) * w] = 0;
        stack.push_back({x, y, std::max(x - 1, 0), std::max(y - 1, 0)});
    };
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            if (img[size_t(x) + size_t(y) * w] == 0)
                continue;
            TPointList* spot = list.Add();
            visit(spot, x, y);
            while (!stack.empty()) {
                TFillEntry& top = stack.back();
                const int32_t lastx = std::min(w - 1, top.x + 1), lasty = std::min(h - 1, top.y + 1);
                bool pushed = false;
                for (; top.cx <= lastx && !pushed; ) {
                    for (; top.cy <= lasty; ++top.cy)
                        if (img[size_t(top.cx) + size_t(top.cy) * w] != 0) {
                            const int32_t nx = top.cx, ny = top.cy++;
                            visit(spot, nx, ny); // may reallocate nothing: capacity is reserved
                            pushed = true;
                            break;
                        }
                    if (!pushed) {
                        ++top.cx;
                        top.cy = std::max(top.y - 1, 0);
                    }
                }
                if (!pushed)
                    stack.pop_back();
            }
        }
}
