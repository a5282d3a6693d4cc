#include "TIntImage.h"

#include <QImage>
#include <algorithm>
#include <cstring>
#include <numbers>

void TTransPars::SetAngle(double Value)
{
    const double rad = Value * std::numbers::pi / 180;
    cosa = std::cos(rad);
    sina = std::sin(rad);
    fAngle = Value;
}

void TTransPars::Init(double a, double sx, double sy, double scx, double scy, double C)
{
    SetAngle(a);
    Shiftx = sx;
    Shifty = sy;
    Scalex = scx;
    Scaley = scy;
    Coeff = C;
}

bool TTransPars::IsIdentity() const
{
    return fAngle == 0 && Shiftx == 0 && Shifty == 0 && Scalex == 1 && Scaley == 1;
}

TTransPars TTransPars::Identity()
{
    TTransPars p;
    p.Init(0, 0, 0, 1, 1, 1);
    return p;
}

void TIntImage::SetSize(int32_t aWidth, int32_t aHeight)
{
    fWidth = aWidth;
    fHeight = aHeight;
    originx = aWidth / 2.0;
    originy = aHeight / 2.0;
    img.resize(size_t(std::max(aWidth, 0)) * size_t(std::max(aHeight, 0)), 0);
}

void TIntImage::ConvertToIntensity()
{
    for (int32_t& p : img) {
        const int32_t r = (p >> 16) & 255, g = (p >> 8) & 255, b = p & 255;
        p = std::max({r, g, b});
    }
}

void TIntImage::Setbitmap(const QImage& b)
{
    SetSize(b.width(), b.height());
    for (int32_t r = 0; r < fHeight; ++r)
        std::memcpy(img.data() + size_t(r) * fWidth, b.constScanLine(r), size_t(fWidth) * 4);
}

void TIntImage::GetBitmap(QImage& b) const
{
    b = QImage(fWidth, fHeight, QImage::Format_RGB32);
    for (int32_t r = 0; r < fHeight; ++r) {
        auto* line = reinterpret_cast<uint32_t*>(b.scanLine(r));
        const int32_t* src = img.data() + size_t(r) * fWidth;
        // Qt wants the unused byte of an RGB32 pixel set; the colour bytes are copied unchanged.
        for (int32_t x = 0; x < fWidth; ++x)
            line[x] = uint32_t(src[x]) | 0xff000000u;
    }
}

TIntImage TIntImage::FitToRect(const TRect& Rect, double& Scale) const
{
    const int32_t rw = Rect.Width(), rh = Rect.Height();
    // A one-pixel axis has no span to divide: its factor is 0 rather than a division by zero.
    const double fx = rw > 1 ? double(fWidth - 1) / (rw - 1) : 0.0;
    const double fy = rh > 1 ? double(fHeight - 1) / (rh - 1) : 0.0;
    Scale = std::min(fx, fy);
    TIntImage result;
    result.SetSize(rw, rh);
    TIntVector cols(size_t(std::max(rw, 0)));
    for (int32_t c = 0; c < rw; ++c)
        cols[c] = RoundEven(c * Scale);
    for (int32_t r = 0; r < rh; ++r) {
        const int32_t* src = img.data() + size_t(RoundEven(r * Scale)) * fWidth;
        int32_t* dst = result.img.data() + size_t(r) * rw;
        for (int32_t c = 0; c < rw; ++c)
            dst[c] = src[cols[c]];
    }
    return result;
}

TIntImage TIntImage::CopyRect(const TRect& Rect) const
{
    TIntImage result;
    Transform(TTransPars::Identity(), result, Rect);
    return result;
}

void TIntImage::Transform(const TTransPars& pars, TIntVector& trans, const TRect& Rect) const
{
    const int32_t rw = Rect.Width(), rh = Rect.Height();
    if (rw <= 0 || rh <= 0 || trans.size() < size_t(rw) * size_t(rh))
        return;
    if (pars.IsIdentity()) {
        for (int32_t y = Rect.Top; y < Rect.Bottom; ++y)
            std::memcpy(trans.data() + size_t(y - Rect.Top) * rw,
                        img.data() + size_t(y) * fWidth + Rect.Left, size_t(rw) * 4);
        return;
    }
    std::fill(trans.begin(), trans.end(), 0);
    const double ox = originx, oy = originy;
    const double maxx = fWidth - 1, maxy = fHeight - 1;
    for (int32_t y = Rect.Top; y < Rect.Bottom; ++y) {
        const double v = (oy - y) * pars.Scaley + pars.Shifty;
        int32_t* dst = trans.data() + size_t(y - Rect.Top) * rw - Rect.Left;
        for (int32_t x = Rect.Left; x < Rect.Right; ++x) {
            const double u = (x - ox) * pars.Scalex + pars.Shiftx;
            const double sx = RoundEvenFast(u * pars.cosa + v * pars.sina + ox);
            const double sy = RoundEvenFast(oy - (v * pars.cosa - u * pars.sina));
            // Compared as reals so that far-away positions never overflow an integer.
            if (sx >= 0 && sx <= maxx && sy >= 0 && sy <= maxy)
                dst[x] = img[size_t(sx) + size_t(sy) * fWidth];
        }
    }
}

void TIntImage::Transform(const TTransPars& pars, TIntVector& trans) const
{
    Transform(pars, trans, TRect{0, 0, fWidth, fHeight});
}

void TIntImage::Transform(const TTransPars& pars, TIntImage& trans) const
{
    Transform(pars, trans, TRect{0, 0, fWidth, fHeight});
}

void TIntImage::Transform(const TTransPars& pars, TIntImage& trans, const TRect& Rect) const
{
    trans.img.clear();
    trans.SetSize(Rect.Width(), Rect.Height());
    Transform(pars, trans.img, Rect);
}
