// The tooth editor's interactive steps on a 1024 x 768 photograph segmented into 400 superpixels,
// driven through the widgets (run offscreen: QT_QPA_PLATFORM=offscreen):
// - PaintStep: one mouse move with the left button held into the next superpixel, then the event
//   loop's pass that reclassifies, redraws and saves, and the picture's repaint;
// - ThresholdStep: one step of the background-threshold slider (reclassify, redraw, save, repaint);
// - HoverStep: one mouse move without a button into another superpixel (highlight, "SP info",
//   repaint).
#include "DefaultIniFile.h"
#include "TImageView.h"
#include "TToothForm.h"
#include "ToothScene.h"

#include <QApplication>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

constexpr int32_t W = 1024, H = 768;

struct TBenchEditor {
    QTemporaryDir dir;
    std::unique_ptr<TTooth> tooth;
    std::unique_ptr<TToothForm> form;
    std::vector<QPoint> superpixels; // a pixel of every superpixel, in label order

    TBenchEditor()
    {
        const QString path = dir.filePath("P11000.bmp");
        QImage bitmap;
        TToothScene(W, H, 11).Render().GetBitmap(bitmap);
        bitmap.save(path, "BMP");
        tooth = std::make_unique<TTooth>(path, 11);
        tooth->DoSuperpixel(400, 20, 0.5, 0);
        form = std::make_unique<TToothForm>();
        form->ShowTooth(tooth.get());
        form->View()->SetZoom(1);
        superpixels.assign(size_t(tooth->numlabels), QPoint(-1, -1));
        for (int32_t i = 0; i < W * H; ++i) {
            QPoint& p = superpixels[size_t(tooth->labels[size_t(i)])];
            if (p.x() < 0)
                p = QPoint(i % W, i / W);
        }
        QCoreApplication::processEvents();
    }

    void Send(QEvent::Type type, QPoint pixel, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        QWidget* canvas = form->View()->Canvas();
        const QPoint at = form->View()->CanvasPos(pixel);
        QMouseEvent e(type, at, canvas->mapToGlobal(at), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(canvas, &e);
    }
    // The work one event-loop pass does after the input, and the picture on the screen.
    void Settle()
    {
        QCoreApplication::processEvents();
        form->View()->Canvas()->repaint();
    }
};

void BM_PaintStep(benchmark::State& state)
{
    TBenchEditor b;
    size_t next = 0;
    b.Send(QEvent::MouseButtonPress, b.superpixels[0], Qt::LeftButton, Qt::LeftButton);
    b.Settle();
    for (auto _ : state) {
        if (++next == b.superpixels.size()) {
            // Every superpixel has this class now: the next stroke paints the next class.
            state.PauseTiming();
            b.Send(QEvent::MouseButtonRelease, b.superpixels.back(), Qt::LeftButton, Qt::NoButton);
            b.form->findChild<QToolButton*>("Shape")->click();
            next = 0;
            b.Send(QEvent::MouseButtonPress, b.superpixels[0], Qt::LeftButton, Qt::LeftButton);
            b.Settle();
            state.ResumeTiming();
            continue;
        }
        b.Send(QEvent::MouseMove, b.superpixels[next], Qt::NoButton, Qt::LeftButton);
        b.Settle();
    }
    b.Send(QEvent::MouseButtonRelease, b.superpixels.back(), Qt::LeftButton, Qt::NoButton);
}
BENCHMARK(BM_PaintStep)->Unit(benchmark::kMillisecond);

void BM_ThresholdStep(benchmark::State& state)
{
    TBenchEditor b;
    auto* slider = b.form->findChild<QScrollBar*>("BGSlider");
    int position = 50;
    for (auto _ : state) {
        position = position == 49 ? 51 : 49;
        slider->setValue(position);
        b.Settle();
    }
}
BENCHMARK(BM_ThresholdStep)->Unit(benchmark::kMillisecond);

void BM_HoverStep(benchmark::State& state)
{
    TBenchEditor b;
    size_t next = 0;
    for (auto _ : state) {
        next = (next + 7) % b.superpixels.size();
        b.Send(QEvent::MouseMove, b.superpixels[next], Qt::NoButton, Qt::NoButton);
        b.Settle();
    }
}
BENCHMARK(BM_HoverStep)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir config;
    qputenv("APPDATA", config.path().toUtf8());
    QApplication app(argc, argv);
    OpenSettingsFile(config.path());
    LoadDefaultParams();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CloseSettingsFile();
    return 0;
}
