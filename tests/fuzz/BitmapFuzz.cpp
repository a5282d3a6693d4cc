// The bitmap loader: the input is a photograph file. A refusal (TOrvixError) is a sound answer;
// an accepted bitmap must come back as a 32-bit image the model can take.
#include "BitmapLoader.h"
#include "FuzzCommon.h"
#include "TIntImage.h"

#include <cstdio>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Fuzz::QuietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = Fuzz::PathOf("A11000.bmp");
    Fuzz::WriteFile(path, data, size);
    try {
        const QImage image = LoadBitmapFile(path);
        FUZZ_CHECK(!image.isNull() && image.format() == QImage::Format_RGB32);
        TIntImage raw;
        raw.Setbitmap(image);
        FUZZ_CHECK(raw.Width() == image.width() && raw.Height() == image.height());
    } catch (const TOrvixError&) {
    }
    return 0;
}
