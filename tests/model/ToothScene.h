// A synthetic tooth photograph drawn from a smooth scene: a dark shaded background, a dim band of
// gum, a bright green rounded tooth with shading and red patches, and a few darker pits. The same
// scene can be photographed displaced, so that aligning the second photograph recovers a known
// transform.
#pragma once

#include "TIntImage.h"

#include <algorithm>
#include <cmath>
#include <random>

class TToothScene {
public:
    TToothScene(int32_t Width, int32_t Height, uint32_t Seed) : fWidth(Width), fHeight(Height)
    {
        std::mt19937 random(Seed);
        std::uniform_real_distribution<double> pos(-0.6, 0.6), size(0.025, 0.05);
        for (int k = 0; k < 4; ++k)
            fPatches.push_back({pos(random) * 0.2, pos(random) * 0.3, size(random)});
        for (int k = 0; k < 6; ++k)
            fPits.push_back({pos(random) * 0.25, pos(random) * 0.35, size(random) * 0.4});
    }

    // The reference photograph.
    TIntImage Render() const { return Render(TTransPars::Identity(), 1); }

    // The photograph that, resampled through pars (TIntImage::Transform), shows the reference
    // again; its colours are the reference's times brightness.
    TIntImage Render(const TTransPars& pars, double brightness) const
    {
        TIntImage im;
        im.SetSize(fWidth, fHeight);
        const double ox = im.OriginX(), oy = im.OriginY();
        for (int32_t y = 0; y < fHeight; ++y)
            for (int32_t x = 0; x < fWidth; ++x) {
                // Transform takes the output offset p (y up), scales and shifts it and rotates it by
                // -angle onto the source: undo those steps for the source pixel (x, y).
                const double qu = x - ox, qv = oy - y;
                const double u = qu * pars.cosa - qv * pars.sina, v = qu * pars.sina + qv * pars.cosa;
                const double px = (u - pars.Shiftx) / pars.Scalex, py = (v - pars.Shifty) / pars.Scaley;
                im.Pixels(x, y) = Colour(px + ox, oy - py, brightness);
            }
        return im;
    }

private:
    struct TDisc {
        double X, Y, R; // centre and radius relative to the photograph's width and height
    };

    // Opacity of a soft-edged region, from a signed distance in pixels (negative inside).
    static double Inside(double distance) { return std::clamp(0.5 - distance / 1.5, 0.0, 1.0); }

    static void Blend(double (&c)[3], double r, double g, double b, double alpha)
    {
        c[0] += (r - c[0]) * alpha;
        c[1] += (g - c[1]) * alpha;
        c[2] += (b - c[2]) * alpha;
    }

    // Signed distance in pixels from the disc's rim.
    double Distance(double nx, double ny, const TDisc& d) const
    {
        const double dx = nx - d.X, dy = (ny - d.Y) * fHeight / fWidth;
        return (std::sqrt(dx * dx + dy * dy) - d.R) * fWidth;
    }

    int32_t Colour(double x, double y, double brightness) const
    {
        const double nx = x / fWidth - 0.5, ny = y / fHeight - 0.5;
        const double grey = 14 + 12 * nx;
        double c[3] = {grey, grey, grey + 4};
        // Gum: a tilted band below the tooth.
        const double band = (std::abs(ny - 0.3 - 0.1 * nx) - 0.08) * fHeight;
        Blend(c, 75, 38, 52, Inside(band));
        // Tooth: a superellipse, brighter towards its upper left.
        const double ex = (nx + 0.02) / 0.22, ey = (ny + 0.05) / 0.3;
        const double rho = std::sqrt(std::sqrt(ex * ex * ex * ex + ey * ey * ey * ey));
        const double shade = std::clamp(0.5 - 0.8 * nx - 0.6 * ny, 0.0, 1.0);
        Blend(c, 45, 140 + 75 * shade, 35, Inside((rho - 1) * 0.22 * fWidth));
        for (const TDisc& d : fPatches)
            Blend(c, 205, 70, 40, Inside(Distance(nx, ny, d)));
        for (const TDisc& d : fPits)
            Blend(c, 25, 60, 30, Inside(Distance(nx, ny, d)));
        int32_t pixel = 0;
        for (double v : c)
            pixel = (pixel << 8) | std::clamp(int32_t(v * brightness + 0.5), 0, 255);
        return pixel;
    }

    int32_t fWidth, fHeight;
    std::vector<TDisc> fPatches, fPits;
};
