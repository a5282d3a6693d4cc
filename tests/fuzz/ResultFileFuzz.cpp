// The result file: the input is the .sp beside a small photograph, which is then created (loading
// it) and used as the program uses a loaded photograph: measurements, the inspection views, a
// reclassification with its save, and the restore of a stored alignment.
#include "FuzzCommon.h"
#include "TTooth.h"

#include <QImage>

#include <cstdio>
#include <memory>

namespace {

// Sizes the seed script writes its result files for.
constexpr int32_t Width = 8, Height = 6;

QString WritePhotograph(const QString& name, uint32_t seed)
{
    QImage im(Width, Height, QImage::Format_RGB32);
    for (int32_t y = 0; y < Height; ++y)
        for (int32_t x = 0; x < Width; ++x)
            im.setPixel(x, y, 0xff000000u | ((seed * uint32_t(x + 1) * 0x9E3779B1u + uint32_t(y) * 0x45D9F3Bu) & 0xFFFFFF));
    const QString path = Fuzz::PathOf(name);
    if (!im.save(path, "BMP"))
        abort();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Fuzz::QuietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString photo = WritePhotograph("A11001.bmp", 7);
    static const std::unique_ptr<TTooth> reference =
        std::make_unique<TTooth>(WritePhotograph("A11000.bmp", 3), 11);
    const QString sp = Fuzz::PathOf("A11001.sp");
    Fuzz::WriteFile(sp, data, size);
    try {
        TTooth t(photo, 11);
        for (int32_t i = -1; i <= 5; ++i)
            (void)t.GetParam(i);
        for (int32_t view = 0; view <= 5; ++view)
            t.DrawAll(view);
        t.DrawDirty();
        if (t.NelmDone)
            t.Superpose(false, {}, reference.get());
        if (t.Done()) {
            t.SetSP(0, kGreen);
            t.Appraise();
            t.SetMask(*reference);
            t.SetMask();
        }
    } catch (const TOrvixError&) {
        // A photograph the model refuses with its error is a sound answer.
    }
    return 0;
}
