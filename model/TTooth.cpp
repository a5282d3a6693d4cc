// Construction, the result file's name and the display images.
#include "TTooth.h"

#include "BitmapLoader.h"

#include <QFileInfo>

TTooth::TTooth(const QString& aFname, int32_t aID) : ID(aID), fname(aFname)
{
    const QImage bitmap = LoadBitmapFile(fname);
    TransPars = TTransPars::Identity();
    NELMPars = TransPars;
    Raw.Setbitmap(bitmap);
    if (LoadStat()) {
        DrawDirty();
    } else {
        Image = Raw;
        Contour = Image;
    }
}

QString TTooth::StatFileName() const
{
    const QFileInfo info(fname);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf('.');
    const QString base = dot >= 0 ? name.left(dot) : name;
    const QString dir = fname.left(fname.size() - name.size());
    return dir + base + ".sp";
}

namespace {

// Differing, not yet painted neighbours of pixel i, clipped to the image.
int CountBorderNeighbours(const TIntVector& labels, const std::vector<uint8_t>& taken, int32_t x,
                          int32_t y, int32_t width, int32_t height)
{
    const size_t i = size_t(x) + size_t(y) * width;
    int np = 0;
    for (int32_t ny = std::max(y - 1, 0); ny <= std::min(y + 1, height - 1); ++ny)
        for (int32_t nx = std::max(x - 1, 0); nx <= std::min(x + 1, width - 1); ++nx) {
            const size_t j = size_t(nx) + size_t(ny) * width;
            np += (j != i && !taken[j] && labels[j] != labels[i]);
        }
    return np;
}

} // namespace

void MarkContours(TIntVector& pixels, const TIntVector& labels, int32_t width, int32_t height,
                  int32_t colour)
{
    std::vector<uint8_t> taken(size_t(width) * size_t(height), 0);
    const ptrdiff_t w = width;
    const ptrdiff_t offsets[8] = {-w - 1, -w, -w + 1, -1, 1, w - 1, w, w + 1};
    for (int32_t y = 0; y < height; ++y) {
        const bool innerRow = y > 0 && y < height - 1;
        for (int32_t x = 0; x < width; ++x) {
            const size_t i = size_t(x) + size_t(y) * width;
            int np;
            if (innerRow && x > 0 && x < width - 1) {
                // Interior pixels need no clipping; most of them lie inside one region.
                const int32_t own = labels[i];
                np = 0;
                for (ptrdiff_t o : offsets)
                    np += labels[i + o] != own && !taken[i + o];
            } else {
                np = CountBorderNeighbours(labels, taken, x, y, width, height);
            }
            if (np > 1) {
                pixels[i] = colour;
                taken[i] = 1;
            }
        }
    }
}

void TTooth::DrawDirty()
{
    TIntImage contour = Image;
    if (!Dirty.empty())
        MarkContours(contour.img, Dirty, contour.Width(), contour.Height(), 0xFFFFFF);
    if (!Mask.empty())
        MarkContours(contour.img, Mask, contour.Width(), contour.Height(), 0xFF00FF);
    Contour = std::move(contour);
}

void TTooth::DrawAll(int32_t What)
{
    TIntImage contour = Image;
    if (!labels.empty()) {
        for (size_t i = 0; i < contour.img.size(); ++i) {
            int32_t& p = contour.img[i];
            const TSuperPixel& s = SPList[size_t(labels[i])];
            switch (What) {
            case 0:
                if (Dirty[i] == kBackground)
                    p = 0x000000;
                else if (Dirty[i] == kGreen)
                    p = 0x008000;
                else if (Dirty[i] == kRed)
                    p = 0xFF0000;
                break;
            case 1: p = s.Intensity() * 0x010101; break;
            case 2: p = s.Red << 16; break;
            case 3: p = s.Green << 8; break;
            case 4: p = s.Blue; break;
            default: break;
            }
        }
        MarkContours(contour.img, labels, contour.Width(), contour.Height(), 0xFFFFFF);
    }
    Contour = std::move(contour);
}

QImage TTooth::Thumbnail(int32_t MaxSide) const
{
    if (Contour.Width() <= 0 || Contour.Height() <= 0)
        return {};
    QImage full;
    Contour.GetBitmap(full);
    if (std::max(full.width(), full.height()) <= MaxSide)
        return full;
    return full.scaled(MaxSide, MaxSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}
