// The system's only image type, and the parameters of a geometric transform.
#pragma once

#include "Types.h"

class QImage;

// Eight reals in this order; the result file stores them as they stand.
struct TTransPars {
    double cosa = 1, sina = 0, fAngle = 0, Shiftx = 0, Shifty = 0, Scalex = 1, Scaley = 1, Coeff = 1;

    // Angle in degrees; keeps cosa and sina in step.
    void SetAngle(double Value);
    double Angle() const { return fAngle; }
    void Init(double a, double sx, double sy, double scx, double scy, double C);
    // P[0] = fAngle .. P[4] = Scaley, P[5] = Coeff.
    double* P() { return &fAngle; }
    const double* P() const { return &fAngle; }
    // The identity test of Transform: angle, shifts and scales compared exactly.
    bool IsIdentity() const;
    static TTransPars Identity();
};
static_assert(sizeof(TTransPars) == 8 * sizeof(double));
using PTransPars = TTransPars*;

// width x height 32-bit values, row by row from the top; pixel (x, y) at img[x + y * Width()].
// Colour pixels are 0x??RRGGBB (the upper byte is ignored by every colour operation).
// A value type: copying copies the pixels.
class TIntImage {
public:
    TIntVector img;

    int32_t Width() const { return fWidth; }
    int32_t Height() const { return fHeight; }
    int64_t Size() const { return int64_t(fWidth) * fHeight; }
    double OriginX() const { return originx; }
    double OriginY() const { return originy; }

    int32_t& Pixels(int32_t x, int32_t y) { return img[size_t(x) + size_t(y) * fWidth]; }
    int32_t Pixels(int32_t x, int32_t y) const { return img[size_t(x) + size_t(y) * fWidth]; }

    // Sets the size, puts the origin at the centre, keeps leading values and zero-fills new ones.
    void SetSize(int32_t aWidth, int32_t aHeight);
    void Assign(const TIntImage& im) { *this = im; }

    // Every pixel becomes max(red, green, blue).
    void ConvertToIntensity();
    // From/to a QImage in Format_RGB32 (the bitmap of the original design).
    void Setbitmap(const QImage& b);
    void GetBitmap(QImage& b) const;

    // A new Rect.Width() x Rect.Height() image sampled by nearest neighbour; Scale receives the
    // sampling factor. A one-pixel-wide or -high rectangle uses factor 0 on that axis.
    TIntImage FitToRect(const TRect& Rect, double& Scale) const;
    TIntImage CopyRect(const TRect& Rect) const;

    // Nearest-neighbour resampling through pars. The core form writes the part of the output plane
    // covered by Rect into trans (which must hold at least Rect's pixel count, else nothing happens);
    // it allocates nothing. Source and destination must not share storage.
    void Transform(const TTransPars& pars, TIntVector& trans, const TRect& Rect) const;
    void Transform(const TTransPars& pars, TIntVector& trans) const;
    void Transform(const TTransPars& pars, TIntImage& trans) const;
    void Transform(const TTransPars& pars, TIntImage& trans, const TRect& Rect) const;

private:
    int32_t fWidth = 0;
    int32_t fHeight = 0;
    double originx = 0;
    double originy = 0;
};

// The largest rectangle of aspect ratio w : h centred in R (R itself when any side is 0). The
// factor is held as a 32-bit float and the sizes rounded half to even, so a 480 x 640 image in a
// 128 x 96 cell becomes 72 x 96.
TRect ProportionalRect(const TRect& R, int32_t w, int32_t h);
