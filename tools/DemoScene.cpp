#include "DemoScene.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>

namespace {

constexpr double Pi = 3.14159265358979323846;

// Uniform reals straight from the mt19937 sequence: std::uniform_real_distribution may differ
// between standard libraries, the generator's sequence may not.
class TRandom {
public:
    explicit TRandom(uint32_t seed) : fGen(seed) {}
    double Uniform(double a, double b) { return a + (b - a) * (double(fGen()) / 4294967296.0); }
    double Sign() { return (fGen() & 1) ? 1.0 : -1.0; }

private:
    std::mt19937 fGen;
};

// A seed of plaque: a Gaussian bump of the plaque field.
struct TBlob {
    double X = 0, Y = 0, Radius = 0;
};

// One tooth in the reference frame, in pixels, origin at the image centre, y down. The crown rises
// from below the gum line, which cuts it; plaque is where the field of the blobs exceeds 1.
struct TToothScene {
    double HalfWidth = 0;  // of the crown at its base
    double Height = 0;     // of the crown from its base to its tip
    double Base = 0;       // y of the crown's base (hidden by the gum)
    double Taper = 0;      // the tip is narrower by this share
    double Exponent = 2;   // roundness of the tip: 2 an ellipse, larger squarer
    double GumLine = 0;    // mean y of the gum line
    double GumWave = 0;    // amplitude of its wave
    double GumPhase = 0;
    double GumBand = 0;    // height of the visible gum
    double Unit = 1;       // the image height: lengths of the scene scale with it
    std::vector<TBlob> Blobs;
};

enum class TPaint { Background, Gum, Enamel, Plaque };

struct TColour {
    double R = 0, G = 0, B = 0;
};

// Fluorescence colours. Gum and background stay far below half the crown's brightness, and
// plaque and enamel differ in red and green by more than 100 levels, so the default thresholds
// separate them with room to spare even for superpixels that straddle an edge.
constexpr TColour BackgroundColour{10, 12, 16};
constexpr TColour GumColour{52, 26, 30};
constexpr TColour EnamelColour{48, 196, 84};
constexpr TColour PlaqueColour{214, 92, 46};

void AddBlobs(TRandom& rnd, TToothScene& s)
{
    const double u = s.Unit;
    // Plaque gathers at the gum margin ...
    const int32_t margin = 2 + int32_t(rnd.Uniform(0, 2.999));
    for (int32_t i = 0; i < margin; ++i)
        s.Blobs.push_back({rnd.Uniform(-0.75, 0.75) * s.HalfWidth, s.GumLine - rnd.Uniform(0.0, 0.15) * s.Height,
                           rnd.Uniform(0.055, 0.09) * u});
    // ... between neighbouring teeth ...
    const double side = rnd.Sign();
    s.Blobs.push_back({side * 0.8 * s.HalfWidth, s.GumLine - rnd.Uniform(0.2, 0.5) * s.Height,
                       rnd.Uniform(0.05, 0.08) * u});
    // ... and now and then on the face of the crown.
    s.Blobs.push_back({rnd.Uniform(-0.4, 0.4) * s.HalfWidth, s.GumLine - rnd.Uniform(0.45, 0.75) * s.Height,
                       rnd.Uniform(0.045, 0.07) * u});
}

TToothScene MakeToothScene(const TDemoOptions& o, int32_t toothIndex)
{
    TRandom rnd(o.Seed * 2654435761u + uint32_t(toothIndex) * 40503u + 1u);
    TToothScene s;
    const double u = s.Unit = o.Height;
    s.HalfWidth = rnd.Uniform(0.26, 0.32) * u;
    s.Height = rnd.Uniform(0.50, 0.58) * u;
    s.Taper = rnd.Uniform(0.15, 0.35);
    s.Exponent = rnd.Uniform(2.0, 3.0);
    s.GumLine = rnd.Uniform(0.20, 0.24) * u;
    s.GumWave = rnd.Uniform(0.01, 0.025) * u;
    s.GumPhase = rnd.Uniform(0, 2 * Pi);
    s.GumBand = rnd.Uniform(0.14, 0.20) * u;
    s.Base = s.GumLine + 0.03 * u; // below the lowest point of the gum line
    AddBlobs(rnd, s);
    return s;
}

// Plaque grows from the first examination to the last.
double Growth(const TDemoOptions& o, int32_t timePoint)
{
    return o.TimePoints > 1 ? 0.9 + 0.5 * timePoint / (o.TimePoints - 1) : 1.0;
}

double GumAt(const TToothScene& s, double x)
{
    return s.GumLine + s.GumWave * std::sin(2 * Pi * x / (0.9 * s.Unit) + s.GumPhase);
}

// Half the crown's width at relative height h (0 base, 1 tip); negative outside the crown.
double CrownHalfWidth(const TToothScene& s, double h)
{
    if (h < 0 || h > 1)
        return -1;
    return s.HalfWidth * (1 - s.Taper * h) * std::pow(1 - std::pow(h, s.Exponent), 1 / s.Exponent);
}

bool IsPlaque(const TToothScene& s, double growth, double x, double y)
{
    double field = 0;
    for (const TBlob& b : s.Blobs) {
        const double r = b.Radius * growth;
        field += 2 * std::exp(-((x - b.X) * (x - b.X) + (y - b.Y) * (y - b.Y)) / (r * r));
    }
    return field > 1;
}

TPaint Paint(const TToothScene& s, double growth, double x, double y)
{
    const double gum = GumAt(s, x);
    if (y >= gum)
        return y < gum + s.GumBand ? TPaint::Gum : TPaint::Background;
    if (std::abs(x) > CrownHalfWidth(s, (s.Base - y) / s.Height))
        return TPaint::Background;
    return IsPlaque(s, growth, x, y) ? TPaint::Plaque : TPaint::Enamel;
}

TColour Shade(TColour c, double f)
{
    return {c.R * f, c.G * f, c.B * f};
}

// The light falls off gently towards the crown's sides and tip, and the gum darkens downwards.
TColour ColourOf(const TToothScene& s, TPaint paint, double x, double y)
{
    switch (paint) {
    case TPaint::Background:
        return BackgroundColour;
    case TPaint::Gum:
        return Shade(GumColour, 1 - 0.3 * (y - GumAt(s, x)) / s.GumBand);
    default: {
        const double across = x / s.HalfWidth, up = (s.Base - y) / s.Height;
        const double f = 1 - 0.12 * across * across - 0.05 * up;
        return Shade(paint == TPaint::Plaque ? PlaqueColour : EnamelColour, f);
    }
    }
}

uint32_t Hash(uint32_t seed, int32_t x, int32_t y, int32_t channel)
{
    uint32_t h = seed ^ (uint32_t(x) * 73856093u) ^ (uint32_t(y) * 19349663u) ^ (uint32_t(channel) * 83492791u);
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return h;
}

// Sensor noise, the same on every run: by default +-3 levels, else Gaussian of standard deviation
// sigma (Box-Muller on two hashed uniforms).
double Noise(uint32_t seed, int32_t x, int32_t y, int32_t channel, double sigma)
{
    if (sigma < 0)
        return double(Hash(seed, x, y, channel) % 7) - 3;
    if (sigma == 0)
        return 0;
    const double u1 = (double(Hash(seed, x, y, channel + 3)) + 1) / 4294967297.0;
    const double u2 = double(Hash(seed ^ 0x9e3779b9u, x, y, channel)) / 4294967296.0;
    return sigma * std::sqrt(-2 * std::log(u1)) * std::cos(2 * Pi * u2);
}

int32_t Level(double v)
{
    return std::clamp(int32_t(std::nearbyint(v)), 0, 255);
}

// Whether the visible crown of tooth toothIndex, displaced as Photo says, keeps margin pixels
// from every edge of the frame: its outline above the gum line, sampled densely.
bool CrownInFrame(const TDemoOptions& o, const TDemoPhoto& photo, double margin)
{
    const TToothScene s = MakeToothScene(o, photo.ToothIndex);
    const double c = std::cos(photo.Angle * Pi / 180), sn = std::sin(photo.Angle * Pi / 180);
    constexpr int32_t Samples = 1000;
    for (int32_t k = 0; k <= Samples; ++k) {
        const double h = double(k) / Samples, y = s.Base - h * s.Height;
        for (const double side : {-1.0, 1.0}) {
            const double x = side * CrownHalfWidth(s, h);
            if (y >= GumAt(s, x))
                continue;
            // Scene to photograph pixel: the inverse of the mapping in RenderDemoPhoto.
            const double px = photo.Scale * (x * c - y * sn) + photo.Shiftx + o.Width / 2.0 - 0.5;
            const double py = photo.Scale * (x * sn + y * c) + photo.Shifty + o.Height / 2.0 - 0.5;
            if (px < margin || py < margin || px > o.Width - 1 - margin || py > o.Height - 1 - margin)
                return false;
        }
    }
    return true;
}

// Draws the displacement of a later photograph. The default limits never push the crown out of
// the frame, so the default study draws exactly the numbers it always drew.
void Displace(const TDemoOptions& o, TRandom& rnd, TDemoPhoto& p)
{
    for (int32_t attempt = 0;; ++attempt) {
        p.Angle = rnd.Sign() * rnd.Uniform(0.3 * o.MaxAngle, o.MaxAngle);
        const double direction = rnd.Uniform(0, 2 * Pi);
        const double length = rnd.Uniform(0.0025 * o.MaxShift, 0.01 * o.MaxShift) * o.Width;
        p.Shiftx = length * std::cos(direction);
        p.Shifty = length * std::sin(direction);
        p.Gain = rnd.Uniform(0.85, 1.15);
        if (o.MaxScale > 0)
            p.Scale = 1 + rnd.Uniform(-o.MaxScale, o.MaxScale) / 100;
        if (attempt >= 20)
            p.Shiftx = p.Shifty = 0;
        if (attempt >= 20 || CrownInFrame(o, p, 3))
            return;
    }
}

} // namespace

