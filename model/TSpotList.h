// Point lists and the extraction of 8-connected regions ("spots") from a per-pixel array.
#pragma once

#include "Types.h"

#include <memory>

// A growable list of pixel positions.
class TPointList {
public:
    int32_t ID = 0; // free for the caller

    void Add(TPoint p);
    void Add(int32_t x, int32_t y) { Add(TPoint{x, y}); }
    TPoint Getdata(int32_t i) const { return fList[size_t(i)]; }
    void Setdata(int32_t i, TPoint Value) { fList[size_t(i)] = Value; }
    int32_t Count() const { return int32_t(fList.size()); }
    // Keeps points below n; new entries are (0, 0).
    void SetCount(int32_t n) { fList.resize(size_t(n)); }

private:
    std::vector<TPoint> fList;
};

// Owns its point lists.
class TSpotList {
public:
    int32_t ItemIndex = 0; // free for the caller

    // Appends an empty point list and returns it (owned by this list).
    TPointList* Add();
    // The spot with the most points, the lowest index among equals; nullptr when none has points.
    TPointList* TheBiggestDot() const;
    TPointList* Getdata(int32_t i) const { return fList[size_t(i)].get(); }
    void Setdata(int32_t i, std::unique_ptr<TPointList> Value) { fList[size_t(i)] = std::move(Value); }
    int32_t Count() const { return int32_t(fList.size()); }
    // Releases spots from n on, or appends empty ones up to n.
    void SetCount(int32_t n);

private:
    std::vector<std::unique_ptr<TPointList>> fList;
};

// Fills list with the 8-connected regions of non-zero values of the w x h array img, in the raster
// order of their first pixel; each spot lists its pixels in depth-first fill order, seed first.
// img is consumed: every value is 0 on return (pass a copy to keep it).
void FindSpots(TIntVector& img, int32_t w, int32_t h, TSpotList& list);
