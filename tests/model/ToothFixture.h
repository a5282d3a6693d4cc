// Photographs written to a temporary folder, with segmentations set directly.
#pragma once

#include "TTooth.h"

#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

class ToothFixture : public testing::Test {
protected:
    QTemporaryDir Dir;

    QString Path(const QString& name) const { return Dir.filePath(name); }

    // Writes a 24-bit bitmap whose pixel i has colour colours[i] (0xRRGGBB).
    QString WriteBitmap(const QString& name, int32_t w, int32_t h, const TIntVector& colours)
    {
        QImage im(w, h, QImage::Format_RGB32);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                im.setPixel(x, y, 0xff000000u | uint32_t(colours[size_t(x + y * w)]));
        const QString path = Path(name);
        EXPECT_TRUE(im.save(path, "BMP"));
        return path;
    }

    // A photograph whose pixels take the colour of their label, segmented as labels say (not saved).
    std::unique_ptr<TTooth> Segmented(int32_t w, int32_t h, const TIntVector& labels,
                                      const TIntVector& labelColours, const QString& name = "A11000.bmp")
    {
        TIntVector colours(labels.size());
        for (size_t i = 0; i < labels.size(); ++i)
            colours[i] = labelColours[size_t(labels[i])];
        auto tooth = std::make_unique<TTooth>(WriteBitmap(name, w, h, colours), 11);
        tooth->labels = labels;
        tooth->numlabels = int32_t(labelColours.size());
        tooth->SPnumber = tooth->numlabels;
        tooth->Compactness = 20;
        tooth->BuildSuperPixelTable();
        tooth->Dirty.resize(labels.size());
        tooth->BGThreshold = 0.5;
        tooth->RGThreshold = 0;
        return tooth;
    }

    // Labels by column bands: columns [bounds[k], bounds[k+1]) carry label k.
    static TIntVector Columns(int32_t w, int32_t h, const std::vector<int32_t>& bounds)
    {
        TIntVector labels(size_t(w * h));
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                int32_t k = 0;
                while (k + 1 < int32_t(bounds.size()) - 1 && x >= bounds[size_t(k + 1)])
                    ++k;
                labels[size_t(x + y * w)] = k;
            }
        return labels;
    }
};