std::vector<int32_t> DemoToothNumbers(int32_t Teeth)
{
    std::vector<int32_t> numbers;
    for (int32_t k = 0; k < Teeth; ++k)
        numbers.push_back(10 * (k % 4 + 1) + k / 4 + 1);
    return numbers;
}

std::vector<TDemoPhoto> PlanDemoStudy(const TDemoOptions& Options)
{
    TRandom rnd(Options.Seed);
    const std::vector<int32_t> numbers = DemoToothNumbers(Options.Teeth);
    const int32_t firstHalf = (Options.TimePoints + 1) / 2;
    std::vector<TDemoPhoto> photos;
    for (int32_t k = 0; k < Options.Teeth; ++k)
        for (int32_t t = 0; t < Options.TimePoints; ++t) {
            TDemoPhoto p;
            p.ToothIndex = k;
            p.Tooth = numbers[size_t(k)];
            p.TimePoint = t;
            p.File = QString("visit%1/P%2%3.bmp")
                         .arg(t < firstHalf ? 1 : 2)
                         .arg(p.Tooth, 2, 10, QChar('0'))
                         .arg(t, 3, 10, QChar('0'));
            if (t > 0)
                Displace(Options, rnd, p);
            photos.push_back(p);
        }
    return photos;
}

QImage RenderDemoPhoto(const TDemoOptions& Options, TDemoPhoto& Photo)
{
    const TToothScene s = MakeToothScene(Options, Photo.ToothIndex);
    const double growth = Growth(Options, Photo.TimePoint);
    const int32_t w = Options.Width, h = Options.Height;
    const double c = std::cos(Photo.Angle * Pi / 180), sn = std::sin(Photo.Angle * Pi / 180);
    const uint32_t noiseSeed = Options.Seed + uint32_t(Photo.Tooth) * 1000u + uint32_t(Photo.TimePoint);
    QImage im(w, h, QImage::Format_RGB32);
    int64_t plaque = 0, enamel = 0;
    for (int32_t y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(im.scanLine(y));
        for (int32_t x = 0; x < w; ++x) {
            // Back from the photograph to the reference frame: undo the shift, the rotation, the zoom.
            const double dx = x + 0.5 - w / 2.0 - Photo.Shiftx, dy = y + 0.5 - h / 2.0 - Photo.Shifty;
            const double sx = (dx * c + dy * sn) / Photo.Scale, sy = (-dx * sn + dy * c) / Photo.Scale;
            const TPaint paint = Paint(s, growth, sx, sy);
            if (paint == TPaint::Plaque || paint == TPaint::Enamel) {
                (paint == TPaint::Plaque ? plaque : enamel) += 1;
                if (x == 0 || y == 0 || x == w - 1 || y == h - 1)
                    throw std::runtime_error("the tooth leaves the frame: choose a wider image");
            }
            const TColour col = ColourOf(s, paint, sx, sy);
            line[x] = qRgb(Level(col.R * Photo.Gain + Noise(noiseSeed, x, y, 0, Options.Noise)),
                           Level(col.G * Photo.Gain + Noise(noiseSeed, x, y, 1, Options.Noise)),
                           Level(col.B * Photo.Gain + Noise(noiseSeed, x, y, 2, Options.Noise)));
        }
    }
    const double pixels = double(w) * double(h);
    Photo.RedArea = 100.0 * double(plaque) / pixels;
    Photo.GreenArea = 100.0 * double(enamel) / pixels;
    return im;
}

TDemoTransform DemoTransform(const TDemoPhoto& Photo)
{
    // A photograph pixel p (offset from the image centre, pixel centres at +0.5, y down) shows the
    // reference's pixel p' with p = Scale R^-1 p' + shift. Transform measures offsets from the
    // centre without the half pixel and its shifts with y up, rotated into the output frame.
    const double c = std::cos(Photo.Angle * Pi / 180), sn = std::sin(Photo.Angle * Pi / 180);
    const double tx = Photo.Scale * 0.5 * (c - sn) + Photo.Shiftx - 0.5;
    const double ty = Photo.Scale * 0.5 * (sn + c) + Photo.Shifty - 0.5;
    return {Photo.Angle, tx * c + ty * sn, tx * sn - ty * c, Photo.Scale};
}
